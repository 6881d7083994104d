#include "files/FileFailure.h"

#include <array>
#include <cstring>
#include <string_view>

namespace kkm::files {

namespace {

constexpr std::array<const char*, kFileFailureCount> kNames{
    "no-folder",   "link",        "not-regular",  "not-a-folder",  "other-owner",
    "read-only",   "too-large",   "in-use",       "no-reader",     "cannot-create",
    "cannot-open", "cannot-read", "cannot-write", "cannot-rename", "cannot-remove",
};
static_assert(std::string_view(kNames[static_cast<int>(FileFailure::CannotRemove)]) == "cannot-remove");

// "<what>: <the system's error>", or just <what>.
std::string WithSystemError(std::string what, int osError) {
  return osError != 0 ? what + ": " + std::strerror(osError) : what;
}

std::string FileText(const Failure& f) {
  const std::string& path = f.detail;
  switch (static_cast<FileFailure>(f.code)) {
    case FileFailure::NoFolder:
      return "не найдена папка для файлов пользователя (не задана домашняя папка)";
    case FileFailure::Link:
      return "на месте файла " + path + " символическая ссылка";
    case FileFailure::NotRegular:
      return path + " — не обычный файл";
    case FileFailure::NotAFolder:
      return path + " — не папка";
    case FileFailure::OtherOwner:
      return "папка " + path + " принадлежит другому пользователю";
    case FileFailure::ReadOnly:
      return "папка " + path + " только для чтения";
    case FileFailure::TooLarge:
      return "файл " + path + " больше " + std::to_string(f.expected) + " байт";
    case FileFailure::InUse:
      return "файл " + path + " занят другим процессом";
    case FileFailure::NoReader:
      return path + " — канал, который никто не читает";
    case FileFailure::CannotCreate:
      return WithSystemError("не удалось создать " + path, f.osError);
    case FileFailure::CannotOpen:
      return WithSystemError("не удалось открыть " + path, f.osError);
    case FileFailure::CannotRead:
      return WithSystemError("не удалось прочитать " + path, f.osError);
    case FileFailure::CannotWrite:
      return WithSystemError("не удалось записать " + path, f.osError);
    case FileFailure::CannotRename:
      return WithSystemError("не удалось переименовать " + path, f.osError);
    case FileFailure::CannotRemove:
      return WithSystemError("не удалось удалить " + path, f.osError);
  }
  return "неизвестная причина";
}

constexpr FailureDomain kDomain{kNames, FileText};

}  // namespace

const FailureDomain& FailureDomainOf(FileFailure) { return kDomain; }

Failure FileTooLarge(const std::string& path, std::int32_t limit) {
  Failure failure = About(FileFailure::TooLarge, path);
  failure.expected = limit;
  return failure;
}

Failure FileError(FileFailure code, const std::string& path, int osError) {
  return About(code, path, osError);
}

}  // namespace kkm::files
