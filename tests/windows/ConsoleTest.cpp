// Cyrillic on a Windows console: kkm-netnum-cli runs on a console of this
// test's own, set to each code page a Russian system may have, and what the
// console shows is read back from its screen; with its output in a file the
// bytes stay UTF-8. The console buffer itself is written a byte at a time.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>

#include "tools/kkm-netnum-cli/WindowsConsole.h"

namespace {

constexpr SHORT kColumns = 200, kRows = 40;

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                                  static_cast<int>(wide.size())));
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string utf8(wide.size() * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                                  static_cast<int>(utf8.size()), nullptr, nullptr));
  return utf8;
}

// A console of the test's own, wide enough that no line wraps.
class ConsoleScreen : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FreeConsole();
    ASSERT_TRUE(AllocConsole()) << GetLastError();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    screen_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          &inherit, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(screen_, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetConsoleScreenBufferSize(screen_, {kColumns, kRows})) << GetLastError();
    // The tool's map and state stay in a folder of this test.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"kkm-console-test";
    CreateDirectoryW(folder.c_str(), nullptr);
    SetEnvironmentVariableW(L"APPDATA", folder.c_str());
    SetEnvironmentVariableW(L"LOCALAPPDATA", folder.c_str());
  }

  void SetUp() override {
    DWORD done = 0;
    FillConsoleOutputCharacterW(screen_, L' ', kColumns * kRows, {0, 0}, &done);
    SetConsoleCursorPosition(screen_, {0, 0});
  }

  // The screen's lines, trailing blanks cut, one '\n' after each line shown.
  static std::string Shown() {
    std::wstring cells(kColumns * kRows, L' ');
    DWORD read = 0;
    EXPECT_TRUE(ReadConsoleOutputCharacterW(screen_, cells.data(), kColumns * kRows, {0, 0}, &read));
    std::wstring text;
    for (SHORT row = 0; row < kRows; ++row) {
      std::wstring line = cells.substr(row * kColumns, kColumns);
      line.erase(line.find_last_not_of(L' ') + 1);
      text += line + L'\n';
    }
    text.erase(text.find_last_not_of(L'\n') + 1);
    return Utf8(text);
  }

  // Runs kkm-netnum-cli with `arguments` and both outputs on `output`; its exit code.
  static DWORD RunTool(const std::string& arguments, HANDLE output) {
    std::string exe = KKM_CLI_EXE;  // the build machine's path: wine shows it as drive Z:
    std::replace(exe.begin(), exe.end(), '/', '\\');
    std::wstring command = Wide("\"Z:" + exe + "\" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
      return 0xFFFF;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
  }

  static HANDLE screen_;
};
HANDLE ConsoleScreen::screen_ = INVALID_HANDLE_VALUE;

struct ToolCase {
  const char* arguments;
  DWORD exitCode;
  const char* shown;  // a line of what the tool writes
};
const ToolCase kToolCases[] = {
    {"write 100 --port COM1", 2, "Сетевой номер должен быть числом от 1 до 99."},  // standard error
    {"ports --unmap COM9", 0, "COM9: назначение снято"},                           // standard output
    {"", 2, "Ошибка в командной строке: нужна одна команда"},                      // usage error
    {"read --port \"Порт №1\"", 3, "Устройство Порт №1"},                          // Cyrillic argument
};

TEST_F(ConsoleScreen, ToolWritesCyrillicInEveryCodePage) {
  for (const UINT codePage : {866u, 1251u, 65001u}) {
    ASSERT_TRUE(SetConsoleOutputCP(codePage));
    for (const ToolCase& row : kToolCases) {
      SetUp();
      EXPECT_EQ(RunTool(row.arguments, screen_), row.exitCode) << row.arguments;
      EXPECT_NE(Shown().find(row.shown), std::string::npos)
          << "code page " << codePage << ", kkm-netnum-cli " << row.arguments << " showed:\n"
          << Shown();
    }
  }
}

TEST_F(ConsoleScreen, ToolWritesUtf8BytesToAFile) {
  wchar_t temp[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  ASSERT_NE(GetTempFileNameW(temp, L"kkm", 0, name), 0u);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetConsoleOutputCP(866));
  EXPECT_EQ(RunTool("write 100 --port COM1", file), 2u);
  CloseHandle(file);
  std::ifstream in(name, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  in.close();
  DeleteFileW(name);
  EXPECT_EQ(bytes, "Сетевой номер должен быть числом от 1 до 99.\r\n");  // the C library's text mode
  EXPECT_EQ(Shown(), "");
}

TEST_F(ConsoleScreen, BufferJoinsCharactersSplitBetweenWrites) {
  ASSERT_TRUE(SetConsoleOutputCP(866));
  {
    kkm::cli::ConsoleBuffer buffer(screen_);
    std::ostream out(&buffer);
    for (const char byte : std::string("Сетевой № 45\n")) out.put(byte);
    out << "ККМ ТИМ-31Ц, ошибка \xFF; ";  // not UTF-8: one replacement character
    out << "\xD0";                        // cut: only the first byte of "О"
  }
  EXPECT_EQ(Shown(), "Сетевой № 45\nККМ ТИМ-31Ц, ошибка \xEF\xBF\xBD; \xEF\xBF\xBD");
}

}  // namespace
