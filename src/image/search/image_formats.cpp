#include "image/search/image_formats.h"

#include <libewf.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "image/search/qcow_image.h"
#include "image/search/tsk_adapter.h"
#if !defined(_WIN32)
#include "image/search/vmdk_image.h"
#endif
#include "text/utf16.h"

namespace quenthar::image {
namespace {

struct EwfHandleCloser {
  void operator()(libewf_handle_t* h) const {
    libewf_handle_close(h, nullptr);
    libewf_handle_free(&h, nullptr);
  }
};

// Asks the EWF library itself, through its narrow or its wide calls.
template <typename Char, typename Glob, typename Open, typename Free>
bool EwfCheck(const Char* path, std::size_t length, Glob glob, Open open, Free release) {
  Char** names = nullptr;
  int count = 0;
  if (glob(path, length, LIBEWF_FORMAT_UNKNOWN, &names, &count, nullptr) != 1) return true;
  libewf_handle_t* raw = nullptr;
  bool incomplete = true;
  if (libewf_handle_initialize(&raw, nullptr) == 1) {
    const std::unique_ptr<libewf_handle_t, EwfHandleCloser> handle(raw);
    incomplete = open(raw, names, count, LIBEWF_OPEN_READ, nullptr) != 1 ||
                 libewf_handle_segment_files_corrupted(raw, nullptr) != 0;
  }
  release(names, count, nullptr);
  return incomplete;
}

// What a file's name and first (and last) bytes say its format is.
struct Told {
  TSK_IMG_TYPE_ENUM type = TSK_IMG_TYPE_DETECT;
  const char* name = nullptr;
  bool sparse_extent = false;  // a VMDK file that holds its data itself
};

bool HasExtension(const std::string& path, std::string_view ext) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.size() - dot - 1 != ext.size()) return false;
  for (std::size_t i = 0; i < ext.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[dot + 1 + i])) != ext[i]) return false;
  }
  return true;
}

// An E01 set's segment: E01 to E99, then EAA and on (and EWF2's Ex01).
bool IsEwfSegment(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string_view ext = std::string_view(path).substr(dot + 1);
  const auto alnum = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
  return (ext.size() == 3 && (ext[0] == 'E' || ext[0] == 'e') && alnum(ext[1]) && alnum(ext[2]) &&
          (std::isdigit(static_cast<unsigned char>(ext[1])) != 0) ==
              (std::isdigit(static_cast<unsigned char>(ext[2])) != 0)) ||
         (ext.size() == 4 && (ext[0] == 'E' || ext[0] == 'e') && (ext[1] == 'x' || ext[1] == 'X') &&
          std::isdigit(static_cast<unsigned char>(ext[2])) != 0 &&
          std::isdigit(static_cast<unsigned char>(ext[3])) != 0);
}

Told TellFormat(const std::string& path) {
  std::array<char, 512> head{};
  std::array<char, 512> tail{};
  std::size_t got = 0;
#if defined(_WIN32)
  std::wstring wide;
  AppendUtf16(path, wide);
  std::FILE* f = _wfopen(wide.c_str(), L"rb");
#else
  std::FILE* f = std::fopen(path.c_str(), "rb");
#endif
  if (f != nullptr) {
    got = std::fread(head.data(), 1, head.size(), f);
    if (std::fseek(f, -static_cast<long>(tail.size()), SEEK_END) == 0 &&
        std::fread(tail.data(), 1, tail.size(), f) != tail.size()) {
      tail.fill(0);
    }
    std::fclose(f);
  }
  const std::string_view first(head.data(), got);
  const std::string_view last(tail.data(), tail.size());
  if (first.starts_with(std::string_view("EVF\x09\x0d\x0a\xff\x00", 8)) || IsEwfSegment(path)) {
    return {TSK_IMG_TYPE_EWF_EWF, "E01"};
  }
  if (first.starts_with("vhdxfile") || HasExtension(path, "vhdx"))
    return {TSK_IMG_TYPE_VHD_VHD, "VHDX"};
  if (first.starts_with("conectix") || last.starts_with("conectix") || HasExtension(path, "vhd")) {
    return {TSK_IMG_TYPE_VHD_VHD, "VHD"};
  }
  if (first.starts_with("KDMV") || first.starts_with("# Disk DescriptorFile") ||
      HasExtension(path, "vmdk")) {
    return {TSK_IMG_TYPE_VMDK_VMDK, "VMDK", first.starts_with("KDMV")};
  }
  return {};
}

// The format the library found.
const char* FormatOf(const TSK_IMG_INFO* img) {
  switch (img->itype) {
    case TSK_IMG_TYPE_EWF_EWF: return "E01";
    case TSK_IMG_TYPE_VMDK_VMDK: return "VMDK";
    case TSK_IMG_TYPE_VHD_VHD: return "VHD";
    case TSK_IMG_TYPE_RAW: return img->num_img > 1 ? "split raw" : "raw";
    default: return TSK_IMG_TYPE_ISAFF(img->itype) ? "AFF" : "raw";
  }
}

}  // namespace

OpenedImage OpenImage(const std::string& path, const std::vector<std::string>& backing_files,
                      const ByteSource* opened) {
  OpenedImage o;
  tsk_error_reset();
  const Told told = opened != nullptr ? Told{} : TellFormat(path);
  if (opened != nullptr) {
    o.img = OpenAsImage(*opened);
    o.format = "disk";
  } else if (IsQcow(path) || HasExtension(path, "qcow2") || HasExtension(path, "qcow")) {
    // The Sleuth Kit's library has no QCOW2 of its own.
    QcowImage qcow = OpenQcow(path, backing_files);
    if (qcow.needs) {
      o.needs_backing_file = std::move(qcow.needs);
      return o;
    }
    if (!qcow.bytes) {
      o.not_opened = ImageNotOpenedMessage{NotOpened::kDamaged, FitText(qcow.error, kMaxProblem)};
      return o;
    }
    o.img = OpenAsImage(std::move(*qcow.bytes));
    o.format = "QCOW2";
  } else {
    // A VMDK that holds its data is read from itself: renamed, the name its
    // descriptor gives is not its own, and may be another file's. (Not on
    // Windows, whose libvmdk carries a libbfio of its own, which the
    // program's one must never reach.)
    std::optional<ByteSource> disk;
#if !defined(_WIN32)
    if (told.sparse_extent) disk = OpenOneFileVmdk(path);
#endif
    if (disk) {
      o.img = OpenAsImage(std::move(*disk));
      o.format = "VMDK";
    } else {
      o.img.reset(tsk_img_open_utf8_sing(path.c_str(), told.type, 0));
      if (o.img != nullptr) o.format = told.name != nullptr ? told.name : FormatOf(o.img.get());
    }
  }
  if (o.img == nullptr) {
    const Error error = LastError();
    const NotOpened why = error.number == TSK_ERR_AUX_MALLOC ? NotOpened::kOutOfMemory
                          : told.name != nullptr             ? NotOpened::kDamaged
                                                             : NotOpened::kLibraryRefused;
    o.not_opened = ImageNotOpenedMessage{why, FitText(error.text, kMaxProblem)};
  }
  return o;
}

bool SegmentsMissing(const TSK_IMG_INFO* img, const std::string& path) {
  if (img->itype != TSK_IMG_TYPE_EWF_EWF) return false;
#if defined(_WIN32)
  // The narrow names are the ANSI code page's there: the wide calls take every name.
  std::wstring wide;
  AppendUtf16(path, wide);
  return EwfCheck(wide.c_str(), wide.size(), libewf_glob_wide, libewf_handle_open_wide,
                  libewf_glob_wide_free);
#else
  return EwfCheck(path.c_str(), path.size(), libewf_glob, libewf_handle_open, libewf_glob_free);
#endif
}

}  // namespace quenthar::image
