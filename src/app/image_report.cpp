#include <string>

#include "app/exit_status.h"
#include "app/images.h"
#include "app/log_report.h"
#include "image/containment/image_search.h"

namespace quenthar {
namespace {

// Every log in an image, each after its `log` record (or heading), and what
// the search of each volume saw; each written out as soon as it is whole.
int ReportImage(Renderer& r, const platform::ArgChar* path, const image::SearchOptions& options) {
  const std::string name = platform::ArgumentText(path);
  int status = kExitOk;
  const image::SearchEvents events{
      [&r, &status](const image::FoundLog& found) {
        const std::string source = found.location.Source();
        BeginBlock(r, source);
        BeginLog(r, source);
        Render(r, found.location);
        // Reported as a file of the same bytes is, but once.
        if (!found.location.same_as) {
          const std::uint8_t* loaded = found.loaded ? found.loaded->data() : nullptr;
          if (ReportLoaded(r, found.form, found.header, loaded) != kExitOk) status = kExitFailure;
        }
        r.out.Flush();
      },
      [&r](const VolumeRecord& volume) {
        Render(r, volume);
        r.out.Flush();
      }};
  const image::SearchResult result =
      image::SearchImage(name, platform::ArgumentPath(path), options, events);
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

int ReportImages(Output& out, TextEncoding encoding, const CommandLine& command,
                 const platform::ArgChar* const* /*argv*/) {
  Renderer r{command.form, out, encoding, {}, {}};
  BeginRun(r);
  int status = kExitOk;
  for (const platform::ArgChar* path : command.paths) {
    if (ReportImage(r, path, command.options) != kExitOk) status = kExitFailure;
  }
  return status;
}

}  // namespace

const ImageReading kImageReading{image::RunAsWorker, ReportImages};

}  // namespace quenthar
