// The secrets that may open encrypted volumes, read from the --key-file
// files once, before any worker starts.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "image/secrets.h"
#include "platform/platform.h"

namespace quenthar {

/// Every secret of every file, in order, numbered from 0, each with its
/// label; or why a file cannot be used ("--key-file keys.txt: no such
/// file"), which never shows what it holds. A file is a startup key (.BEK),
/// told by its bytes, or UTF-8 text of one secret a line (a leading byte
/// order mark skipped, LF or CR LF line ends, empty lines skipped): eight
/// groups of six digits joined by hyphens are a recovery password, whose
/// check digits must hold; any other line is a password.
std::variant<std::vector<image::KeySecret>, std::string> ReadKeyFiles(
    const std::vector<const platform::ArgChar*>& files);

}  // namespace quenthar
