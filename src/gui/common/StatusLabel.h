#pragma once

#include <QLabel>

// A one-line status label. Its height is one line whatever it shows (an
// empty status must not let the panels above it move); a text too long for
// the width is drawn elided, and its whole text is the tooltip. text()
// stays the whole text.
class StatusLabel : public QLabel
{
    Q_OBJECT
public:
    explicit StatusLabel(QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return false; }
    // What is drawn at the present width.
    QString shownText() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int lineHeight() const;
};
