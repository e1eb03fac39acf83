#include "app/exit_status.h"
#include "app/images.h"

namespace quenthar {
namespace {

// The disk-image code is a program of its own, so that a report of a log
// file does not pay for loading it: it runs in this process's place, on the
// same command line.
int RunCompanion(Renderer& r, const CommandLine& /*command*/,
                 const platform::ArgChar* const* argv) {
  Output& out = r.out;
  const std::vector<std::string> looked = platform::ExecCompanion(QUENTHAR_IMAGE_COMPANION, argv);
  out.Put("quenthar: can't run " QUENTHAR_IMAGE_COMPANION);
  for (std::size_t i = 0; i < looked.size(); ++i) {
    out.Put(i == 0 ? ": looked for it as " : " and as ");
    PutEscaped(out, looked[i]);
  }
  out.Put("\n");
  return kExitFailure;
}

}  // namespace

const ImageReading kImageReading{
    [](int /*argc*/, const platform::ArgChar* const* /*argv*/) -> std::optional<int> {
      return std::nullopt;
    },
    RunCompanion};

}  // namespace quenthar
