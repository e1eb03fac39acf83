#include "app/progress.h"

#include <algorithm>

#include "platform/platform.h"
#include "report/output.h"
#include "report/text_forms.h"
#include "text/utf16.h"

namespace quenthar {
namespace {

// Redrawn at most this often.
constexpr auto kEvery = std::chrono::milliseconds(100);
// No longer, so that a line of a narrow terminal does not wrap.
constexpr std::size_t kMaxWidth = 79;

// Text from the command line or the evidence, its control characters escaped.
std::string Escaped(std::string_view text) {
  Output out;
  PutEscaped(out, text);
  return std::string(out.Text());
}

// The characters of UTF-8 text.
std::size_t Characters(std::string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++n) NextCodePoint(text, i);
  return n;
}

// The text cut to `max` characters, "..." at its end where it is cut.
std::string Cut(const std::string& text, std::size_t max) {
  if (Characters(text) <= max) return text;
  std::size_t i = 0;
  for (std::size_t n = 0; n + 3 < max; ++n) NextCodePoint(text, i);
  return text.substr(0, i).append("...");
}

}  // namespace

Progress::Progress(std::FILE* stream, bool asked, std::size_t images)
    : stream_(stream), images_(images) {
  line_ = platform::IsTerminal(stream);
  plain_ = asked && !line_;
  console_ = platform::IsConsole(stream);
}

Progress::~Progress() { Hide(); }

void Progress::Hide() {
  if (!line_ || width_ == 0) return;
  std::string blank = "\r";
  blank.append(width_, ' ').append("\r");
  Write(blank);
  width_ = 0;
}

void Progress::Show() { Draw(true); }

void Progress::Image(std::size_t number, std::string_view name) {
  image_ = number;
  name_ = Escaped(name);
  volume_.clear();
  files_ = 0;
  Draw(true);
}

void Progress::Volume(const VolumePlace& place) {
  std::string volume(1, '@');
  volume.append(std::to_string(place.partition_offset));
  if (place.partition) volume.append(" ").append(Escaped(*place.partition));
  if (place.store) volume.append(" (store ").append(std::to_string(*place.store)).append(")");
  volume_ = std::move(volume);
  files_ = 0;
  Draw(false);
}

void Progress::Files(std::uint64_t files) {
  files_ = files;
  Draw(false);
}

void Progress::Log() {
  ++logs_;
  Draw(false);
}

void Progress::VolumeDone(const VolumeRecord& record) {
  if (!plain_) return;
  std::string line = "image ";
  line.append(std::to_string(image_)).append(" of ").append(std::to_string(images_));
  line.append(", ").append(name_).append(", volume ").append(volume_).append(": ");
  line.append(std::to_string(record.files)).append(" files, ");
  line.append(std::to_string(record.logs)).append(" logs");
  if (record.problem) line.append(", ").append(Escaped(*record.problem));
  Write(line.append("\n"));
}

std::string Progress::Status() const {
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started_).count();
  std::string counts = " | ";
  counts.append(std::to_string(files_)).append(" files | ").append(std::to_string(logs_));
  counts.append(" logs | ").append(std::to_string(seconds)).append(" s");
  std::string head = "[";
  head.append(std::to_string(image_)).append("/").append(std::to_string(images_)).append("] ");
  const std::size_t room = kMaxWidth - std::min(kMaxWidth - 20, head.size() + counts.size());
  std::string where = name_;
  if (!volume_.empty()) where.append(" ").append(volume_);
  return head.append(Cut(where, room)).append(counts);
}

void Progress::Draw(bool now) {
  if (!line_) return;
  const Clock::time_point t = Clock::now();
  if (!now && t - drawn_ < kEvery) return;
  drawn_ = t;
  const std::string status = Status();
  const std::size_t width = Characters(status);
  std::string text = "\r";
  text.append(status);
  if (width < width_) text.append(width_ - width, ' ');
  width_ = width;
  Write(text);
}

void Progress::Write(std::string_view text) {
  if (console_) {
    platform::WriteToConsole(stream_, text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stream_);
  }
  std::fflush(stream_);
}

}  // namespace quenthar
