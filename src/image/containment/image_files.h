// The files a disk image is made of, found by their names alone: what a
// worker is allowed to read, decided by the output process before any byte
// of the image is read.
#pragma once

#include <string>
#include <vector>

namespace quenthar::image {

/// The image at `path` and, named as the libraries name them from it, the
/// other files they open: the later segments of a split raw image (named
/// "disk.001", "disk_000", "disk.aa", "disk.dmg", "disk.bin" and the like,
/// each counted on to the first that is missing), the segments of an E01 set
/// ("disk.E01" to "E99", then "EAA" on, in the letter case given, from the
/// first whichever was named), and for a VMDK every regular file of its
/// folder whose name begins with its stem (its extents). Only names of files
/// that exist are given, each once, `path` first.
std::vector<std::string> ImageFiles(const std::string& path);

}  // namespace quenthar::image
