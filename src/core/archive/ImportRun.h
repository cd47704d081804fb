#pragma once

#include "core/archive/Archive.h"
#include "core/archive/ArchiveSchema.h"
#include "core/archive/RecordTable.h"
#include "core/datafile/DataFileHandle.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QSqlQuery>
#include <QString>

#include <memory>
#include <string>

// The import of one data file into an open archive, step by step, in one
// transaction: a failure at any step leaves the archive as it was.
namespace Archive {

// A day's records follow one another: a line that begins with the same date
// text as the last one is on the same day, without reading and checking its
// date again.
class DayOfLastDate
{
public:
    static constexpr qsizetype DateText = 8;  // "dd/MM/yy"

    bool sameDate(QByteArrayView line) const;
    int day() const { return m_day; }
    void remember(QByteArrayView line, int day);

private:
    char m_text[DateText] = {};
    int m_day = -1;
};

// A data file's bytes, read once: its fingerprint, header lines and records
// all come from the same bytes, whatever happens to the file meanwhile.
// Mapped into memory where the system allows it, else read whole. The file
// stays open (and, where files are locked, share-locked) until closed.
class FileBytes
{
public:
    enum Outcome {
        Read,
        Locked,  // a transfer is still writing it
        Unreadable,
    };
    Outcome open(const QString &path, QString *why);
    QByteArrayView bytes() const { return m_bytes; }

private:
    DataFileHandle m_slot;
    QByteArray m_copy;
    QByteArrayView m_bytes;
};

class ImportRun
{
public:
    ImportRun(QSqlDatabase &db, Location::Kind kind, const QString &path, ImportControl *control = nullptr);
    ~ImportRun();  // rolls back what was not committed
    ImportRun(const ImportRun &) = delete;
    ImportRun &operator=(const ImportRun &) = delete;

    ImportResult run();

private:
    bool load();
    bool begin();
    bool alreadyImported(bool *before);
    bool read();
    bool takeLine(QByteArrayView line);
    bool takePart(QByteArrayView part);
    bool startTransfer(QByteArrayView header);
    bool flush();
    void dropCutRecord();
    bool writeUsageTotals();
    bool recordFile();
    bool commit();

    bool upsertId(const QString &table, const QString &keyColumn, const QString &key, const QString &extraColumn,
                  const QString &extraValue, qint64 *id);
    bool fail(const QString &why);
    bool failed() const { return !m_result.error.isEmpty(); }

    QSqlDatabase &m_db;
    const Location::Kind m_kind;
    const QString m_path;
    const QString m_name;  // as the user writes it
    ImportControl *const m_control;
    ImportResult m_result;
    ImportCounts m_counts;

    // What the file's bytes say before any line is read.
    FileBytes m_file;
    QString m_fingerprint;
    // The last line when neither a line end nor the end marker follows it: a
    // transfer cut off by a lost link.
    QByteArray m_cutLine;

    // Where the reading is: in a comment block (before its transfer's header
    // line), or in a transfer's records.
    bool m_inHead = true;
    bool m_inTransfer = false;
    qint64 m_commentLines = 0;  // "//" lines since the last record

    // The locators' rows stay locked from their upsert to the commit, so PCs
    // importing the same locator's files into one server take turns and
    // never both count a second as new.
    qint64 m_locator = -1;
    qint64 m_user = -1;

    DayOfLastDate m_lastDate;
    RecordBatch m_batch;
    std::string m_lastRecordLine;  // only while a cut line is to be recognised
    UsageTotals m_usage;

    // Let go after the rollback in the destructor, never inside a
    // transaction the server has aborted.
    std::unique_ptr<RecordTable> m_records;
    QSqlQuery m_query;
    bool m_begun = false;
    bool m_committed = false;
};

}  // namespace Archive
