#include "gui/common/Interaction.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

static Interaction *g_installed = nullptr;

Interaction &Interaction::current()
{
    static QtInteraction real;
    return g_installed ? *g_installed : real;
}

void Interaction::install(Interaction *interaction)
{
    g_installed = interaction;
}

QString ProgramTitle()
{
    return QStringLiteral("Korvex Locator PC Toolkit");
}

void QtInteraction::message(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, ProgramTitle(), text, QMessageBox::Ok);
}

bool QtInteraction::question(QWidget *parent, const QString &text)
{
    return QMessageBox::question(parent, ProgramTitle(), text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

QString QtInteraction::input(QWidget *parent, const QString &prompt, const QString &title, const QString &initial)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title.isEmpty() ? ProgramTitle() : title, prompt,
                                               QLineEdit::Normal, initial, &ok);
    return ok ? text : QString();
}

QString QtInteraction::openFileName(QWidget *parent, const QString &caption, const QString &folder,
                                    const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString QtInteraction::saveFileName(QWidget *parent, const QString &caption, const QString &path, const QString &filter)
{
    return QFileDialog::getSaveFileName(parent, caption, path, filter);
}

QDateTime QtInteraction::now()
{
    return QDateTime::currentDateTime();
}

bool QtInteraction::openExternally(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

void QtInteraction::endProgram(int code)
{
    QApplication::closeAllWindows();
    QCoreApplication::exit(code);
}
