// Fuzz target over the whole path from the file's bytes to the output. The
// input's last byte chooses the form (its value mod 3: text, JSON Lines, CSV);
// the bytes before it are the log file: up to 65,536 bytes it is the boot
// partition's form, zero-padded to its length; longer, the system folder's
// form, cut or zero-padded to 67,584 bytes. Every JSON line must parse.
#include <simdjson.h>

#include <algorithm>
#include <array>
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

// Each line must be exactly one JSON document. The lines are parsed as one
// stream (a parser built outside this target: fast, and its branches are not
// taken for the program's own coverage); every document must start where a
// line starts, and there must be as many documents as lines.
void RequireJsonLines(std::string_view text) {
  static simdjson::dom::parser parser;
  static simdjson::padded_string padded;
  if (!text.empty() && text.back() != '\n') std::abort();  // every line is ended
  if (padded.size() < text.size()) padded = simdjson::padded_string(text.size() * 2);
  std::copy(text.begin(), text.end(), padded.data());
  simdjson::dom::document_stream docs;
  if (parser.parse_many(padded.data(), text.size(), std::max<std::size_t>(text.size(), 64))
          .get(docs) != simdjson::SUCCESS) {
    std::abort();
  }
  std::size_t line_start = 0;
  for (auto it = docs.begin(); it != docs.end(); ++it) {
    if ((*it).error() != simdjson::SUCCESS || it.current_index() != line_start) std::abort();
    line_start = text.find('\n', line_start) + 1;
  }
  if (docs.truncated_bytes() != 0 || line_start != text.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Form kind = std::array{Form::kText, Form::kJsonLines, Form::kCsv}[data[size - 1] % 3];
  --size;
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
  static Output out;  // in memory, its room kept from input to input
  out.Clear();
  Renderer r{kind, out, TextEncoding::kNarrow, {}, {}};
  BeginRun(r);
  BeginLog(r, platform::ArgumentText(name.c_str()));
  Render(r, HeaderOf(form, header));
  ReportEntries(r, log);
  if (kind == Form::kJsonLines) RequireJsonLines(out.Text());
  return 0;
}
