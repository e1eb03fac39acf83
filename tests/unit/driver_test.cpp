#include "app/driver.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace quenthar {
namespace {

// A 67,584-byte log (one entry, Size 0) whose stream claims its whole length
// but delivers only its first `readable` bytes; then it fails (`error`) or
// ends, as a failing disk or a file that shrank would.
struct CutLog {
  std::vector<std::uint8_t> image;
  std::size_t position = 0;
  std::size_t readable;
  bool error;
};

std::FILE* CutLogStream(std::size_t readable, bool error) {
  auto* log = new CutLog{std::vector<std::uint8_t>(67584, 0), 0, readable, error};
  const std::uint8_t header[16] = {3, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x38, 0, 0, 0};
  std::memcpy(log->image.data() + 2048, header, sizeof header);
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* into, std::size_t size) -> ssize_t {
    auto& in = *static_cast<CutLog*>(cookie);
    if (in.position >= in.readable) return in.error ? -1 : 0;
    const std::size_t n = std::min(size, in.readable - in.position);
    std::memcpy(into, in.image.data() + in.position, n);
    in.position += n;
    return static_cast<ssize_t>(n);
  };
  io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
    auto& in = *static_cast<CutLog*>(cookie);
    const off64_t base = whence == SEEK_END   ? static_cast<off64_t>(in.image.size())
                         : whence == SEEK_CUR ? static_cast<off64_t>(in.position)
                                              : 0;
    in.position = static_cast<std::size_t>(base + *offset);
    *offset = base + *offset;
    return 0;
  };
  io.close = [](void* cookie) -> int {
    delete static_cast<CutLog*>(cookie);
    return 0;
  };
  return fopencookie(log, "rb", io);
}

struct StreamCase {
  const char* name;
  std::size_t readable;
  bool error;
  Form form;
  const char* want;
  int status;
};

TEST(ReportLogStream, FailsWhenHeaderOrRegionCannotBeReadWhole) {
  const std::string header_line = "Ver=3,HdrSize=10, DataSize=38\n";
  const std::string header_record =
      R"({"source":"cut.bin","record":"header","offset":2048,"version":3,"header_size":16,)"
      R"("data_size":56,"data_size_exceeds_file":false})"
      "\n";
  const StreamCase cases[] = {
      {"no header", 0, true, Form::kText, "Can't read header", kExitFailure},
      {"read error in the region", 2064 + 20, true, Form::kText, "Can't read data", kExitFailure},
      {"file shrank in the region", 2064 + 20, false, Form::kText, "Can't read data", kExitFailure},
      {"whole", 67584, false, Form::kText,
       "Time=0,GUID={00000000-0000-0000-0000-000000000000},Severity=Unknown,ID=0\n", kExitOk},
      {"read error, JSON Lines", 2064 + 20, true, Form::kJsonLines,
       R"({"source":"cut.bin","record":"error","problem":"Can't read data"})"
       "\n",
       kExitFailure},
  };
  const auto dir =
      std::filesystem::temp_directory_path() / ("quenthar-driver-" + std::to_string(getpid()));
  const auto previous = std::filesystem::current_path();
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    Output out;
    Renderer r{c.form, out, TextEncoding::kNarrow, {}, {}};
    BeginLog(r, "cut.bin");
    const int status = ReportLogStream(r, {CutLogStream(c.readable, c.error), {}});
    const std::string head = c.form == Form::kText ? header_line : header_record;
    EXPECT_EQ(out.Text(), (c.readable == 0 ? "" : head) + c.want);
    EXPECT_EQ(status, c.status);
    // The text form leaves quenthar.log empty, even when the header failed;
    // the structured forms never touch it.
    const auto log = dir / "quenthar.log";
    EXPECT_EQ(std::filesystem::exists(log), c.form == Form::kText);
    if (c.form == Form::kText) {
      EXPECT_EQ(std::filesystem::file_size(log), 0u);
    }
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(dir);
  }
}

TEST(PlanOutput, TerminalsTakeEscapedUtf8AndFilesTodaysBytes) {
  for (const Form form : {Form::kText, Form::kJsonLines, Form::kCsv}) {
    const OutputPlan console = PlanOutput(true, true, form);
    EXPECT_TRUE(console.console);
    EXPECT_FALSE(console.binary);
    EXPECT_EQ(console.encoding, TextEncoding::kUtf8Escaped);
    const OutputPlan terminal = PlanOutput(false, true, form);
    EXPECT_FALSE(terminal.console);
    EXPECT_EQ(terminal.binary, form != Form::kText);
    EXPECT_EQ(terminal.encoding, TextEncoding::kUtf8Escaped);
    const OutputPlan file = PlanOutput(false, false, form);
    EXPECT_FALSE(file.console);
    EXPECT_EQ(file.binary, form != Form::kText);  // the structured forms: the same bytes anywhere
    EXPECT_EQ(file.encoding, TextEncoding::kNarrow);
  }
}

}  // namespace
}  // namespace quenthar
