// Fuzz target over the whole path from the file's bytes to the output, in all
// three forms. The input is the log file: an input of up to 65,536 bytes is
// the boot partition's form, zero-padded to its length; a longer one is the
// system folder's form, cut or zero-padded to 67,584 bytes. Every JSON line
// must parse.
#include <simdjson.h>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "log/loaded_log.h"
#include "platform/platform.h"
#include "report/report.h"

namespace {

using namespace quenthar;

// A parser built outside this target: fast, and its branches are not taken
// for the program's own coverage.
void RequireJsonLines(std::string_view text) {
  static simdjson::dom::parser parser;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) std::abort();  // every line is ended
    const simdjson::padded_string line(text.substr(0, end));
    if (parser.parse(line).error() != simdjson::SUCCESS) std::abort();
    text.remove_prefix(end + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const LogForm form = size <= static_cast<std::size_t>(kBootPartitionLog.file_size)
                           ? kBootPartitionLog
                           : kSystemLog;
  const auto file_size = static_cast<std::size_t>(form.file_size);
  std::vector<std::uint8_t> image(data, data + std::min(size, file_size));
  image.resize(file_size, 0);

  const auto header_at = image.begin() + form.header_offset;
  const LogHeader header = LogHeader::Decode(&*header_at);
  // Its own allocation of exactly the loaded size, as in the program, so
  // that AddressSanitizer catches any read past it.
  const auto loaded_at = header_at + LogHeader::kSize;
  const std::vector<std::uint8_t> loaded(
      loaded_at, loaded_at + static_cast<std::ptrdiff_t>(LoadedCapacity(form, header)));
  const LoadedLog log{form, header, loaded.data(), loaded.size()};

  // The input's first bytes name the source, as any bytes may name a file.
  const std::string name(data, std::find(data, data + std::min<std::size_t>(size, 32), 0));
  for (const Form kind : {Form::kText, Form::kJsonLines, Form::kCsv}) {
    Output out;  // in memory
    Renderer r{kind, out, TextEncoding::kNarrow, {}, {}};
    BeginRun(r);
    BeginLog(r, platform::ArgumentText(name.c_str()));
    Render(r, HeaderOf(form, header));
    ReportEntries(r, log);
    if (kind == Form::kJsonLines) RequireJsonLines(out.Text());
  }
  return 0;
}
