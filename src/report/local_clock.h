// The zone of the clocks that keep local time (the firmware clock a LogInit
// reads, FAT's file times), where the command line names one: the records
// write such times with their UTC offset then, and without one otherwise.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "log/image_records.h"
#include "log/payloads.h"
#include "time/clock_zone.h"

namespace quenthar {

class LocalClock {
 public:
  LocalClock() = default;  // its zone not known
  LocalClock(ClockZone zone, std::string name) : zone_(std::move(zone)), name_(std::move(name)) {}

  [[nodiscard]] bool Known() const { return zone_.has_value(); }
  /// The zone as the command line named it.
  [[nodiscard]] const std::string& Name() const { return name_; }

  /// The UTC offset of a LogInit's date and time; nullopt where the zone is
  /// not known or the fields are no real date and time. The entries of a
  /// boot share its date and time: the last answer is kept.
  std::optional<std::int32_t> OffsetOf(const InitPayload& local);

  /// A moment as the records write it: a local time of a zone not known
  /// gains its offset where this zone is known.
  Moment Resolve(const Moment& moment) const;

 private:
  std::optional<ClockZone> zone_;
  std::string name_;
  std::optional<InitPayload> last_;
  std::optional<std::int32_t> last_offset_;
};

}  // namespace quenthar
