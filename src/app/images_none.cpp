#include "app/images.h"

namespace quenthar {

const ImageReading kImageReading{
    [](int /*argc*/, const platform::ArgChar* const* /*argv*/) -> std::optional<int> {
      return std::nullopt;
    },
    nullptr};

}  // namespace quenthar
