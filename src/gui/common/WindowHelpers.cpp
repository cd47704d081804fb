#include "gui/common/WindowHelpers.h"

#include <QDateEdit>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLayout>
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

void BringForward(QWidget *window)
{
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
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

// Holds a window at least at the preferred size its layout had at set-up.
// Qt's own limit lets boxes shrink below their texts; an explicit minimum
// alone would stop Qt from raising the limit when contents grow later, so
// the larger of the two is applied again whenever the layout changes.
class LayoutMinimum : public QObject
{
public:
    LayoutMinimum(QWidget *window, QSize preferred)
        : QObject(window)
        , m_window(window)
        , m_preferred(preferred)
    {
        apply();
    }

    void apply() { m_window->setMinimumSize(m_preferred.expandedTo(m_window->minimumSizeHint())); }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::LayoutRequest)
            apply();
        return false;
    }

private:
    QWidget *m_window;
    QSize m_preferred;
};

}  // namespace

void ApplyLayoutMinimumSize(QWidget *window)
{
    QLayout *layout = window->layout();
    if (!layout)
        return;
    layout->activate();
    window->installEventFilter(new LayoutMinimum(window, window->sizeHint()));
}

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
