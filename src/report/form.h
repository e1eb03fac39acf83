// The output forms a run can ask for.
#pragma once

namespace quenthar {

enum class Form { kText, kJsonLines, kCsv };

}  // namespace quenthar
