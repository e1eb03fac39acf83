// The exit statuses of a run.
#pragma once

namespace quenthar {

/// A log whose header could be read and whose region could be loaded whole
/// succeeds whatever its entries hold; one that could not fails.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = -1;

}  // namespace quenthar
