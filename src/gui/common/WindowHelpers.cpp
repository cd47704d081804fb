#include "gui/common/WindowHelpers.h"

#include <QDateEdit>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QWidget>

void CenterWindow(QWidget *window)
{
    QScreen *screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize size = window->frameGeometry().size();
    window->move(area.left() + (area.width() - size.width()) / 2, area.top() + (area.height() - size.height()) / 2);
}

void CloseOnEscape(QWidget *window)
{
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

namespace {

class EnterClicks : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || key->isAutoRepeat())
            return false;
        auto *button = qobject_cast<QPushButton *>(watched);
        if (!button || !button->isEnabled())
            return false;
        button->click();
        return true;
    }
};

class ClickSelectsSection : public QObject
{
public:
    explicit ClickSelectsSection(QDateEdit *picker)
        : QObject(picker)
        , m_picker(picker)
    { }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        // After the click has placed the cursor: the section under it is then known.
        if (event->type() == QEvent::MouseButtonRelease)
            m_picker->setSelectedSection(m_picker->currentSection());
        return false;
    }

private:
    QDateEdit *m_picker;
};

}  // namespace

void EnterPressesFocusedButton(QWidget *window)
{
    auto *filter = new EnterClicks(window);
    for (QPushButton *button : window->findChildren<QPushButton *>())
        button->installEventFilter(filter);
}

void SelectSectionOnClick(QDateEdit *picker)
{
    if (QLineEdit *field = picker->findChild<QLineEdit *>())
        field->installEventFilter(new ClickSelectsSection(picker));
}
