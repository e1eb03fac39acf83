#include "image/worker.h"

namespace quenthar::image {

bool MessageStream::Take(const std::uint8_t* bytes, std::size_t n, bool& step) {
  frames_.Append(bytes, n);
  while (!broken_) {
    const std::optional<Message> m = frames_.Next(broken_);
    if (!m) break;
    if (last_) {
      broken_ = true;  // nothing comes after the last message
    } else if (first_ && m->kind == MessageKind::kSandboxRefused) {
      MessageReader r(m->body, m->size);
      std::string why;
      broken_ = !r.Text(why, kMaxProblem) || !r.Done();
      refused_ = std::move(why);
      last_ = true;
    } else {
      const Verdict v = on_message_(*m);
      broken_ = v == Verdict::kBroken;
      last_ = v == Verdict::kLast;
      step = step || v == Verdict::kStep;
    }
    first_ = false;
  }
  return !broken_;
}

WorkerOutcome MessageStream::CleanEnd() const {
  if (!last_ || !frames_.Empty()) return {WorkerEnd::kIncoherent, 0, {}};
  if (refused_) return {WorkerEnd::kSandboxRefused, 0, *refused_};
  return {};
}

}  // namespace quenthar::image
