#include "app/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace quenthar {
namespace {

// A stream that claims the right length but cannot be read.
std::FILE* UnreadableLogStream() {
  cookie_io_functions_t io{};
  io.read = [](void*, char*, std::size_t) -> ssize_t { return -1; };
  io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
    auto& position = *static_cast<off64_t*>(cookie);
    position = (whence == SEEK_END ? 67584 : whence == SEEK_CUR ? position : 0) + *offset;
    *offset = position;
    return 0;
  };
  static off64_t position = 0;
  return fopencookie(&position, "rb", io);
}

TEST(ReportLogStream, HeaderThatCannotBeReadFailsAndLeavesEmptyOutput) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("quenthar-driver-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);

  Output out;
  const int status = ReportLogStream(out, UnreadableLogStream());
  EXPECT_EQ(out.Text(), "Can't read header");
  EXPECT_EQ(status, kExitFailure);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir / "quenthar.log"));
  EXPECT_EQ(std::filesystem::file_size(dir / "quenthar.log"), 0u);

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace quenthar
