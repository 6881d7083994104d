// Cyrillic on a Windows console: kkm-netnum-cli runs on this test's own
// console, in each code page a Russian system may have, and the screen is
// read back; with its output in a file the bytes stay UTF-8.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/kkm-netnum-cli/WindowsConsole.h"

namespace {

constexpr SHORT kColumns = 200, kRows = 40;  // wide enough that no line wraps
HANDLE screen = INVALID_HANDLE_VALUE;

std::string Convert(const std::wstring& wide) {
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                                  static_cast<int>(utf8.size()), nullptr, nullptr));
  return utf8;
}
std::wstring Convert(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                  static_cast<int>(wide.size())));
  return wide;
}

// Clears the screen in `codePage`.
void Clear(UINT codePage) {
  if (screen == INVALID_HANDLE_VALUE) {
    FreeConsole();
    AllocConsole();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(SetConsoleScreenBufferSize(screen, {kColumns, kRows})) << "no console: " << GetLastError();
  }
  ASSERT_TRUE(SetConsoleOutputCP(codePage));
  DWORD done = 0;
  FillConsoleOutputCharacterW(screen, L' ', kColumns * kRows, {0, 0}, &done);
  SetConsoleCursorPosition(screen, {0, 0});
}

// The screen's lines without trailing blanks.
std::string Shown() {
  std::wstring cells(kColumns * kRows, L' '), text;
  DWORD read = 0;
  ReadConsoleOutputCharacterW(screen, cells.data(), kColumns * kRows, {0, 0}, &read);
  for (SHORT row = 0; row < kRows; ++row) {
    const std::wstring line = cells.substr(row * kColumns, kColumns);
    text += line.substr(0, line.find_last_not_of(L' ') + 1) + L'\n';
  }
  return Convert(text.substr(0, text.find_last_not_of(L'\n') + 1));
}

// Runs kkm-netnum-cli with `arguments`, both outputs on `output`; its exit code.
DWORD RunTool(const std::string& arguments, HANDLE output) {
  std::string exe = KKM_CLI_EXE;  // a path of the build machine: drive Z: under wine
  std::replace(exe.begin(), exe.end(), '/', '\\');
  std::wstring command = Convert("\"Z:" + exe + "\" " + arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process))
    return 0xFFFF;
  DWORD code = 0xFFFF;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

struct ToolCase {
  const char* arguments;
  DWORD exitCode;
  const char* shown;  // a line of what the tool writes
} const kToolCases[] = {
    {"write 100 --port COM1", 2, "Сетевой номер должен быть числом от 1 до 99."},  // standard error
    {"ports --unmap COM9", 0, "COM9: назначение снято"},                           // standard output
    {"", 2, "Ошибка в командной строке: нужна одна команда"},                      // usage error
    // A Cyrillic argument comes back whole; Windows has no /dev to suggest.
    {"read --port \"Порт №1\"", 2, "неверное имя порта Порт №1 (COM1..COM255 или путь к устройству)"},
};

TEST(WindowsConsole, ToolWritesCyrillicInEveryCodePage) {
  for (const UINT codePage : {866u, 1251u, 65001u}) {
    for (const ToolCase& row : kToolCases) {
      Clear(codePage);
      EXPECT_EQ(RunTool(row.arguments, screen), row.exitCode) << row.arguments;
      EXPECT_NE(Shown().find(row.shown), std::string::npos)
          << "code page " << codePage << ", kkm-netnum-cli " << row.arguments << " showed:\n"
          << Shown();
    }
  }
}

TEST(WindowsConsole, ToolWritesUtf8BytesToAFile) {
  Clear(866);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE file = CreateFileW(L"console-test.out", GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(RunTool("write 100 --port COM1", file), 2u);
  CloseHandle(file);
  std::ifstream in("console-test.out", std::ios::binary);
  // Line ends as the C library's text mode writes them.
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
            "Сетевой номер должен быть числом от 1 до 99.\r\n");
  EXPECT_EQ(Shown(), "");
}

TEST(WindowsConsole, BufferJoinsCharactersSplitBetweenWrites) {
  Clear(866);
  {
    kkm::cli::ConsoleBuffer buffer(screen);
    std::ostream out(&buffer);
    for (const char byte : std::string("Сетевой № 45\n")) out.put(byte);
    out << "ошибка \xFF; \xD0";  // not UTF-8, and a character cut at the end: U+FFFD each
  }
  EXPECT_EQ(Shown(), "Сетевой № 45\nошибка \xEF\xBF\xBD; \xEF\xBF\xBD");
}

}  // namespace
