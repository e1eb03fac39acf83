// What an image search is doing while it works, on standard error: on a
// terminal (a console on Windows), one status line redrawn in place and
// erased at the end; asked for elsewhere (--progress), one plain line per
// volume. Nothing of it reaches standard output.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "log/image_records.h"

namespace quenthar {

class Progress {
 public:
  /// Shows nothing unless `stream` is a terminal or `asked`.
  Progress(std::FILE* stream, bool asked, std::size_t images);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void Image(std::size_t number, std::string_view name);
  void Volume(const VolumePlace& place);
  void Files(std::uint64_t files);
  void Log();
  /// A volume done: on a line of its own where no status line is drawn.
  void VolumeDone(const VolumeRecord& record);
  /// Erases the status line (before results are written to the same
  /// terminal), and draws it again.
  void Hide();
  void Show();

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(bool now);
  void Write(std::string_view text);
  std::string Status() const;

  std::FILE* stream_;
  bool line_ = false;   // a status line, redrawn in place
  bool plain_ = false;  // a line per volume
  bool console_ = false;
  std::size_t images_;
  std::size_t image_ = 0;
  std::string name_;
  std::string volume_;
  std::uint64_t files_ = 0;
  std::uint64_t logs_ = 0;
  Clock::time_point started_ = Clock::now();
  Clock::time_point drawn_{};
  std::size_t width_ = 0;  // of the line last drawn, in characters
};

}  // namespace quenthar
