#include <algorithm>

#include "image/containment/worker.h"

namespace quenthar::image {

bool MessageStream::Take(const std::uint8_t* bytes, std::size_t n, bool& step) {
  frames_.Append(bytes, n);
  while (!broken_) {
    const std::optional<Message> m = frames_.Next(broken_);
    if (!m) break;
    if (last_) {
      broken_ = true;  // nothing comes after the last message
    } else if (first_ && m->kind == MessageKind::kSandboxRefused) {
      const std::optional<SandboxRefusedMessage> refused = DecodeAs<SandboxRefusedMessage>(*m);
      broken_ = !refused;
      if (refused) refused_ = refused->why;
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

std::optional<Duration> ReadMessages(MessageStream& stream, Duration step, Duration& image_left,
                                     const ReadSome& read_some) {
  using Clock = std::chrono::steady_clock;
  Duration left = step;
  std::vector<std::uint8_t> chunk(1 << 16);
  while (left > Duration::zero() && image_left > Duration::zero()) {
    const auto start = Clock::now();
    const long n = read_some(chunk.data(), chunk.size(), std::min(left, image_left));
    const Duration waited = Clock::now() - start;
    left -= waited;
    image_left -= waited;
    if (n == 0) break;    // the worker closed its end: it is done, or gone
    if (n < 0) continue;  // nothing yet: the time left decides
    bool stepped = false;
    if (!stream.Take(chunk.data(), static_cast<std::size_t>(n), stepped)) return std::nullopt;
    if (stepped) left = step;
  }
  return left;
}

}  // namespace quenthar::image
