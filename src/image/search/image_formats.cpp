#include "image/search/image_formats.h"

#include <libewf.h>

#include <cstring>
#include <memory>

#include "image/search/qcow_image.h"
#include "image/search/tsk_adapter.h"
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

}  // namespace

OpenedImage OpenImage(const std::string& path, const std::vector<std::string>& backing_files,
                      const ByteSource* opened) {
  OpenedImage o;
  tsk_error_reset();
  if (opened != nullptr) {
    o.img = OpenAsImage(*opened);
  } else if (IsQcow(path)) {
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
  } else {
    o.img.reset(tsk_img_open_utf8_sing(path.c_str(), TSK_IMG_TYPE_DETECT, 0));
  }
  if (o.img == nullptr) {
    const Error error = LastError();
    o.not_opened = ImageNotOpenedMessage{
        error.number == TSK_ERR_AUX_MALLOC ? NotOpened::kOutOfMemory : NotOpened::kLibraryRefused,
        FitText(error.text, kMaxProblem)};
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
