#include "app/driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/log_report.h"

namespace quenthar {
namespace {

// A 67,584-byte log (one entry, Size 0) of which only the first `readable`
// bytes can be read, as from a failing disk or a file that shrank.
LogSource CutLog(std::size_t readable) {
  auto image = std::make_shared<std::vector<std::uint8_t>>(67584, 0);
  const std::uint8_t header[16] = {3, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0x38, 0, 0, 0};
  std::memcpy(image->data() + 2048, header, sizeof header);
  return {static_cast<std::int64_t>(image->size()),
          {},
          [image, readable](std::int64_t offset, std::uint8_t* into, std::size_t n) {
            const auto at = static_cast<std::size_t>(offset);
            if (at + n > readable) return false;
            std::memcpy(into, image->data() + at, n);
            return true;
          },
          [] {}};
}

struct StreamCase {
  const char* name;
  std::size_t readable;
  Form form;
  const char* want;
  int status;
};

TEST(ReportLog, FailsWhenHeaderOrRegionCannotBeReadWhole) {
  const std::string header_line = "Ver=3,HdrSize=10, DataSize=38\n";
  const std::string header_record =
      R"({"source":"cut.bin","record":"header","offset":2048,"version":3,"header_size":16,)"
      R"("data_size":56,"data_size_exceeds_file":false})"
      "\n";
  const StreamCase cases[] = {
      {"no header", 0, Form::kText, "Can't read header", kExitFailure},
      {"the region cut short", 2064 + 20, Form::kText, "Can't read data", kExitFailure},
      {"whole", 67584, Form::kText,
       "Time=0,GUID={00000000-0000-0000-0000-000000000000},Severity=Unknown,ID=0\n", kExitOk},
      {"the region cut short, JSON Lines", 2064 + 20, Form::kJsonLines,
       R"({"source":"cut.bin","record":"error","problem":"Can't read data"})"
       "\n",
       kExitFailure},
  };
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quenthar-driver-" + std::to_string(std::random_device{}()));
  const auto previous = std::filesystem::current_path();
  for (const StreamCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directories(dir);
    std::filesystem::current_path(dir);
    Output out;
    Renderer r{c.form, out, TextEncoding::kNarrow};
    BeginLog(r, "cut.bin");
    const int status = ReportLog(r, CutLog(c.readable));
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
