#include "app/exit_status.h"
#include "app/images.h"
#include "report/text_forms.h"

namespace quenthar {
namespace {

// The disk-image code is a program of its own, so that a report of a log
// file does not pay for loading it: it runs in this process's place, on the
// same command line.
int RunCompanion(Output& out, TextEncoding /*encoding*/, const CommandLine& /*command*/,
                 const platform::ArgChar* const* argv) {
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
