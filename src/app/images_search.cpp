#include <algorithm>
#include <string>

#include "app/images.h"
#include "image/image_search.h"

namespace quenthar {
namespace {

// A log found in an image, reported as a file of the same bytes is.
int ReportFoundLog(Renderer& r, const image::FoundLog& found) {
  const LogForm form = *FormOfLength(static_cast<std::int64_t>(found.bytes.size()));
  const std::uint8_t* header_at = found.bytes.data() + form.header_offset;
  return ReportLoadedLog(r, form, LogHeader::Decode(header_at),
                         [&found, header_at](std::uint8_t* into, std::size_t n) {
                           if (!found.read_whole) return false;
                           std::copy_n(header_at + LogHeader::kSize, n, into);
                           return true;
                         });
}

// Every log in an image, each after its `log` record (or heading), and what
// the search of each volume saw.
int ReportImage(Renderer& r, const platform::ArgChar* path, const image::WorkerLimits& limits) {
  const std::string name = platform::ArgumentText(path);
  int status = kExitOk;
  const image::SearchEvents events{[&r, &status](const image::FoundLog& found) {
                                     const std::string source = found.location.Source();
                                     BeginBlock(r, source);
                                     BeginLog(r, source);
                                     Render(r, found.location);
                                     if (ReportFoundLog(r, found) != kExitOk) status = kExitFailure;
                                     r.out.Flush();
                                   },
                                   [&r](const VolumeRecord& volume) {
                                     Render(r, volume);
                                     r.out.Flush();
                                   }};
  const image::SearchResult result =
      image::SearchImage(name, platform::ArgumentPath(path), limits, events);
  // A problem of the image itself, under its own name.
  const auto image_problem = [&r, &name](auto&& render) {
    BeginBlock(r, name);
    BeginLog(r, name);
    render();
    r.out.Flush();
    return kExitFailure;
  };
  if (!result.opened) return image_problem([&r] { Render(r, Problem::kCantOpenInput); });
  if (result.failure) return image_problem([&r, &result] { RenderFailure(r, *result.failure); });
  if (result.incomplete) image_problem([&r] { Render(r, Problem::kImageIncomplete); });
  if (result.logs == 0) return image_problem([&r] { Render(r, Problem::kNoLogFound); });
  return result.failed ? kExitFailure : status;
}

}  // namespace

std::optional<int> RunAsWorker(int argc, const platform::ArgChar* const* argv) {
  return image::WorkerMain(argc, argv);
}

bool ReadsImages() { return true; }

int ReportImages(Output& out, TextEncoding encoding, const CommandLine& command,
                 const platform::ArgChar* const* /*argv*/) {
  Renderer r{command.form, out, encoding, {}, {}};
  BeginRun(r);
  const image::WorkerLimits limits{command.limits.time_limit_s, command.limits.image_time_limit_s,
                                   command.limits.memory_limit_mib, command.limits.sandbox};
  int status = kExitOk;
  for (const platform::ArgChar* path : command.paths) {
    if (ReportImage(r, path, limits) != kExitOk) status = kExitFailure;
  }
  return status;
}

}  // namespace quenthar
