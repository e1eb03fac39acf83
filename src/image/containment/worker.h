// A worker: a process of its own that runs one job on image bytes and sends
// what it finds as messages. The process that writes the output only reads
// them, so that nothing a library does there can reach the output or the
// run: a crash, a stall or nonsense ends that worker, and the run goes on.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "image/containment/messages.h"
#include "image/options.h"
#include "platform/platform.h"

namespace quenthar::image {

/// How a worker ended.
enum class WorkerEnd {
  kFinished,        // it sent its last message and exited 0
  kCrashed,         // on a signal: `code`
  kException,       // on Windows, of an exception: `code`
  kExited,          // with a status other than 0: `code`
  kTimedOut,        // it was still at work when its step's time was up, and was killed
  kImageTimedOut,   // the same, when the time for its whole image was up
  kSandboxStop,     // the system-call filter killed it
  kSandboxRefused,  // the sandbox cannot be set up here: `text` says why
  kIncoherent,      // it sent what does not hold together, or stopped short
};

struct WorkerOutcome {
  WorkerEnd end = WorkerEnd::kFinished;
  int code = 0;
  std::string text;
};

/// What the output process makes of one message: more to come, a step done
/// (the time limit counts afresh from here), the last, or nonsense.
enum class Verdict { kMore, kStep, kLast, kBroken };

using OnMessage = std::function<Verdict(const Message&)>;

/// Whether `path` can be searched here: a file or a device that opens for
/// reading (a FIFO, a folder or a missing file cannot); a disk on Windows
/// may need an administrator.
enum class Access { kSearchable, kUnopenable, kNeedsAdministrator };
Access CheckImage(const std::string& path);

/// Time spent waiting for workers.
using Duration = std::chrono::steady_clock::duration;

/// Runs `job` in a worker under `limits` and hands each message it sends to
/// on_message in order; on_message says when a step is done, when the last
/// message has come, or that one does not hold together, which ends the
/// worker. The time spent waiting for it is taken from `image_left` too; a
/// worker still at work when that is used up is ended. Returns once the
/// worker is gone.
WorkerOutcome RunWorker(const SearchOptions& limits, const JobMessage& job, Duration& image_left,
                        const OnMessage& on_message);

/// Where a worker is a program of its own (Windows), runs it when the
/// command line is a worker's and returns its exit status; nullopt for any
/// other command line, and always where workers are forked.
std::optional<int> RunAsWorker(int argc, const platform::ArgChar* const* argv);

/// The messages of a worker as they arrive: takes its bytes in any pieces,
/// cuts them into messages and hands them on; a sandbox that cannot be set
/// up is the worker's own first and only message.
class MessageStream {
 public:
  explicit MessageStream(const OnMessage& on_message) : on_message_(on_message) {}

  /// Takes bytes; false once they do not hold together. Sets `step` when a
  /// step was done.
  bool Take(const std::uint8_t* bytes, std::size_t n, bool& step);

  /// How a worker that exited 0 ended: finished, refused the sandbox, or
  /// stopped short.
  [[nodiscard]] WorkerOutcome CleanEnd() const;

 private:
  const OnMessage& on_message_;
  FrameBuffer frames_;
  bool first_ = true;
  bool last_ = false;
  bool broken_ = false;
  std::optional<std::string> refused_;
};

/// Reads a worker's messages into `stream` until the worker's end of the
/// channel closes, they do not hold together, or its time is up.
/// `read_some(into, n, wait)` waits at most `wait` for bytes and returns how
/// many came, 0 at the channel's end, or -1 when none came in time. Only the
/// time spent waiting counts, against `step` (afresh after each step) and
/// against `image_left`, which it uses up. Returns the step's time left, or
/// nullopt when the messages did not hold together.
using ReadSome = std::function<long(std::uint8_t* into, std::size_t n, Duration wait)>;
std::optional<Duration> ReadMessages(MessageStream& stream, Duration step, Duration& image_left,
                                     const ReadSome& read_some);

/// How a worker still at work when its reading ended ran out of time.
inline WorkerEnd OutOfTime(Duration step_left, Duration image_left) {
  return image_left <= Duration::zero() && step_left > Duration::zero() ? WorkerEnd::kImageTimedOut
                                                                        : WorkerEnd::kTimedOut;
}

}  // namespace quenthar::image
