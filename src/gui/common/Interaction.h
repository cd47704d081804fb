#pragma once

#include <QDateTime>
#include <QString>
#include <QUrl>

class QWidget;

// Every question, message and file dialog the program shows, and the way it
// ends, in one place (the clock is core/clock/Clock.h). Production uses real dialogs;
// tests install answers of their own.
class Interaction
{
public:
    virtual ~Interaction() = default;

    // A message with an OK button.
    virtual void message(QWidget *parent, const QString &text) = 0;
    // Yes/No; true means Yes.
    virtual bool question(QWidget *parent, const QString &text) = 0;
    // An input box; cancel gives the empty text.
    virtual QString input(QWidget *parent, const QString &prompt, const QString &title, const QString &initial = {})
        = 0;
    // Empty when cancelled. filter is in Qt's form, e.g. "Locator Data Files (*.csv)".
    virtual QString openFileName(QWidget *parent, const QString &caption, const QString &folder, const QString &filter)
        = 0;
    virtual QString saveFileName(QWidget *parent, const QString &caption, const QString &path, const QString &filter)
        = 0;
    // Web pages, folders and documents through the desktop's default handler.
    virtual bool openExternally(const QUrl &url) = 0;
    // Ends the program at once; every window closes.
    virtual void endProgram(int code = 0) = 0;

    static Interaction &current();
    // Installs a replacement (nullptr restores the real dialogs). Not owned.
    static void install(Interaction *interaction);
};

class QtInteraction : public Interaction
{
public:
    void message(QWidget *parent, const QString &text) override;
    bool question(QWidget *parent, const QString &text) override;
    QString input(QWidget *parent, const QString &prompt, const QString &title, const QString &initial) override;
    QString openFileName(QWidget *parent, const QString &caption, const QString &folder,
                         const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &caption, const QString &path, const QString &filter) override;
    bool openExternally(const QUrl &url) override;
    void endProgram(int code) override;
};

// The program's default title for message boxes.
QString ProgramTitle();

// The maker's support page: ends the header-problem message, opened by "Support".
inline constexpr char SupportAddress[] = "https://locator-toolkit.example.org/support";
