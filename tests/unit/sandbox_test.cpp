#include "image/containment/sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

namespace quenthar::image {
namespace {

constexpr int kDone = 7;     // what the attempt exits with when it gets through
constexpr int kRefused = 9;  // when the system call fails without a kill
constexpr int kNoSandbox = 3;

struct Attempt {
  const char* name;
  std::function<bool(int channel, const std::string& outside)> call;  // true: it worked
  bool killed;  // SIGSYS, or else refused with an error
};

// Runs `attempt` in a child under the policy, and returns its wait status.
int UnderPolicy(const Attempt& attempt, const std::string& inside, const std::string& outside) {
  int channel[2];
  EXPECT_EQ(pipe(channel), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(channel[0]);
    if (EnterSandbox({channel[1], {inside}})) _exit(kNoSandbox);
    _exit(attempt.call(channel[1], outside) ? kDone : kRefused);
  }
  close(channel[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  close(channel[0]);
  return status;
}

TEST(Sandbox, KillsWhatReadingAnImageNeverDoesAndRefusesWriting) {
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("sandbox_test_" + std::to_string(getpid()));
  const std::filesystem::path inside = base / "images";
  std::filesystem::create_directories(inside);
  const std::string image = (inside / "disk.img").string();
  const std::string outside = (base / "elsewhere.txt").string();
  for (const std::string& file : {image, outside}) {
    std::FILE* f = std::fopen(file.c_str(), "w");
    std::fputs("bytes", f);
    std::fclose(f);
  }
  const long landlock = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U);

  const Attempt attempts[] = {
      {"a socket", [](int, const std::string&) { return socket(AF_INET, SOCK_STREAM, 0) >= 0; },
       true},
      {"execve",
       [](int, const std::string&) {
         char* const argv[] = {const_cast<char*>("/bin/true"), nullptr};
         execve("/bin/true", argv, nullptr);
         return false;
       },
       true},
      {"a write to another descriptor",
       [](int, const std::string&) { return write(STDOUT_FILENO, "x", 1) == 1; }, true},
      {"an open for writing",
       [&image](int, const std::string&) {
         return open(image.c_str(), O_WRONLY) >= 0 || errno != EACCES;
       },
       false},
      {"a file created",
       [&inside](int, const std::string&) {
         return open((inside / "new").c_str(), O_RDONLY | O_CREAT, 0600) >= 0;
       },
       false},
  };
  for (const Attempt& attempt : attempts) {
    const int status = UnderPolicy(attempt, image, outside);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoSandbox) {
      GTEST_SKIP() << "no system-call filter here";
    }
    if (attempt.killed) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) << attempt.name;
    } else {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kRefused) << attempt.name;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(inside / "new"));

  // What it needs still works: reading the image, writing its results; and
  // where the kernel has Landlock, nothing outside the image's folder opens.
  const Attempt allowed[] = {
      {"reading the image",
       [&image](int, const std::string&) {
         char b[5];
         const int fd = open(image.c_str(), O_RDONLY);
         return fd >= 0 && pread(fd, b, sizeof b, 0) == 5;
       },
       false},
      {"a write to the channel",
       [](int channel, const std::string&) { return write(channel, "x", 1) == 1; }, false},
  };
  for (const Attempt& attempt : allowed) {
    const int status = UnderPolicy(attempt, image, outside);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kDone) << attempt.name;
  }
  if (landlock >= 1) {
    // A file beside the image's, and one in another folder.
    for (const std::string& other : {(inside / "beside.txt").string(), outside}) {
      std::FILE* f = std::fopen(other.c_str(), "w");
      std::fclose(f);
      const Attempt elsewhere{
          "reading another file",
          [](int, const std::string& file) { return open(file.c_str(), O_RDONLY) >= 0; }, false};
      const int status = UnderPolicy(elsewhere, image, other);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kRefused) << other;
    }
  } else {
    std::printf("no Landlock here: files beside the image are not checked\n");
  }
  std::filesystem::remove_all(base);
}

volatile sig_atomic_t signalled = 0;

// Whether a child that makes a pipe's reading end signal this process
// (F_SETOWN, F_SETSIG, O_ASYNC), after `confine`, gets the signal sent when
// data arrives. The child's exit status comes back in `status`.
bool SignalledThroughPipe(const std::function<void(int)>& confine, int& status) {
  signalled = 0;
  struct sigaction on_usr1 {};
  on_usr1.sa_handler = [](int) { signalled = 1; };
  sigaction(SIGUSR1, &on_usr1, nullptr);
  int p[2];
  EXPECT_EQ(pipe(p), 0);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    confine(p[1]);
    const bool set = fcntl(p[0], F_SETOWN, parent) == 0 && fcntl(p[0], F_SETSIG, SIGUSR1) == 0 &&
                     fcntl(p[0], F_SETFL, O_ASYNC) == 0;
    _exit(set ? kDone : kRefused);
  }
  waitpid(pid, &status, 0);
  EXPECT_EQ(write(p[1], "x", 1), 1);
  for (int i = 0; i < 50 && signalled == 0; ++i) usleep(2000);
  close(p[0]);
  close(p[1]);
  signal(SIGUSR1, SIG_DFL);
  return signalled != 0;
}

TEST(Sandbox, NoSignalReachesAnotherProcess) {
  int status = 0;
  // Unconfined, the pipe delivers the signal: the check below can fail.
  ASSERT_TRUE(SignalledThroughPipe([](int) {}, status));
  // The whole policy: the filter refuses or kills the attempt.
  EXPECT_FALSE(SignalledThroughPipe(
      [](int channel) {
        if (EnterSandbox({channel, {}})) _exit(kNoSandbox);
      },
      status));
  EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS) ||
              (WIFEXITED(status) && WEXITSTATUS(status) == kRefused));
  // Landlock alone, where it scopes signals: the descriptor is set, and the
  // signal still stays inside the child's domain.
  const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, 1U);
  if (abi < 6) GTEST_SKIP() << "Landlock " << abi << " does not scope signals here";
  EXPECT_FALSE(SignalledThroughPipe(
      [](int channel) {
        prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
        if (RestrictWithLandlock({channel, {}}) < 6) _exit(kNoSandbox);
      },
      status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kDone);
}

// A root user's worker keeps no capability; reading files it does not own
// stays only where its image needs it.
TEST(Sandbox, KeepsNoCapability) {
  if (geteuid() != 0) GTEST_SKIP() << "not root: there is no capability to drop";
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() / ("caps_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(base);
  const std::string own = (base / "own.img").string();
  const std::string other = (base / "other.img").string();
  for (const std::string& file : {own, other}) std::fclose(std::fopen(file.c_str(), "w"));
  ASSERT_EQ(chown(other.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(other.c_str(), 0600), 0);
  for (const auto& [image, want] : {std::pair<std::string, const char*>{own, "0000000000000000"},
                                    {other, "0000000000000004"}}) {
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      if (EnterSandbox({go[0], {image}})) _exit(kNoSandbox);
      char c = 0;
      _exit(read(go[0], &c, 1) == 1 ? kDone : kRefused);
    }
    close(go[0]);
    usleep(100000);
    std::string caps;
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
      if (std::string(line).starts_with("CapEff:")) caps = std::string(line + 7);
    }
    if (f != nullptr) std::fclose(f);
    EXPECT_EQ(write(go[1], "x", 1), 1);
    close(go[1]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kNoSandbox) GTEST_SKIP() << "no sandbox here";
    EXPECT_NE(caps.find(want), std::string::npos) << image << ": " << caps;
  }
  std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace quenthar::image
