// The output forms a run can ask for.
#pragma once

namespace quenthar {

// kTimesketch: JSON Lines of the entries alone, each with the three keys
// Timesketch needs; the problems go to standard error.
enum class Form { kText, kJsonLines, kCsv, kTimesketch };

}  // namespace quenthar
