// Prints the version record of each file given, one "Name=value" a line in
// UTF-8, for the setup test to check the installed programs and the setup:
//   file_version FILE...
// Exits with 1 when a file has no version record.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  std::string text(size > 0 ? size - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  return text;
}

bool Print(const wchar_t* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  std::vector<char> record(size);
  if (size == 0 || !GetFileVersionInfoW(path, 0, size, record.data())) return false;
  // The record's first language and code page name its block of texts.
  WORD* translation = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                      &length) ||
      length < 4)
    return false;
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
  std::printf("Language=%04x\n", translation[0]);
  for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
                              L"CompanyName", L"LegalCopyright", L"OriginalFilename"}) {
    wchar_t* value = nullptr;
    if (VerQueryValueW(record.data(), (std::wstring(block) + name).c_str(), reinterpret_cast<void**>(&value),
                       &length) &&
        value != nullptr)
      std::printf("%s=%s\n", Utf8(name).c_str(), Utf8(value).c_str());
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int status = 0;
  for (int i = 1; i < argc; ++i) {
    if (!Print(argv[i])) {
      std::fprintf(stderr, "%s: no version record\n", Utf8(argv[i]).c_str());
      status = 1;
    }
  }
  return status;
}
