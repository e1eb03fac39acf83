#include "app/images.h"

namespace quenthar {

std::optional<int> RunAsWorker(int /*argc*/, const platform::ArgChar* const* /*argv*/) {
  return std::nullopt;
}

bool ReadsImages() { return false; }

// The command line refuses --image in this build.
int ReportImages(Output& /*out*/, TextEncoding /*encoding*/, const CommandLine& /*command*/,
                 const platform::ArgChar* const* /*argv*/) {
  return kExitFailure;
}

}  // namespace quenthar
