#pragma once

#include <QColor>
#include <QWidget>

// The round link lamp.
class Lamp : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)
public:
    explicit Lamp(QWidget *parent = nullptr);
    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &color);
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent *) override;

private:
    QColor m_fill{255, 0, 0};
};
