#include "gui/fleet/PasswordStore.h"

#include <QObject>

#include <qt6keychain/keychain.h>

namespace {

PasswordStore *installed = nullptr;

const QString kService = QStringLiteral("locator-toolkit");

// Runs the job and answers once it has finished; the job deletes itself.
void runJob(QKeychain::Job *job, QObject *context, PasswordStore::Done done, bool reading)
{
    job->setAutoDelete(true);
    QObject::connect(job, &QKeychain::Job::finished, context, [done = std::move(done), reading](QKeychain::Job *j) {
        PasswordStore::Answer a;
        if (j->error() == QKeychain::NoError) {
            a.ok = true;
            a.found = reading;
            if (reading)
                a.password = static_cast<QKeychain::ReadPasswordJob *>(j)->textData();
        } else if (j->error() == QKeychain::EntryNotFound) {
            a.ok = true;  // nothing kept (reading), nothing to remove (writing an empty one)
        } else {
            a.error = j->errorString();
        }
        done(a);
    });
    job->start();
}

}  // namespace

PasswordStore &PasswordStore::current()
{
    static KeychainPasswordStore keyring;
    return installed ? *installed : keyring;
}

void PasswordStore::install(PasswordStore *store)
{
    installed = store;
}

QString PasswordStore::keyFor(const QString &archiveDisplay)
{
    return QStringLiteral("archive ") + archiveDisplay;
}

QString PasswordStore::failureText(const QString &error)
{
    return QStringLiteral("The desktop's keyring could not be used (%1). Unlock or start the keyring (GNOME Keyring "
                          "or KWallet) and try again, or leave the password empty and keep it in ~/.pgpass.")
        .arg(error);
}

void KeychainPasswordStore::read(const QString &key, QObject *context, Done done)
{
    auto *job = new QKeychain::ReadPasswordJob(kService);
    job->setKey(key);
    runJob(job, context, std::move(done), true);
}

void KeychainPasswordStore::write(const QString &key, const QString &password, QObject *context, Done done)
{
    if (password.isEmpty()) {
        auto *job = new QKeychain::DeletePasswordJob(kService);
        job->setKey(key);
        runJob(job, context, std::move(done), false);
        return;
    }
    auto *job = new QKeychain::WritePasswordJob(kService);
    job->setKey(key);
    job->setTextData(password);
    runJob(job, context, std::move(done), false);
}
