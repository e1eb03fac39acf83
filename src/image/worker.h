// A worker: a process of its own that runs one job on image bytes and sends
// what it finds as messages. The process that writes the output only reads
// them, so that nothing a library does there can reach the output or the
// run: a crash, a stall or nonsense ends that worker, and the run goes on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/messages.h"

namespace quenthar::image {

struct WorkerLimits {
  unsigned time_limit_s = 600;            // of waiting for the messages of one step
  std::uint64_t memory_limit_mib = 1024;  // address space beyond what it starts with
  bool sandbox = true;
};

/// How a worker ended.
enum class WorkerEnd {
  kFinished,        // it sent its last message and exited 0
  kCrashed,         // on a signal: `code`
  kExited,          // with a status other than 0: `code`
  kTimedOut,        // it was still at work when its time was up, and was killed
  kSandboxStop,     // the system-call filter killed it
  kSandboxRefused,  // the sandbox cannot be set up here: `text` says why
  kIncoherent,      // it sent what does not hold together, or stopped short
};

struct WorkerOutcome {
  WorkerEnd end = WorkerEnd::kFinished;
  int code = 0;
  std::string text;
};

/// The job's side: sends one message whole, or ends the worker when the
/// output process is gone.
class WorkerChannel {
 public:
  explicit WorkerChannel(int fd) : fd_(fd) {}
  void Send(MessageWriter& message) const;

 private:
  int fd_;
};

/// What the output process makes of one message: more to come, a step done
/// (the time limit counts afresh from here), the last, or nonsense.
enum class Verdict { kMore, kStep, kLast, kBroken };

/// Runs job(channel) in a worker under `limits`, reading only `readable`
/// (files, and folders with all under them), and hands each message it sends
/// to on_message in order; on_message says when a step is done, when the
/// last message has come, or that one does not hold together, which ends
/// the worker. Returns once the worker is gone.
WorkerOutcome RunWorker(const WorkerLimits& limits, const std::vector<std::string>& readable,
                        const std::function<void(WorkerChannel&)>& job,
                        const std::function<Verdict(const Message&)>& on_message);

}  // namespace quenthar::image
