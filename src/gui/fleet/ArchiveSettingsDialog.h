#pragma once

#include "core/archive/ArchiveLocation.h"

#include <QDialog>

class ArchiveThread;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Where the Fleet window's archive lives: the SQLite file on this PC (its
// path shown) or a PostgreSQL server named by a connection string. The
// password goes to the desktop's keyring (PasswordStore), never to the
// settings file; "Test Connection" opens the archive on the archive thread.
class ArchiveSettingsDialog : public QDialog
{
    Q_OBJECT
public:
    // `current`: the archive the window has open (its password, if any, shown).
    ArchiveSettingsDialog(ArchiveThread &thread, const Archive::Location &current, QWidget *parent);

    QRadioButton *sqliteChoice() const { return m_sqlite; }
    QRadioButton *postgresChoice() const { return m_postgres; }
    QLineEdit *connectionEdit() const { return m_connection; }
    QLineEdit *passwordEdit() const { return m_password; }
    QPushButton *testButton() const { return m_test; }
    QPushButton *okButton() const { return m_ok; }
    QLabel *resultLabel() const { return m_result; }

    void testConnection();  // "Test Connection"
    void apply();  // "OK": the password into the keyring, then the choice saved

signals:
    // The choice is saved; the window opens this archive.
    void archiveChosen(const Archive::Location &location);

private:
    // The archive the form describes, the password field's password included.
    bool formLocation(Archive::Location *location, QString *error) const;
    void showResult(const QString &text, bool failure);
    void setBusy(bool busy);

    ArchiveThread &m_thread;
    QRadioButton *m_sqlite;
    QRadioButton *m_postgres;
    QLabel *m_sqlitePath;
    QLineEdit *m_connection;
    QLineEdit *m_password;
    QPushButton *m_test;
    QPushButton *m_ok;
    QPushButton *m_cancel;
    QLabel *m_result;
    int m_tests = 0;  // only the latest test's answer is shown
};
