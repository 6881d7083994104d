#pragma once
// The fonts the windows were laid out for, with close families in their place
// where those are not installed: "MS Sans Serif" 11 px falls back to Liberation
// Sans (Arial's metrics) and then DejaVu Sans; "Times New Roman" to Liberation
// Serif and then DejaVu Serif. All sizes are in pixels, as in the layout.

#include <QFont>

namespace kkm::ui {

// Captions, texts and the number field: 11 px.
QFont DefaultFont();
// The notice strip: bold, 13 px.
QFont NoticeFont();
// The status strip: serif, bold, 13 px.
QFont StatusFont();

}  // namespace kkm::ui
