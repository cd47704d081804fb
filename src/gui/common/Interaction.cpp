#include "gui/common/Interaction.h"

#include "core/datafile/DataFileFormat.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QInputDialog>
#include <QMessageBox>
#include <QScreen>
#include <QTreeView>

static Interaction *g_installed = nullptr;

namespace {

// What the user left the file dialogs at, for the rest of the run: size,
// view and column widths. Kept in memory, not in a settings file of ours.
struct RememberedFileDialog
{
    QSize size;
    QFileDialog::ViewMode viewMode = QFileDialog::Detail;
    QByteArray columns;
};

RememberedFileDialog &rememberedFileDialog()
{
    static RememberedFileDialog remembered;
    return remembered;
}

// A data file name as transfers make them; chart images are named alike.
QString typicalFileName()
{
    LocatorIdentity who;
    who.user = QStringLiteral("ACME LTD.");
    who.model = QStringLiteral("KX-200");
    who.serialNo = QStringLiteral("00012345");
    DataFileFormat::NameParts range;
    range.rangeStart = QStringLiteral("01-08-26");
    range.rangeEnd = QStringLiteral("08-12-26");
    return DataFileFormat::MakeLogFileName(QStringLiteral("DD"), who, QDateTime(QDate(2026, 12, 8), QTime(14, 3, 22)),
                                           range)
        + QStringLiteral(".csv");
}

// First use: wide enough that the name column shows such a name whole, the
// other columns beside it as far as the screen allows.
void fitTypicalName(QFileDialog &dialog, QTreeView *details)
{
    if (!details)
        return;
    QHeaderView *header = details->header();
    const int nameWidth = details->fontMetrics().horizontalAdvance(typicalFileName()) + details->iconSize().width()
        + 4 * details->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, details) + 16;
    const int grow = nameWidth - header->sectionSize(0);
    if (grow <= 0)
        return;
    header->resizeSection(0, nameWidth);
    int width = dialog.width() + grow;
    int height = qMax(dialog.height(), 26 * details->fontMetrics().height());
    if (const QScreen *screen = dialog.screen()) {
        // Room for the window frame; on a small screen the names come first.
        const QRect area = screen->availableGeometry();
        width = qMin(width, area.width() - 16);
        height = qMin(height, area.height() * 9 / 10);
    }
    dialog.resize(qMax(width, dialog.width()), qMax(height, dialog.height()));
}

QString runFileDialog(QWidget *parent, QFileDialog::AcceptMode mode, const QString &caption, const QString &path,
                      const QString &filter)
{
    QFileDialog dialog(parent);
    // Qt's own dialog on every desktop: its size and columns are ours to set
    // and to remember; a native one keeps them to itself. Set before
    // anything else, or the other settings may go to the native one.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (!caption.isEmpty())
        dialog.setWindowTitle(caption);  // otherwise the dialog's own "Open" or "Save As"
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (!filter.isEmpty())
        dialog.setNameFilter(filter);
    // A folder, or (saving) a folder and a proposed name; a folder that does
    // not exist leaves the dialog where it would start anyway.
    const QFileInfo target(path);
    if (target.isDir()) {
        dialog.setDirectory(target.absoluteFilePath());
    } else if (!path.isEmpty()) {
        if (target.absoluteDir().exists())
            dialog.setDirectory(target.absolutePath());
        if (mode == QFileDialog::AcceptSave)
            dialog.selectFile(target.fileName());
    }

    auto *details = dialog.findChild<QTreeView *>();
    RememberedFileDialog &remembered = rememberedFileDialog();
    if (remembered.size.isValid()) {
        dialog.resize(remembered.size);
        dialog.setViewMode(remembered.viewMode);
        if (details && !remembered.columns.isEmpty())
            details->header()->restoreState(remembered.columns);
    } else {
        fitTypicalName(dialog, details);
    }

    const bool accepted = dialog.exec() == QDialog::Accepted;
    remembered.size = dialog.size();
    remembered.viewMode = dialog.viewMode();
    if (details)
        remembered.columns = details->header()->saveState();
    return accepted ? dialog.selectedFiles().value(0) : QString();
}

}  // namespace

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
    return runFileDialog(parent, QFileDialog::AcceptOpen, caption, folder, filter);
}

QString QtInteraction::saveFileName(QWidget *parent, const QString &caption, const QString &path, const QString &filter)
{
    return runFileDialog(parent, QFileDialog::AcceptSave, caption, path, filter);
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
