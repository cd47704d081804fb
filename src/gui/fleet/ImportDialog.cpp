#include "gui/fleet/ImportDialog.h"

#include "gui/fleet/ArchiveThread.h"

#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int kProgressSteps = 1000;
constexpr int kProgressMs = 100;

const QString kFilter = QStringLiteral("Locator Data Files (*.csv);;All Files (*)");

QString countsText(const Archive::ImportCounts &c)
{
    return QStringLiteral("%1 new, %2 duplicate, %3 skipped, %4 conflicts")
        .arg(c.added)
        .arg(c.duplicates)
        .arg(c.skipped)
        .arg(c.conflicts);
}

QString stateText(const ImportDialog::FileOutcome &o)
{
    switch (o.state) {
    case ImportDialog::FileOutcome::Waiting:
        return QStringLiteral("Not imported");
    case ImportDialog::FileOutcome::Importing:
        return QStringLiteral("Importing");
    case ImportDialog::FileOutcome::Imported:
        return QStringLiteral("Imported");
    case ImportDialog::FileOutcome::AlreadyImported:
        return QStringLiteral("Already imported");
    case ImportDialog::FileOutcome::Failed:
        return QStringLiteral("Failed: ") + o.error;
    case ImportDialog::FileOutcome::Cancelled:
        return QStringLiteral("Cancelled, nothing of it kept");
    }
    return {};
}

}  // namespace

ImportDialog::ImportDialog(ArchiveThread &thread, QWidget *parent)
    : QDialog(parent)
    , m_thread(thread)
    , m_list(new QListWidget(this))
    , m_addFiles(new QPushButton(QStringLiteral("Add Files..."), this))
    , m_addFolder(new QPushButton(QStringLiteral("Add Folder..."), this))
    , m_clear(new QPushButton(QStringLiteral("Clear"), this))
    , m_import(new QPushButton(QStringLiteral("Import"), this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
    , m_close(new QPushButton(QStringLiteral("Close"), this))
    , m_progress(new QProgressBar(this))
    , m_status(new QLabel(this))
    , m_summary(new QTableWidget(0, 6, this))
{
    setWindowTitle(QStringLiteral("Import Data Files"));
    setObjectName(QStringLiteral("dlgImport"));
    setAcceptDrops(true);
    m_list->setObjectName(QStringLiteral("lstFiles"));
    m_import->setObjectName(QStringLiteral("cmdImport"));
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    m_progress->setObjectName(QStringLiteral("prgImport"));
    m_summary->setObjectName(QStringLiteral("lvwSummary"));
    m_status->setObjectName(QStringLiteral("lblImportStatus"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("Data files to import (add them, or drop files and folders here):"), this));
    layout->addWidget(m_list);
    auto *adding = new QHBoxLayout;
    adding->addWidget(m_addFiles);
    adding->addWidget(m_addFolder);
    adding->addWidget(m_clear);
    adding->addStretch();
    layout->addLayout(adding);
    layout->addWidget(m_progress);
    layout->addWidget(m_status);
    m_summary->setHorizontalHeaderLabels({QStringLiteral("File"), QStringLiteral("Result"), QStringLiteral("New"),
                                          QStringLiteral("Duplicate"), QStringLiteral("Skipped"),
                                          QStringLiteral("Conflicts")});
    m_summary->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    m_summary->verticalHeader()->hide();
    m_summary->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(m_summary, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_import);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);
    resize(720, 520);

    m_progress->setRange(0, kProgressSteps);
    m_progress->setValue(0);
    m_progressTimer.setInterval(kProgressMs);
    connect(&m_progressTimer, &QTimer::timeout, this, &ImportDialog::showProgress);
    connect(m_addFiles, &QPushButton::clicked, this, &ImportDialog::addFilesClicked);
    connect(m_addFolder, &QPushButton::clicked, this, &ImportDialog::addFolderClicked);
    connect(m_clear, &QPushButton::clicked, this, [this] {
        m_files.clear();
        m_list->clear();
        m_import->setEnabled(false);
    });
    connect(m_import, &QPushButton::clicked, this, &ImportDialog::startImport);
    connect(m_cancel, &QPushButton::clicked, this, &ImportDialog::cancelImport);
    connect(m_close, &QPushButton::clicked, this, &QDialog::close);
    setImporting(false);
    m_import->setEnabled(false);
}

ImportDialog::~ImportDialog()
{
    if (m_control)
        m_control->cancel = true;
}

void ImportDialog::addPaths(const QStringList &paths)
{
    // As `locator-cli archive import` takes them: a folder is its .csv files.
    for (const QString &f : Archive::DataFilesIn(paths)) {
        if (m_files.contains(f))
            continue;
        m_files << f;
        m_list->addItem(QDir::toNativeSeparators(f));
    }
    m_import->setEnabled(!isImporting() && !m_files.isEmpty());
}

void ImportDialog::addFilesClicked()
{
    // Shown without a nested event loop; the choice arrives by signal.
    auto *dialog = new QFileDialog(this, QStringLiteral("Add Data Files"), QString(), kFilter);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    connect(dialog, &QFileDialog::filesSelected, this, &ImportDialog::addPaths);
    dialog->open();
}

void ImportDialog::addFolderClicked()
{
    auto *dialog = new QFileDialog(this, QStringLiteral("Add a Folder of Data Files"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    connect(dialog, &QFileDialog::filesSelected, this, &ImportDialog::addPaths);
    dialog->open();
}

void ImportDialog::dragEnterEvent(QDragEnterEvent *event)
{
    if (!isImporting() && event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void ImportDialog::dropEvent(QDropEvent *event)
{
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    addPaths(paths);
    event->acceptProposedAction();
}

void ImportDialog::closeEvent(QCloseEvent *event)
{
    // Closing while importing is Cancel; the dialog stays until the file
    // under way is rolled back.
    if (isImporting()) {
        cancelImport();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ImportDialog::setImporting(bool on)
{
    m_addFiles->setEnabled(!on);
    m_addFolder->setEnabled(!on);
    m_clear->setEnabled(!on);
    m_import->setEnabled(!on && !m_files.isEmpty());
    m_cancel->setEnabled(on);
    m_close->setEnabled(!on);
}

void ImportDialog::startImport()
{
    if (isImporting() || m_files.isEmpty())
        return;
    m_outcomes.clear();
    m_totalBytes = 0;
    m_doneBytes = 0;
    m_current = -1;
    for (const QString &f : std::as_const(m_files)) {
        FileOutcome o;
        o.path = f;
        o.size = std::max<qint64>(QFileInfo(f).size(), 1);
        m_totalBytes += o.size;
        m_outcomes << o;
    }
    m_summary->setRowCount(int(m_outcomes.size()));
    for (int i = 0; i < m_outcomes.size(); ++i)
        showOutcome(i);
    m_control = std::make_shared<Archive::ImportControl>();
    setImporting(true);
    m_progress->setValue(0);
    m_status->setText(QStringLiteral("Importing..."));
    m_progressTimer.start();

    QPointer<ImportDialog> self(this);
    ArchiveThread *thread = &m_thread;
    const Archive::Location location = m_location;
    const QStringList files = m_files;
    m_thread.run(
        [thread, self, location, files, control = m_control]() -> QString {
            Archive::Store store;
            QString error;
            if (!store.open(location, &error, Archive::Store::CreateIfMissing))
                return error;
            for (int i = 0; i < files.size(); ++i) {
                if (control->cancel)
                    break;
                control->bytesRead = 0;
                thread->post([self, i] {
                    if (self)
                        self->fileStarted(i);
                });
                const Archive::ImportResult r = store.importFile(files.at(i), control.get());
                thread->post([self, i, r] {
                    if (self)
                        self->fileDone(i, r);
                });
                if (r.cancelled)
                    break;
            }
            return {};
        },
        [self](const QString &openError) {
            if (self)
                self->importDone(openError);
        });
}

void ImportDialog::cancelImport()
{
    if (!m_control)
        return;
    m_control->cancel = true;
    m_cancel->setEnabled(false);
    m_status->setText(QStringLiteral("Cancelling: the file under way is rolled back..."));
}

void ImportDialog::fileStarted(int index)
{
    m_current = index;
    m_outcomes[index].state = FileOutcome::Importing;
    showOutcome(index);
    m_status->setText(QStringLiteral("Importing %1 (%2 of %3)")
                          .arg(QDir::toNativeSeparators(m_outcomes.at(index).path))
                          .arg(index + 1)
                          .arg(m_outcomes.size()));
}

void ImportDialog::fileDone(int index, const Archive::ImportResult &r)
{
    FileOutcome &o = m_outcomes[index];
    o.counts = r.counts;
    o.error = r.error;
    if (r.cancelled) {
        o.state = FileOutcome::Cancelled;
    } else if (r.status == Archive::ImportResult::Failed) {
        o.state = FileOutcome::Failed;
    } else if (r.status == Archive::ImportResult::AlreadyImported) {
        // Every record of the file is in the archive already.
        o.state = FileOutcome::AlreadyImported;
        o.counts.duplicates += o.counts.added;
        o.counts.added = 0;
    } else {
        o.state = FileOutcome::Imported;
    }
    m_doneBytes += o.size;
    m_current = -1;
    showOutcome(index);
    showProgress();
}

void ImportDialog::importDone(const QString &openError)
{
    m_progressTimer.stop();
    const bool cancelled = m_control && m_control->cancel;
    m_control.reset();
    setImporting(false);
    if (!openError.isEmpty()) {
        m_status->setText(openError);
    } else {
        m_status->setText(cancelled ? QStringLiteral("Cancelled. ") + summaryText() : summaryText());
        if (!cancelled)
            m_progress->setValue(kProgressSteps);
    }
    emit importEnded();
}

QString ImportDialog::summaryText() const
{
    Archive::ImportCounts sum;
    int imported = 0;
    for (const FileOutcome &o : m_outcomes) {
        if (o.state == FileOutcome::Imported || o.state == FileOutcome::AlreadyImported) {
            ++imported;
            sum += o.counts;
        }
    }
    return QStringLiteral("%1 of %2 files imported: %3").arg(imported).arg(m_outcomes.size()).arg(countsText(sum));
}

void ImportDialog::showProgress()
{
    qint64 done = m_doneBytes;
    if (m_control && m_current >= 0)
        done += std::min(m_control->bytesRead.load(), m_outcomes.at(m_current).size);
    m_progress->setValue(m_totalBytes > 0 ? int(done * kProgressSteps / m_totalBytes) : 0);
}

void ImportDialog::showOutcome(int index)
{
    const FileOutcome &o = m_outcomes.at(index);
    const bool counted = o.state == FileOutcome::Imported || o.state == FileOutcome::AlreadyImported;
    const QStringList cells = {QFileInfo(o.path).fileName(),
                               stateText(o),
                               counted ? QString::number(o.counts.added) : QString(),
                               counted ? QString::number(o.counts.duplicates) : QString(),
                               counted ? QString::number(o.counts.skipped) : QString(),
                               counted ? QString::number(o.counts.conflicts) : QString()};
    for (int c = 0; c < cells.size(); ++c) {
        auto *item = new QTableWidgetItem(cells.at(c));
        if (c == 0)
            item->setToolTip(QDir::toNativeSeparators(o.path));
        if (c >= 2)
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_summary->setItem(index, c, item);
    }
}
