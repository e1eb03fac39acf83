// Prints the version resource and the application manifest of a Windows
// program, read back the way Windows reads them:
//   show_resources PROGRAM.exe
// One "Name=value" line per version string, "FileVersion#=a.b.c.d" from the
// fixed part, then "Manifest:" and the manifest's text.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: show_resources PROGRAM.exe\n");
    return 2;
  }
  const wchar_t* path = argv[1];
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  std::vector<char> info(size);
  if (size == 0 || !GetFileVersionInfoW(path, 0, size, info.data())) {
    std::printf("no version resource\n");
    return 1;
  }
  void* fixed_at = nullptr;
  UINT fixed_size = 0;
  if (VerQueryValueW(info.data(), L"\\", &fixed_at, &fixed_size) &&
      fixed_size >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(fixed_at);
    std::printf("FileVersion#=%lu.%lu.%lu.%lu\n", HIWORD(fixed->dwFileVersionMS),
                LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                LOWORD(fixed->dwFileVersionLS));
  }
  for (const wchar_t* name : {L"FileVersion", L"ProductVersion", L"ProductName", L"FileDescription",
                              L"OriginalFilename", L"LegalCopyright"}) {
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(info.data(), key.c_str(), &value, &length)) {
      std::printf("%ls=%ls\n", name, static_cast<const wchar_t*>(value));
    }
  }
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC manifest =
      module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24)) : nullptr;
  HGLOBAL loaded = manifest ? LoadResource(module, manifest) : nullptr;
  if (loaded == nullptr) {
    std::printf("no manifest\n");
    return 1;
  }
  std::printf("Manifest:\n");
  std::fwrite(LockResource(loaded), 1, SizeofResource(module, manifest), stdout);
  return 0;
}
