#pragma once
// Windows only: the tool's text is UTF-8, and a Windows console shows bytes
// in its own code page (866 or 1251 on a Russian system), which garbles every
// Cyrillic letter. Standard output and error that are consoles get their text
// as UTF-16 through WriteConsoleW instead, whatever the code page; a file or
// a pipe still gets the UTF-8 bytes unchanged.

#ifdef _WIN32

#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>

namespace kkm::cli {

// Writes UTF-8 text to a console as UTF-16. A character split between two
// writes waits for its last bytes; bytes that are not UTF-8 show as U+FFFD.
// Nothing is held back otherwise, so the text appears as it is written.
class ConsoleBuffer : public std::streambuf {
 public:
  // `console`: a console output handle (a HANDLE).
  explicit ConsoleBuffer(void* console);
  ~ConsoleBuffer() override;

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  // Writes every complete character of pending_; false when the console refused.
  bool writeComplete();

  void* console_;
  std::string pending_;
};

// While it lives, std::cout and std::cerr write through a ConsoleBuffer each
// where their handle is a console; left as they are otherwise.
class ConsoleOutput {
 public:
  ConsoleOutput();
  ~ConsoleOutput();
  ConsoleOutput(const ConsoleOutput&) = delete;
  ConsoleOutput& operator=(const ConsoleOutput&) = delete;

 private:
  struct Redirect;
  std::unique_ptr<Redirect> out_, err_;
};

}  // namespace kkm::cli

#endif
