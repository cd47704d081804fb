#pragma once

#include "core/archive/Archive.h"

#include <QDialog>
#include <QStringList>
#include <QTimer>

#include <memory>

class ArchiveThread;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;

// Imports data files into the archive: files and folders added by the
// buttons or dropped on it, imported one after the other on the archive
// thread with a progress bar and Cancel, then a line per file of what it
// added. Each file is one transaction: Cancel rolls back the file under way,
// and the files finished before it stay.
class ImportDialog : public QDialog
{
    Q_OBJECT
public:
    struct FileOutcome
    {
        enum State { Waiting, Importing, Imported, AlreadyImported, Failed, Cancelled } state = Waiting;
        QString path;
        qint64 size = 0;
        Archive::ImportCounts counts;
        QString error;
    };

    ImportDialog(ArchiveThread &thread, QWidget *parent);
    ~ImportDialog() override;

    // Where the next import goes.
    void setArchive(const Archive::Location &location) { m_location = location; }
    // Adds files, and a folder's .csv files in name order; each once.
    void addPaths(const QStringList &paths);
    QStringList files() const { return m_files; }

    void startImport();  // "Import"
    void cancelImport();  // "Cancel" while importing
    bool isImporting() const { return m_control != nullptr; }
    const QList<FileOutcome> &outcomes() const { return m_outcomes; }
    QString summaryText() const;

    QPushButton *importButton() const { return m_import; }
    QPushButton *cancelButton() const { return m_cancel; }
    QProgressBar *progressBar() const { return m_progress; }
    QTableWidget *summaryTable() const { return m_summary; }

signals:
    // An import has ended (finished, cancelled or failed): the archive may have changed.
    void importEnded();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void addFilesClicked();
    void addFolderClicked();
    void fileStarted(int index);
    void fileDone(int index, const Archive::ImportResult &result);
    void importDone(const QString &openError);
    void showProgress();
    void showOutcome(int index);
    void setImporting(bool on);

    ArchiveThread &m_thread;
    Archive::Location m_location;
    QStringList m_files;
    QList<FileOutcome> m_outcomes;
    std::shared_ptr<Archive::ImportControl> m_control;  // while importing
    int m_current = -1;
    qint64 m_totalBytes = 0;
    qint64 m_doneBytes = 0;
    QTimer m_progressTimer;

    QListWidget *m_list;
    QPushButton *m_addFiles;
    QPushButton *m_addFolder;
    QPushButton *m_clear;
    QPushButton *m_import;
    QPushButton *m_cancel;
    QPushButton *m_close;
    QProgressBar *m_progress;
    QLabel *m_status;
    QTableWidget *m_summary;
};
