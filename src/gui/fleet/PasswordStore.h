#pragma once

#include <QString>

#include <functional>

class QObject;

// Where the PostgreSQL archive's password is kept: the desktop's keyring
// (Secret Service, KWallet), never a settings file. Every call answers
// later, on the caller's thread, through `done` (unless `context` is gone by
// then); nothing waits. Tests install a store of their own.
class PasswordStore
{
public:
    struct Answer
    {
        bool ok = false;  // false: the keyring could not be used (error says why)
        bool found = false;  // read: a password is kept under the key
        QString password;
        QString error;
    };
    using Done = std::function<void(const Answer &)>;

    virtual ~PasswordStore() = default;
    virtual void read(const QString &key, QObject *context, Done done) = 0;
    // An empty password removes what is kept under the key.
    virtual void write(const QString &key, const QString &password, QObject *context, Done done) = 0;

    static PasswordStore &current();
    // Installs a replacement (nullptr restores the keyring). Not owned.
    static void install(PasswordStore *store);

    // The key of an archive's password: its address, which never holds a password.
    static QString keyFor(const QString &archiveDisplay);
    // The sentence shown for a keyring that cannot be used, with what to do.
    static QString failureText(const QString &error);
};

// The desktop's keyring through Qt Keychain.
class KeychainPasswordStore : public PasswordStore
{
public:
    void read(const QString &key, QObject *context, Done done) override;
    void write(const QString &key, const QString &password, QObject *context, Done done) override;
};
