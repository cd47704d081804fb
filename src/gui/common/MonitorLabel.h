#pragma once

#include <QLabel>
#include <QStringList>

// A label whose size does not depend on its text. The live monitor changes
// its text for every received piece; a plain label would have the window
// measure and lay out that text again each time.
//
// text() stays exactly what was received; what is drawn is its lines with
// the control characters left out (the transfer's end character would
// otherwise show as an empty box), and only as many whole lines as the box
// holds: a line cut in half tells the user nothing.
class MonitorLabel : public QLabel
{
    Q_OBJECT
public:
    explicit MonitorLabel(QWidget *parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return false; }
    // The lines drawn at the present size, as laid out (wrapped) in the box.
    QStringList shownLines() const;
    // The received text as it is shown: line breaks kept, other control characters dropped.
    static QString displayText(const QString &received);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Line
    {
        QString text;
        int y = 0;
    };
    QList<Line> layoutLines() const;
};
