#include "gui/fleet/ArchiveSettingsDialog.h"

#include "core/archive/Archive.h"
#include "gui/fleet/ArchiveThread.h"
#include "gui/fleet/FleetSettings.h"
#include "gui/fleet/PasswordStore.h"

#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

ArchiveSettingsDialog::ArchiveSettingsDialog(ArchiveThread &thread, const Archive::Location &current, QWidget *parent)
    : QDialog(parent)
    , m_thread(thread)
    , m_sqlite(new QRadioButton(QStringLiteral("SQLite file on this PC"), this))
    , m_postgres(new QRadioButton(QStringLiteral("PostgreSQL server, shared by the fleet's PCs"), this))
    , m_sqlitePath(new QLabel(this))
    , m_connection(new QLineEdit(this))
    , m_password(new QLineEdit(this))
    , m_test(new QPushButton(QStringLiteral("Test Connection"), this))
    , m_ok(new QPushButton(QStringLiteral("OK"), this))
    , m_cancel(new QPushButton(QStringLiteral("Cancel"), this))
    , m_result(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Archive Settings"));
    setObjectName(QStringLiteral("dlgArchiveSettings"));
    m_connection->setObjectName(QStringLiteral("txtConnection"));
    m_password->setObjectName(QStringLiteral("txtPassword"));
    m_result->setObjectName(QStringLiteral("lblTestResult"));
    m_password->setEchoMode(QLineEdit::Password);
    m_connection->setPlaceholderText(QStringLiteral("host=db.example.org dbname=fleet user=alice"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const QString sqlitePath = current.kind == Archive::Location::Sqlite && !current.path.isEmpty()
        ? current.path
        : Archive::DefaultSqlitePath();
    m_sqlitePath->setText(QDir::toNativeSeparators(sqlitePath));
    m_sqlitePath->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_sqlite);
    auto *sqliteForm = new QFormLayout;
    sqliteForm->addRow(QStringLiteral("File:"), m_sqlitePath);
    layout->addLayout(sqliteForm);
    layout->addWidget(m_postgres);
    auto *pgForm = new QFormLayout;
    pgForm->addRow(QStringLiteral("Connection:"), m_connection);
    pgForm->addRow(QStringLiteral("Password:"), m_password);
    pgForm->addRow(
        QString(),
        new QLabel(QStringLiteral("The password is kept in the desktop's keyring, never in a settings file."), this));
    layout->addLayout(pgForm);
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(m_test);
    testRow->addWidget(m_result, 1);
    layout->addLayout(testRow);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);
    resize(560, sizeHint().height());

    const bool postgres = current.kind == Archive::Location::Postgres;
    m_postgres->setChecked(postgres);
    m_sqlite->setChecked(!postgres);
    if (postgres) {
        m_connection->setText(current.display());
        m_password->setText(current.password);
    }
    auto follow = [this] {
        m_connection->setEnabled(m_postgres->isChecked());
        m_password->setEnabled(m_postgres->isChecked());
    };
    follow();
    connect(m_postgres, &QRadioButton::toggled, this, follow);
    connect(m_test, &QPushButton::clicked, this, &ArchiveSettingsDialog::testConnection);
    connect(m_ok, &QPushButton::clicked, this, &ArchiveSettingsDialog::apply);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool ArchiveSettingsDialog::formLocation(Archive::Location *location, QString *error) const
{
    if (m_sqlite->isChecked()) {
        *location = Archive::Location();
        location->path = Archive::DefaultSqlitePath();
        return true;
    }
    const QString text = m_connection->text().trimmed();
    if (text.isEmpty()) {
        *error = QStringLiteral("Enter the server's connection string, e.g. host=db.example.org dbname=fleet "
                                "user=alice, or postgresql://alice@db.example.org/fleet.");
        return false;
    }
    if (!Archive::ParseLocation(text, location, error))
        return false;
    if (location->kind != Archive::Location::Postgres) {
        *error = QStringLiteral("'%1' names no PostgreSQL server: write host=… dbname=… or postgresql://…").arg(text);
        return false;
    }
    // A password written into the connection string moves to the keyring too.
    if (!m_password->text().isEmpty())
        location->password = m_password->text();
    return true;
}

void ArchiveSettingsDialog::showResult(const QString &text, bool failure)
{
    m_result->setText(text);
    m_result->setStyleSheet(failure ? QStringLiteral("color: rgb(192, 0, 0)") : QString());
}

void ArchiveSettingsDialog::setBusy(bool busy)
{
    m_test->setEnabled(!busy);
    m_ok->setEnabled(!busy);
}

void ArchiveSettingsDialog::testConnection()
{
    Archive::Location location;
    QString error;
    if (!formLocation(&location, &error)) {
        showResult(error, true);
        return;
    }
    const int test = ++m_tests;
    showResult(QStringLiteral("Connecting to %1...").arg(location.display()), false);
    QPointer<ArchiveSettingsDialog> self(this);
    m_thread.run(
        [location]() -> QString {
            Archive::Store store;
            QString why;
            if (!store.open(location, &why, Archive::Store::ExistingOnly))
                return FleetSettings::WithFix(why, location);
            return {};
        },
        [self, test, location](const QString &why) {
            if (!self || test != self->m_tests)
                return;
            if (why.isEmpty())
                self->showResult(QStringLiteral("Connected: the archive %1 can be read.").arg(location.display()),
                                 false);
            else
                self->showResult(why, true);
        });
}

void ArchiveSettingsDialog::apply()
{
    Archive::Location location;
    QString error;
    if (!formLocation(&location, &error)) {
        showResult(error, true);
        return;
    }
    if (location.kind == Archive::Location::Sqlite) {
        FleetSettings::setArchiveText(QString());
        Archive::Location chosen;
        if (!FleetSettings::ChooseArchive(QString(), &chosen, &error)) {
            showResult(error, true);
            return;
        }
        emit archiveChosen(chosen);
        accept();
        return;
    }
    // The address (which never shows a password) is saved once the
    // keyring holds the password.
    setBusy(true);
    showResult(QStringLiteral("Saving the password in the desktop's keyring..."), false);
    QPointer<ArchiveSettingsDialog> self(this);
    PasswordStore::current().write(PasswordStore::keyFor(location.display()), location.password, this,
                                   [self, location](const PasswordStore::Answer &a) {
                                       if (!self)
                                           return;
                                       self->setBusy(false);
                                       if (!a.ok) {
                                           self->showResult(PasswordStore::failureText(a.error), true);
                                           return;
                                       }
                                       FleetSettings::setArchiveText(location.display());
                                       emit self->archiveChosen(location);
                                       self->accept();
                                   });
}
