// Writes pictures of the main window (at start and connected), the setup
// dialog and the toolbar images enlarged, for review of fonts and layout:
//   ui_screenshots <output directory>

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <utility>

#include "ui/Application.h"
#include "ui/InitComm.h"
#include "ui/MainForm.h"
#include "ui/MessageBoxes.h"

namespace {

constexpr int kIconScale = 4;

constexpr int kReviewScale = 3;

// Writes `name`.png and, enlarged for a closer look, `name`-x3.png.
bool Save(const QPixmap& picture, const QDir& directory, const QString& name) {
  bool saved = true;
  const QPixmap enlarged = picture.scaled(picture.size() * kReviewScale);
  for (const auto& [image, suffix] : {std::pair{picture, ""}, std::pair{enlarged, "-x3"}}) {
    const QString path = directory.filePath(name + suffix + ".png");
    const bool written = image.save(path, "PNG");
    std::printf("%s %s\n", written ? "wrote" : "could not write", qPrintable(path));
    saved = saved && written;
  }
  return saved;
}

QPixmap EnlargedIcons() {
  const char* names[] = {":/icons/connect.png", ":/icons/read.png", ":/icons/write.png", ":/icons/exit.png"};
  const int cell = 32 * kIconScale + 8;
  QPixmap sheet(cell * 4, cell);
  sheet.fill(Qt::lightGray);
  QPainter painter(&sheet);
  for (int i = 0; i < 4; ++i) {
    const QImage icon(names[i]);
    painter.drawImage(QRect(i * cell + 4, 4, 32 * kIconScale, 32 * kIconScale), icon);
  }
  return sheet;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ui_screenshots <output directory>\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  kkm::ui::QtMessageBoxes boxes;
  kkm::ui::Application app(argc, argv, boxes);
  const QDir directory(QString::fromLocal8Bit(argv[1]));
  if (!directory.mkpath(".")) return 1;

  kkm::ui::TInit_Com initCom(boxes);
  kkm::ui::TMainForm mainForm(boxes);
  mainForm.show();
  initCom.show();

  bool saved = Save(mainForm.grab(), directory, "MainForm-start");
  mainForm.setStatusText("Установлен интерфейс с микроконтроллером");
  mainForm.ButtonEnabled();
  saved = Save(mainForm.grab(), directory, "MainForm-connected") && saved;
  saved = Save(initCom.grab(), directory, "Init_Com") && saved;
  saved = Save(EnlargedIcons(), directory, "icons-x4") && saved;
  return saved ? 0 : 1;
}
