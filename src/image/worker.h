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
#include <vector>

#include "image/messages.h"
#include "platform/platform.h"

namespace quenthar::image {

struct WorkerLimits {
  unsigned time_limit_s = 600;            // of waiting for the messages of one step
  unsigned image_time_limit_s = 3600;     // of waiting for all the workers of one image
  std::uint64_t memory_limit_mib = 1024;  // address space beyond what it starts with
  bool sandbox = true;
};

/// How a worker ended.
enum class WorkerEnd {
  kFinished,        // it sent its last message and exited 0
  kCrashed,         // on a signal: `code`
  kException,       // on Windows, of an exception: `code`
  kExited,          // with a status other than 0: `code`
  kTimedOut,        // it was still at work when its time was up, and was killed
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

/// What a worker does: list the image's volumes and search them all, or
/// search the volumes at `offsets` only (what is left after a failed worker).
struct WorkerJob {
  std::string image;  // its path: the argument's bytes on Linux, UTF-8 on Windows
  bool list = true;
  std::vector<std::uint64_t> offsets;
  std::intptr_t device = 0;  // in the worker, a device opened for it (Windows), or 0
};

/// The job's side: sends one message whole, or ends the worker when the
/// output process is gone.
class WorkerChannel {
 public:
  explicit WorkerChannel(std::intptr_t handle) : handle_(handle) {}
  void Send(MessageWriter& message) const;

 private:
  std::intptr_t handle_;  // a descriptor, or a handle on Windows
};

/// What the output process makes of one message: more to come, a step done
/// (the time limit counts afresh from here), the last, or nonsense.
enum class Verdict { kMore, kStep, kLast, kBroken };

/// Whether `path` can be searched here: a file or a device that opens for
/// reading (a FIFO, a folder or a missing file cannot); a disk on Windows
/// may need an administrator.
enum class Access { kSearchable, kUnopenable, kNeedsAdministrator };
Access CheckImage(const std::string& path);

/// A device the output process opened for the worker (on Windows, where a
/// worker at low integrity cannot): its size and sector size, and reads of
/// any bytes of it. False where there is none, or it fails.
bool DeviceGeometry(std::intptr_t device, std::uint64_t& size, unsigned& sector_size);
bool ReadDevice(std::intptr_t device, std::uint64_t offset, std::uint8_t* into, std::size_t n);

/// Time spent waiting for workers.
using Duration = std::chrono::steady_clock::duration;

/// Runs `job` in a worker under `limits` and hands each message it sends to
/// on_message in order; on_message says when a step is done, when the last
/// message has come, or that one does not hold together, which ends the
/// worker. The time spent waiting for it is taken from `image_left` too; a
/// worker still at work when that is used up is ended. Returns once the
/// worker is gone.
WorkerOutcome RunWorker(const WorkerLimits& limits, const WorkerJob& job, Duration& image_left,
                        const std::function<Verdict(const Message&)>& on_message);

/// Where a worker is a program of its own (Windows): runs the worker when the
/// command line is a worker's, and returns its exit status; nullopt for any
/// other command line, and always on Linux, where workers are forked.
std::optional<int> WorkerMain(int argc, const platform::ArgChar* const* argv);

/// The messages of a worker as they arrive: takes its bytes in any pieces,
/// cuts them into messages and hands them on; a sandbox that cannot be set
/// up is the worker's own first and only message.
class MessageStream {
 public:
  explicit MessageStream(const std::function<Verdict(const Message&)>& on_message)
      : on_message_(on_message) {}

  /// Takes bytes; false once they do not hold together.
  bool Take(const std::uint8_t* bytes, std::size_t n, bool& step);

  /// How a worker that exited 0 ended: finished, refused the sandbox, or
  /// stopped short.
  [[nodiscard]] WorkerOutcome CleanEnd() const;

 private:
  const std::function<Verdict(const Message&)>& on_message_;
  FrameBuffer frames_;
  bool first_ = true;
  bool last_ = false;
  bool broken_ = false;
  std::optional<std::string> refused_;
};

}  // namespace quenthar::image
