// Prints the version record of a file, "Name=value" a line in UTF-8, for the
// setup test:  file_version FILE  (exit status 1: no record).

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  DWORD ignored = 0, size = argc == 2 ? GetFileVersionInfoSizeW(argv[1], &ignored) : 0;
  std::vector<char> record(size);
  WORD* language = nullptr;
  UINT length = 0;
  if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, record.data()) ||
      !VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&language),
                      &length))
    return 1;
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", language[0], language[1]);
  std::printf("Language=%04x\n", language[0]);
  for (const wchar_t* name : {L"ProductName", L"ProductVersion", L"FileVersion", L"FileDescription",
                              L"CompanyName", L"LegalCopyright", L"OriginalFilename"}) {
    wchar_t* value = nullptr;
    if (!VerQueryValueW(record.data(), (block + std::wstring(name)).c_str(), reinterpret_cast<void**>(&value),
                        &length))
      continue;
    char text[1024];
    WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text, nullptr, nullptr);
    std::printf("%ls=%s\n", name, text);
  }
  return 0;
}
