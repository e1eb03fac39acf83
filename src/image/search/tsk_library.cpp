#include "image/search/tsk_library.h"

#include <algorithm>
#include <cctype>

#include "text/utf16.h"

namespace quenthar::image {
namespace {

bool IsLetter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

}  // namespace

Error LastError() {
  const char* text = tsk_error_get();
  std::string s = ValidUtf8(text != nullptr ? text : "unknown error");
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) s.pop_back();
  return {s, tsk_error_get_errno()};
}

// The library's numbers say so where it sets them; the image libraries below
// it word their read errors in the text only ("tsk_img_read: ...", "unable
// to read ..."), so the word "read" counts there when it stands as a word or
// a part of a function's name, never inside another word ("thread", "ready").
bool IsReadFailure(const Error& e) {
  if (e.number == TSK_ERR_IMG_READ || e.number == TSK_ERR_IMG_READ_OFF ||
      e.number == TSK_ERR_FS_READ || e.number == TSK_ERR_VS_READ) {
    return true;
  }
  std::string lower = e.text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.find("missing chunk") != std::string::npos) return true;
  for (std::size_t at = lower.find("read"); at != std::string::npos;
       at = lower.find("read", at + 1)) {
    const bool starts = at == 0 || !IsLetter(lower[at - 1]);
    const std::size_t after = at + 4;
    const bool ends =
        after == lower.size() || !IsLetter(lower[after]) || lower.compare(after, 3, "ing") == 0;
    if (starts && ends) return true;
  }
  return false;
}

}  // namespace quenthar::image
