#pragma once

// Colours and tab positions the main window's source files share.
#include <QColor>

namespace frmMainLook {
inline const QColor kRed(255, 0, 0);
inline const QColor kDarkGrey(64, 64, 64);
inline const QColor kGrey(128, 128, 128);
inline const QColor kYellow(255, 255, 0);
inline const QColor kDarkRed(192, 0, 0);
inline const QColor kGreen(0, 128, 0);

constexpr int kTabConnect = 0;
constexpr int kTabTransfer = 1;
constexpr int kTabAnalyse = 2;
constexpr int kTabSetup = 3;
}  // namespace frmMainLook
