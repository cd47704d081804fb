#pragma once

#include <QLabel>

// A label whose size does not depend on its text. The live monitor changes
// its text for every received piece; a plain label would have the window
// measure and lay out that text again each time.
class MonitorLabel : public QLabel
{
    Q_OBJECT
public:
    explicit MonitorLabel(QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return false; }
};
