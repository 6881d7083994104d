// The Windows resources a program gets from cmake/WindowsResources.cmake
// (the windowed program gets the same ones): the version record with the
// project's version and description, and the icon as resource 1. This test
// program carries them itself and reads them back.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::vector<char> OwnVersionRecord() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  std::vector<char> record(size);
  if (size == 0 || !GetFileVersionInfoA(path, 0, size, record.data())) return {};
  return record;
}

std::wstring StringValue(std::vector<char>& record, const wchar_t* name) {
  const std::wstring key = std::wstring(L"\\StringFileInfo\\041904B0\\") + name;
  wchar_t* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(record.data(), key.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
    return L"<missing>";
  return value;
}

TEST(WindowsResources, VersionRecordCarriesTheProjectVersionAndDescription) {
  std::vector<char> record = OwnVersionRecord();
  ASSERT_FALSE(record.empty()) << "no version record";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), KKM_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), KKM_VERSION_MINOR);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  EXPECT_EQ(StringValue(record, L"FileDescription"), L"Сетевой номер ККМ ТИМ-31Ц");
  EXPECT_EQ(StringValue(record, L"OriginalFilename"), L"windows_resources_tests.exe");
  EXPECT_EQ(StringValue(record, L"ProductName"), L"kkm-netnum");
  EXPECT_EQ(StringValue(record, L"ProductVersion"), KKM_VERSION_TEXT);
  EXPECT_EQ(StringValue(record, L"CompanyName"), L"kkm-netnum developers");
  EXPECT_EQ(StringValue(record, L"LegalCopyright").rfind(L"Copyright (c) 2", 0), 0u);
}

TEST(WindowsResources, IconIsResourceOne) {
  const HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0);
  ASSERT_NE(icon, nullptr);
  DestroyIcon(static_cast<HICON>(icon));
}

}  // namespace
