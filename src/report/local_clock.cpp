#include "report/local_clock.h"

namespace quenthar {

std::optional<std::int32_t> LocalClock::OffsetOf(const InitPayload& local) {
  if (!zone_) return std::nullopt;
  if (last_ && last_->date_time == local.date_time) return last_offset_;
  const auto& v = local.date_time;
  last_ = local;
  last_offset_ = OffsetOfLocal(*zone_, v[0], v[1], v[2], v[3], v[4], v[5]);
  return last_offset_;
}

Moment LocalClock::Resolve(const Moment& moment) const {
  if (!zone_ || moment.zone != Moment::Zone::kUnknown) return moment;
  const CivilTime c = CivilOfSeconds(moment.reading);
  if (c.year < 1 || c.year > 9999) return moment;
  const std::optional<std::int32_t> offset =
      OffsetOfLocal(*zone_, static_cast<int>(c.year), c.month, c.day, c.hour, c.minute, c.second);
  if (!offset) return moment;
  return {moment.reading, Moment::Zone::kOffset, *offset};
}

}  // namespace quenthar
