#include "ui/Fonts.h"

#include <QStringList>

namespace kkm::ui {

namespace {

constexpr int kDefaultPixelSize = 11;
constexpr int kStripPixelSize = 13;

QFont MakeFont(const QStringList& families, int pixelSize, bool bold) {
  QFont font;
  font.setFamilies(families);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

QStringList SansFamilies() { return {"MS Sans Serif", "Liberation Sans", "DejaVu Sans"}; }

}  // namespace

QFont DefaultFont() { return MakeFont(SansFamilies(), kDefaultPixelSize, false); }

QFont NoticeFont() { return MakeFont(SansFamilies(), kStripPixelSize, true); }

QFont StatusFont() {
  return MakeFont({"Times New Roman", "Liberation Serif", "DejaVu Serif"}, kStripPixelSize, true);
}

}  // namespace kkm::ui
