#include "tools/kkm-netnum-cli/WindowsConsole.h"

#include <windows.h>

#include <algorithm>
#include <iostream>

namespace kkm::cli {

namespace {

// Where the last character of `text` starts, when its last bytes are still
// to come; text.size() when it is complete (or not UTF-8 at all).
std::size_t IncompleteTail(const std::string& text) {
  const std::size_t size = text.size();
  for (std::size_t back = 1; back <= std::min<std::size_t>(3, size); ++back) {
    const auto byte = static_cast<unsigned char>(text[size - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    const std::size_t length = byte >= 0xF0 && byte <= 0xF4   ? 4
                               : byte >= 0xE0 && byte <= 0xEF ? 3
                               : byte >= 0xC2 && byte <= 0xDF ? 2
                                                              : 1;
    return back < length ? size - back : size;
  }
  return size;
}

// Writes all of `text` to the console, in pieces the console takes.
bool WriteWide(HANDLE console, const std::wstring& text) {
  constexpr std::size_t kPiece = 8192;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t count = std::min(kPiece, text.size() - at);
    // A surrogate pair stays in one piece.
    if (count > 1 && at + count < text.size() && IS_HIGH_SURROGATE(text[at + count - 1])) --count;
    DWORD written = 0;
    if (!WriteConsoleW(console, text.data() + at, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0)
      return false;
    at += written;
  }
  return true;
}

bool WriteUtf8(HANDLE console, const char* text, std::size_t size) {
  if (size == 0) return true;
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0);
  if (length <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(size), wide.data(), length);
  return WriteWide(console, wide);
}

}  // namespace

ConsoleBuffer::ConsoleBuffer(void* console) : console_(console) {}

ConsoleBuffer::~ConsoleBuffer() {
  // What is left is written as it stands: a cut character shows as U+FFFD.
  writeComplete();
  WriteUtf8(static_cast<HANDLE>(console_), pending_.data(), pending_.size());
}

ConsoleBuffer::int_type ConsoleBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  pending_.push_back(traits_type::to_char_type(c));
  return writeComplete() ? c : traits_type::eof();
}

std::streamsize ConsoleBuffer::xsputn(const char* s, std::streamsize n) {
  pending_.append(s, static_cast<std::size_t>(n));
  return writeComplete() ? n : 0;
}

int ConsoleBuffer::sync() { return writeComplete() ? 0 : -1; }

bool ConsoleBuffer::writeComplete() {
  const std::size_t complete = IncompleteTail(pending_);
  const bool ok = WriteUtf8(static_cast<HANDLE>(console_), pending_.data(), complete);
  pending_.erase(0, complete);
  return ok;
}

struct ConsoleOutput::Redirect {
  Redirect(std::ostream& stream, HANDLE console) : stream(stream), buffer(console) {
    stream.flush();
    previous = stream.rdbuf(&buffer);
  }
  ~Redirect() {
    stream.flush();
    stream.rdbuf(previous);
  }
  std::ostream& stream;
  ConsoleBuffer buffer;
  std::streambuf* previous = nullptr;
};

namespace {
// The handle behind `which` when it is a console, else null.
HANDLE ConsoleHandle(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}
}  // namespace

ConsoleOutput::ConsoleOutput() {
  if (const HANDLE console = ConsoleHandle(STD_OUTPUT_HANDLE))
    out_ = std::make_unique<Redirect>(std::cout, console);
  if (const HANDLE console = ConsoleHandle(STD_ERROR_HANDLE))
    err_ = std::make_unique<Redirect>(std::cerr, console);
}

ConsoleOutput::~ConsoleOutput() = default;

}  // namespace kkm::cli
