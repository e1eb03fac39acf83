#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/exit_status.h"
#include "app/images.h"
#include "app/log_report.h"
#include "app/progress.h"
#include "image/containment/image_search.h"
#include "image/containment/sha256.h"
#include "log/loaded_log.h"

namespace quenthar {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// An image that is a log itself, as the file it is: its `log` record with
// the times the system keeps of it, then its records; false when it is none
// (not of a log's length, or without the log's signature).
bool ReportLogAsImage(Renderer& r, const platform::ArgChar* path, const std::string& name,
                      ImageRecord& account, int& status) {
  const platform::Input input = platform::OpenForReading(path, 0);
  if (input.stream == nullptr) return false;
  const std::unique_ptr<std::FILE, FileCloser> stream(input.stream);
  const std::optional<LogForm> form = FormOfLength(platform::StreamLength(stream.get()));
  if (!form) return false;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(form->file_size));
  if (std::fseek(stream.get(), 0, SEEK_SET) != 0 ||
      std::fread(bytes.data(), 1, bytes.size(), stream.get()) != bytes.size()) {
    return false;
  }
  const LogHeader header = LogHeader::Decode(bytes.data() + form->header_offset);
  if (!HasLogSignature(header)) return false;
  LogLocation log;
  log.volume.image = name;
  log.path = name;
  log.size = bytes.size();
  log.sha256 = image::Sha256(bytes);
  const platform::FileTimes times = platform::TimesOfFile(stream.get());
  const auto utc = [](const std::optional<std::int64_t>& t) -> std::optional<Moment> {
    if (!t) return std::nullopt;
    return Moment{*t};
  };
  log.times = {utc(times.created), utc(times.modified), utc(times.accessed), utc(times.changed)};
  BeginBlock(r, name);
  BeginLog(r, name);
  Render(r, log);
  account.Count(log);
  const auto loaded =
      bytes.begin() + form->header_offset + static_cast<std::ptrdiff_t>(LogHeader::kSize);
  const std::vector<std::uint8_t> region(
      loaded, loaded + static_cast<std::ptrdiff_t>(LoadedCapacity(*form, header)));
  if (ReportLoaded(r, *form, header, region.data()) != kExitOk) status = kExitFailure;
  return true;
}

// Every log in an image, each after its `log` record (or heading), what the
// search of each volume saw, and the image's account; each written out as
// soon as it is whole.
int ReportImage(Renderer& r, const platform::ArgChar* path, const image::SearchOptions& options,
                Progress& progress) {
  const auto started = std::chrono::steady_clock::now();
  const std::string name = platform::ArgumentText(path);
  ImageRecord account;
  account.image = name;
  std::uint64_t unsearched = 0;  // volumes that could not be searched whole
  int status = kExitOk;
  const auto flush = [&r, &progress] {
    progress.Hide();
    r.out.Flush();
    if (r.notes != nullptr) r.notes->Flush();
    progress.Show();
  };
  const image::SearchEvents events{
      [&](const image::FoundLog& found) {
        const std::string source = found.location.Source();
        BeginBlock(r, source);
        BeginLog(r, source);
        Render(r, found.location);
        account.Count(found.location);
        progress.Log();
        // Reported as a file of the same bytes is, but once.
        if (!found.location.same_as) {
          const std::uint8_t* loaded = found.loaded ? found.loaded->data() : nullptr;
          if (ReportLoaded(r, found.form, found.header, loaded) != kExitOk) status = kExitFailure;
        }
        flush();
      },
      [&](const VolumeRecord& volume) {
        Render(r, volume);
        account.Count(volume);
        if (volume.failed) ++unsearched;
        progress.VolumeDone(volume);
        flush();
      },
      [&progress](const VolumePlace& place) { progress.Volume(place); },
      [&progress](std::uint64_t files) { progress.Files(files); }};
  const image::SearchResult result =
      image::SearchImage(name, platform::ArgumentPath(path), options, events);
  if (result.opened) {
    account.format = result.format.empty() ? std::nullopt : std::optional(result.format);
    account.size = result.size;
  }
  // A problem of the image itself, under its own name.
  const auto image_problem = [&r, &name](auto&& render) {
    BeginBlock(r, name);
    r.in_image_block = true;
    BeginLog(r, name);
    render();
  };
  if (!result.opened) {
    image_problem([&r] { Render(r, Problem::kCantOpenInput); });
    status = kExitFailure;
  } else if (result.failure) {
    image_problem([&r, &result] { RenderFailure(r, *result.failure); });
    status = kExitFailure;
  } else {
    if (result.incomplete) image_problem([&r] { Render(r, Problem::kImageIncomplete); });
    if (result.failed) status = kExitFailure;
    // A log given as an image: one volume without a file system, of a log's length.
    const bool a_log = result.logs == 0 && account.volumes == 1 && account.no_file_system == 1 &&
                       ReportLogAsImage(r, path, name, account, status);
    if (result.logs == 0 && !a_log) {
      status = kExitFailure;
      if (unsearched == 0) {
        image_problem([&r] { Render(r, Problem::kNoLogFound); });
      } else {
        image_problem([&r, &account, unsearched] {
          RenderFailure(r, "No log found in the volumes searched; " + std::to_string(unsearched) +
                               " of " + std::to_string(account.volumes) +
                               " volumes could not be searched");
        });
      }
    }
  }
  account.milliseconds =
      static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - started)
                                     .count());
  Render(r, account);
  flush();
  return status;
}

int ReportImages(Renderer& r, const CommandLine& command,
                 const platform::ArgChar* const* /*argv*/) {
  BeginRun(r);
  Progress progress(stderr, command.progress, command.paths.size());
  int status = kExitOk;
  for (std::size_t i = 0; i < command.paths.size(); ++i) {
    progress.Image(i + 1, platform::ArgumentText(command.paths[i]));
    if (ReportImage(r, command.paths[i], command.options, progress) != kExitOk)
      status = kExitFailure;
  }
  return status;
}

}  // namespace

const ImageReading kImageReading{image::RunAsWorker, ReportImages};

}  // namespace quenthar
