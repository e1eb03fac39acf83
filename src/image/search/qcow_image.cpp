#include "image/search/qcow_image.h"

#include <libqcow.h>

#include <memory>

#include "text/utf16.h"

namespace quenthar::image {
namespace {

struct FileCloser {
  void operator()(libqcow_file_t* f) const {
    libqcow_file_close(f, nullptr);
    libqcow_file_free(&f, nullptr);
  }
};
using QcowFile = std::unique_ptr<libqcow_file_t, FileCloser>;

// The library's last error, as a sentence's end.
std::string ErrorText(libqcow_error_t* error) {
  char text[512] = {};
  if (error == nullptr || libqcow_error_sprint(error, text, sizeof text) < 0)
    return "unknown error";
  libqcow_error_free(&error);
  std::string s = ValidUtf8(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '.' || s.back() == ' ')) s.pop_back();
  return s;
}

bool Signed(const std::string& path) {
#if defined(_WIN32)
  std::wstring wide;
  AppendUtf16(path, wide);
  return libqcow_check_file_signature_wide(wide.c_str(), nullptr) == 1;
#else
  return libqcow_check_file_signature(path.c_str(), nullptr) == 1;
#endif
}

int OpenFile(libqcow_file_t* file, const std::string& path, libqcow_error_t** error) {
#if defined(_WIN32)
  std::wstring wide;
  AppendUtf16(path, wide);
  return libqcow_file_open_wide(file, wide.c_str(), LIBQCOW_OPEN_READ, error);
#else
  return libqcow_file_open(file, path.c_str(), LIBQCOW_OPEN_READ, error);
#endif
}

// The last part of a name an image stores for its backing file.
std::string BareName(const std::string& stored) {
  const std::size_t cut = stored.find_last_of("/\\");
  return cut == std::string::npos ? stored : stored.substr(cut + 1);
}

// The folder of a path, with its separator.
std::string FolderOf(const std::string& path) {
#if defined(_WIN32)
  const std::size_t cut = path.find_last_of("/\\");
#else
  const std::size_t cut = path.rfind('/');
#endif
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// Opens the file at `path`, its backing file from `backing_files[depth]`
// on; each file keeps the one below it (the library reads through it).
struct Chain {
  std::vector<QcowFile> files;  // the image first, then each file it reads through
  std::optional<std::string> needs;
  std::string error;
  ~Chain() {
    for (QcowFile& file : files) file.reset();  // a file before the one it reads through
  }
  Chain() = default;
  Chain(const Chain&) = delete;
  Chain& operator=(const Chain&) = delete;
};

void OpenChain(const std::string& folder, const std::string& path,
               const std::vector<std::string>& backing_files, std::size_t depth, Chain& chain) {
  libqcow_file_t* raw = nullptr;
  libqcow_error_t* error = nullptr;
  if (libqcow_file_initialize(&raw, &error) != 1) {
    chain.error = ErrorText(error);
    return;
  }
  QcowFile file(raw);
  if (OpenFile(raw, path, &error) != 1) {
    chain.error = ErrorText(error);
    return;
  }
  size_t size = 0;
  if (libqcow_file_get_utf8_backing_filename_size(raw, &size, nullptr) == 1 && size > 1) {
    std::string stored(size, '\0');
    if (libqcow_file_get_utf8_backing_filename(raw, reinterpret_cast<uint8_t*>(stored.data()), size,
                                               nullptr) != 1) {
      chain.error = "its backing file's name cannot be read";
      return;
    }
    stored.resize(size - 1);
    const std::string name = ValidUtf8(BareName(stored));
    if (depth == backing_files.size()) {
      chain.needs = name;
      return;
    }
    if (name != backing_files[depth]) {
      chain.error = "its backing file changed while it was searched";
      return;
    }
    const std::string parent_path = folder + name;
    if (!Signed(parent_path)) {
      chain.error = "its backing file " + name + " is not a QCOW2 image";
      return;
    }
    OpenChain(folder, parent_path, backing_files, depth + 1, chain);
    if (chain.needs || !chain.error.empty()) return;
    if (libqcow_file_set_parent_file(raw, chain.files.front().get(), &error) != 1) {
      chain.error = ErrorText(error);
      return;
    }
  }
  chain.files.insert(chain.files.begin(), std::move(file));
}

}  // namespace

bool IsQcow(const std::string& path) { return Signed(path); }

QcowImage OpenQcow(const std::string& path, const std::vector<std::string>& backing_files) {
  auto chain = std::make_shared<Chain>();
  OpenChain(FolderOf(path), path, backing_files, 0, *chain);
  if (chain->needs) return {std::nullopt, chain->needs, {}};
  if (!chain->error.empty()) return {std::nullopt, std::nullopt, chain->error};
  libqcow_file_t* image = chain->files.front().get();
  size64_t size = 0;
  if (libqcow_file_get_media_size(image, &size, nullptr) != 1) {
    return {std::nullopt, std::nullopt, "its size cannot be read"};
  }
  return {ByteSource{size, 512,
                     [chain, image](std::uint64_t offset, std::uint8_t* into, std::size_t n) {
                       return libqcow_file_read_buffer_at_offset(
                                  image, into, n, static_cast<off64_t>(offset), nullptr) ==
                              static_cast<ssize_t>(n);
                     }},
          std::nullopt,
          {}};
}

}  // namespace quenthar::image
