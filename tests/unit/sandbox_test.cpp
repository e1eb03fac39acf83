#include "image/sandbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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
    const int status = UnderPolicy(attempt, inside.string(), outside);
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
    const int status = UnderPolicy(attempt, inside.string(), outside);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kDone) << attempt.name;
  }
  if (landlock >= 1) {
    const Attempt elsewhere{
        "reading outside",
        [](int, const std::string& other) { return open(other.c_str(), O_RDONLY) >= 0; }, false};
    const int status = UnderPolicy(elsewhere, inside.string(), outside);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kRefused) << elsewhere.name;
  }
  std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace quenthar::image
