#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string_view>
#include <thread>

#include "image/containment/channel.h"
#include "image/containment/image_files.h"
#include "image/containment/sandbox.h"
#include "image/containment/worker.h"
#include "image/search/worker_search.h"

namespace quenthar::image {
namespace {

using Clock = std::chrono::steady_clock;

// The channel's number in the worker; 0 to 2 lead nowhere.
constexpr int kChannelFd = 3;

// Every descriptor from `first` on is closed.
void CloseFrom(int first) {
  if (syscall(SYS_close_range, first, ~0U, 0) == 0) return;
  for (int fd = first; fd < 1024; ++fd) close(fd);
}

// The address space the process holds now, in bytes; 0 when it cannot tell.
std::uint64_t AddressSpace() {
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return 0;
  char line[256];
  unsigned long long kib = 0;
  constexpr std::string_view kKey = "VmSize:";
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::string_view(line).starts_with(kKey)) {
      kib = std::strtoull(line + kKey.size(), nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return static_cast<std::uint64_t>(kib) * 1024;
}

// What a worker may read: the files the image is made of, or the device;
// and the backing files the output process found beside it.
std::vector<std::string> Readable(const JobMessage& job) {
  struct stat st {};
  if (stat(job.image.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return {job.image};
  std::vector<std::string> files = ImageFiles(job.image);
  const std::size_t slash = job.image.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : job.image.substr(0, slash + 1);
  for (const std::string& name : job.backing_files) files.push_back(folder + name);
  return files;
}

// Sends why the worker cannot open its image, when it cannot: the output
// process could, so it is the worker's rights that differ.
bool CannotOpen(const JobMessage& job, const WorkerChannel& out) {
  const int fd = open(job.image.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return false;
  }
  out.Send(ImageNotOpenedMessage{NotOpened::kCannotOpen, std::strerror(errno)});
  return true;
}

// The worker's life after fork: it never returns.
[[noreturn]] void BeWorker(const SearchOptions& limits, const JobMessage& job, int channel,
                           pid_t parent) {
  // Dies with the output process, even one gone before this line.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(1);
  // A crash ends the worker on its signal, which the output process reports;
  // a handler inherited (the sanitizers') would make it an exit status.
  for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGPIPE})
    std::signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  // Only the channel stays open; standard input and output lead nowhere
  // (standard error stays for the sanitizers' reports in that build).
  // The channel moves out of the way first: /dev/null may open as any of
  // the numbers below it, the channel's own included.
  const int moved = fcntl(channel, F_DUPFD, 16);
  const int null = open("/dev/null", O_RDWR);
  if (moved < 0 || null < 0) _exit(1);
  dup2(null, STDIN_FILENO);
  dup2(null, STDOUT_FILENO);
#if !QUENTHAR_SANITIZED
  dup2(null, STDERR_FILENO);
#endif
  if (dup2(moved, kChannelFd) < 0) _exit(1);
  CloseFrom(kChannelFd + 1);
  WorkerChannel out(kChannelFd);

  // File systems keep local times, which the library converts with the C
  // library's time zone: without TZ, each conversion looks at
  // /etc/localtime again (three times per FAT file). No time of theirs is
  // reported, so any fixed zone does.
  setenv("TZ", "UTC0", 1);
  tzset();

  // Of the secrets the output process holds, only the job's stay.
  SecretBytes::WipeAllBut([&job](const SecretBytes* s) {
    return std::any_of(job.secrets.begin(), job.secrets.end(),
                       [s](const Secret& kept) { return &kept.value == s; });
  });

  // The limit counts from what the worker holds now, the program included.
  const std::uint64_t limit = AddressSpace() + (limits.memory_limit_mib << 20);
  const rlimit as{limit, limit};
  setrlimit(RLIMIT_AS, &as);
  // No core file, and no other process of the user's may trace it.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  prctl(PR_SET_DUMPABLE, 0);
  if (limits.sandbox) {
    if (const auto refused = EnterSandbox({kChannelFd, Readable(job)})) {
      out.Send(SandboxRefusedMessage{FitText(*refused, kMaxProblem)});
      _exit(0);
    }
  }
  if (!(job.list && CannotOpen(job, out))) RunJob(job, out, nullptr);
  _exit(0);
}

// Reaps the worker, waiting no longer than `left`; false when it is still there.
bool Reap(pid_t pid, int& status, Clock::duration left) {
  const auto deadline = Clock::now() + left;
  auto pause = std::chrono::microseconds(100);
  for (;;) {
    const pid_t got = waitpid(pid, &status, WNOHANG);
    if (got == pid || (got < 0 && errno != EINTR)) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(10000));
  }
}

void Kill(pid_t pid) {
  kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

Access CheckImage(const std::string& path) {
  // The library would wait forever on a FIFO without a writer.
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
    return Access::kUnopenable;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Access::kUnopenable;
  close(fd);
  return Access::kSearchable;
}

// Workers are forked here: no command line is a worker's.
std::optional<int> RunAsWorker(int /*argc*/, const platform::ArgChar* const* /*argv*/) {
  return std::nullopt;
}

void WorkerChannel::SendFrame(const std::vector<std::uint8_t>& frame) const {
  const auto fd = static_cast<int>(handle_);
  for (std::size_t at = 0; at < frame.size();) {
    const ssize_t n = write(fd, frame.data() + at, frame.size() - at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) _exit(1);  // the output process is gone
    at += static_cast<std::size_t>(n);
  }
}

WorkerOutcome RunWorker(const SearchOptions& limits, const JobMessage& job, Duration& image_left,
                        const OnMessage& on_message) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return {WorkerEnd::kExited, -1, {}};
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid < 0) {
    close(ends[0]);
    close(ends[1]);
    return {WorkerEnd::kExited, -1, {}};
  }
  if (pid == 0) {
    close(ends[0]);
    BeWorker(limits, job, ends[1], parent);
  }
  close(ends[1]);
  const int fd = ends[0];
  MessageStream stream(on_message);
  const std::optional<Duration> left = ReadMessages(
      stream, std::chrono::seconds(limits.time_limit_s), image_left,
      [fd](std::uint8_t* into, std::size_t n, Duration wait) -> long {
        pollfd p{fd, POLLIN, 0};
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        const int ready = poll(&p, 1, static_cast<int>(std::min<long long>(ms, INT_MAX)));
        if (ready <= 0) return -1;  // in time, or interrupted: the time left decides
        const ssize_t got = read(fd, into, n);
        if (got < 0 && errno == EINTR) return -1;
        return got < 0 ? 0 : got;
      });
  close(fd);

  int status = 0;
  if (!left) {
    Kill(pid);
    return {WorkerEnd::kIncoherent, 0, {}};
  }
  const auto reaping = Clock::now();
  const bool reaped = Reap(pid, status, std::max(std::min(*left, image_left), Duration::zero()));
  image_left -= Clock::now() - reaping;
  if (!reaped) {
    Kill(pid);
    return {OutOfTime(*left, image_left), 0, {}};
  }
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return {
        limits.sandbox && sig == SIGSYS ? WorkerEnd::kSandboxStop : WorkerEnd::kCrashed, sig, {}};
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
    return {WorkerEnd::kExited, WEXITSTATUS(status), {}};
  }
  return stream.CleanEnd();
}

}  // namespace quenthar::image
