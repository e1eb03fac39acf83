// Fuzz target over the whole path from the file's bytes to the output. The
// input's last byte chooses the form (its value mod 4: text, JSON Lines, CSV,
// Timesketch), whether it goes to a terminal (bit 2) and whether the clock's
// zone is known (bit 3: a zone of summer time by rule); the bytes before it
// are the log file: up to 65,536 bytes it is the boot partition's form,
// zero-padded to its length; longer, the system folder's form, cut or
// zero-padded to 67,584 bytes. Every JSON line must parse, every Timesketch
// line have a datetime that ISO 8601's readers take, and no control
// character but a line end may reach a terminal or a JSON line.
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
  if (text.empty()) return;               // Timesketch's, of a log without entries
  if (text.back() != '\n') std::abort();  // every line is ended
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

// Aborts on a control character (C0, DEL, C1) that is no line end: LF, and
// in CSV the CR before it.
void RequireNoControls(std::string_view text, bool csv) {
  const auto byte = [text](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned c = byte(i);
    const bool line_end = c == '\n' || (csv && c == '\r' && byte(i + 1) == '\n');
    const bool c1 = c == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F;
    if ((c < 0x20 && !line_end) || c == 0x7F || c1) std::abort();
  }
}

// Each line's datetime: "YYYY-MM-DDThh:mm:ss+00:00", a year from 0001.
void RequireIsoDatetimes(std::string_view text) {
  constexpr std::string_view kKey = "\"datetime\":\"";
  constexpr std::string_view kShape = "dddd-dd-ddTdd:dd:dd+00:00\"";
  for (std::size_t line = 0; line < text.size(); line = text.find('\n', line) + 1) {
    const std::size_t at = text.find(kKey, line);
    if (at == std::string_view::npos || at > text.find('\n', line)) std::abort();
    const std::string_view value = text.substr(at + kKey.size(), kShape.size());
    if (value.size() != kShape.size() || value.substr(0, 4) == "0000") std::abort();
    for (std::size_t i = 0; i < kShape.size(); ++i) {
      const bool digit = value[i] >= '0' && value[i] <= '9';
      if (kShape[i] == 'd' ? !digit : value[i] != kShape[i]) std::abort();
    }
  }
}

// Central Europe's rule: +01:00, and +02:00 from the last Sunday of March to
// the last of October.
const ClockZone kSummerZone(
    3600, {},
    ZoneRule{3600, ZoneRule::Daylight{7200,
                                      {ZoneRuleDate::Kind::kMonthWeekDay, 0, 5, 3, 7200},
                                      {ZoneRuleDate::Kind::kMonthWeekDay, 0, 5, 10, 10800}}});

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Form kind =
      std::array{Form::kText, Form::kJsonLines, Form::kCsv, Form::kTimesketch}[data[size - 1] % 4];
  const bool terminal = (data[size - 1] & 4) != 0;
  const bool zoned = (data[size - 1] & 8) != 0;
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
  Renderer r{kind, out, terminal ? TextEncoding::kUtf8Escaped : TextEncoding::kNarrow};
  if (zoned) r.clock = LocalClock(kSummerZone, "Europe/Berlin");
  BeginRun(r);
  BeginLog(r, platform::ArgumentText(name.c_str()));
  Render(r, HeaderOf(form, header));
  ReportEntries(r, log);
  const bool json = kind == Form::kJsonLines || kind == Form::kTimesketch;
  if (json) RequireJsonLines(out.Text());
  if (kind == Form::kTimesketch) RequireIsoDatetimes(out.Text());
  if (terminal || json) RequireNoControls(out.Text(), kind == Form::kCsv);
  return 0;
}
