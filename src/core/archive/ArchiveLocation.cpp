#include "core/archive/ArchiveLocation.h"

#include "core/datafile/UserFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <optional>

namespace Archive {

namespace {

// libpq's connection keywords (version 17; older ones refuse the newest
// themselves when connecting, with a message naming the keyword).
bool isLibpqKeyword(const QString &key)
{
    static const QStringList keywords = {
        QStringLiteral("host"),
        QStringLiteral("hostaddr"),
        QStringLiteral("port"),
        QStringLiteral("dbname"),
        QStringLiteral("user"),
        QStringLiteral("password"),
        QStringLiteral("passfile"),
        QStringLiteral("require_auth"),
        QStringLiteral("channel_binding"),
        QStringLiteral("connect_timeout"),
        QStringLiteral("client_encoding"),
        QStringLiteral("options"),
        QStringLiteral("application_name"),
        QStringLiteral("fallback_application_name"),
        QStringLiteral("keepalives"),
        QStringLiteral("keepalives_idle"),
        QStringLiteral("keepalives_interval"),
        QStringLiteral("keepalives_count"),
        QStringLiteral("tcp_user_timeout"),
        QStringLiteral("replication"),
        QStringLiteral("gssencmode"),
        QStringLiteral("sslmode"),
        QStringLiteral("sslnegotiation"),
        QStringLiteral("requiressl"),
        QStringLiteral("sslcompression"),
        QStringLiteral("sslcert"),
        QStringLiteral("sslkey"),
        QStringLiteral("sslpassword"),
        QStringLiteral("sslcertmode"),
        QStringLiteral("sslrootcert"),
        QStringLiteral("sslcrl"),
        QStringLiteral("sslcrldir"),
        QStringLiteral("sslsni"),
        QStringLiteral("requirepeer"),
        QStringLiteral("ssl_min_protocol_version"),
        QStringLiteral("ssl_max_protocol_version"),
        QStringLiteral("krbsrvname"),
        QStringLiteral("gsslib"),
        QStringLiteral("gssdelegation"),
        QStringLiteral("service"),
        QStringLiteral("target_session_attrs"),
        QStringLiteral("load_balance_hosts"),
    };
    return keywords.contains(key);
}

bool isSecret(const QString &key)
{
    return key == QLatin1String("password") || key == QLatin1String("sslpassword");
}

// %XX decoding as libpq does it: a malformed escape or %00 is an error.
std::optional<QString> percentDecoded(const QString &text)
{
    const QByteArray in = text.toUtf8();
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size() || !isxdigit(static_cast<unsigned char>(in[i + 1]))
            || !isxdigit(static_cast<unsigned char>(in[i + 2])))
            return std::nullopt;
        const char c = char(QByteArray(in.constData() + i + 1, 2).toInt(nullptr, 16));
        if (c == 0)
            return std::nullopt;
        out += c;
        i += 2;
    }
    return QString::fromUtf8(out);
}

bool isPortList(const QString &port)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]*(,[0-9]*)*$"));
    return digits.match(port).hasMatch();
}

// Stores one keyword of a PostgreSQL string; a later one of the same name
// wins, as in libpq.
bool setKeyword(Location *out, const QString &key, const QString &value, QString *error)
{
    if (!isLibpqKeyword(key)) {
        *error = QStringLiteral("\"%1\" is no PostgreSQL connection keyword").arg(key);
        return false;
    }
    if (key == QLatin1String("host")) {
        out->host = value;
    } else if (key == QLatin1String("port")) {
        if (!isPortList(value)) {
            *error = QStringLiteral("the port \"%1\" is no number").arg(value);
            return false;
        }
        out->port = value;
    } else if (key == QLatin1String("dbname")) {
        out->database = value;
    } else if (key == QLatin1String("user")) {
        out->user = value;
    } else if (key == QLatin1String("password")) {
        out->password = value;
    } else {
        // Qt's driver turns every ';' of its connect options into a space.
        if (value.contains(QLatin1Char(';'))) {
            *error = QStringLiteral("the value of %1 holds a ';', which cannot be passed on to PostgreSQL").arg(key);
            return false;
        }
        for (auto &option : out->options) {
            if (option.first == key) {
                option.second = value;
                return true;
            }
        }
        out->options.append({key, value});
    }
    return true;
}

// "postgresql://[user[:password]@][host[:port][,…]][/dbname][?keyword=value&…]",
// read the way libpq reads it: one part after the other, from left to right.
class UriReader
{
public:
    UriReader(const QString &rest, Location *out, QString *error)
        : m_rest(rest)
        , m_out(out)
        , m_error(error)
    { }

    bool read() { return readUserInfo() && readHosts() && readDatabase() && readParameters(); }

private:
    bool at(QChar c) const { return m_p < m_rest.size() && m_rest[m_p] == c; }
    bool stopsAt(const char *stops) const { return m_p >= m_rest.size() || QLatin1String(stops).contains(m_rest[m_p]); }
    bool fail(const QString &text)
    {
        *m_error = text;
        return false;
    }
    bool decoded(const QString &part, const char *what, QString *to)
    {
        const std::optional<QString> d = percentDecoded(part);
        if (!d)
            return fail(QStringLiteral("the %1 in the PostgreSQL address has a bad %-escape").arg(QLatin1String(what)));
        *to = *d;
        return true;
    }

    bool readUserInfo()
    {
        const qsizetype n = m_rest.size();
        qsizetype end = 0;
        while (end < n && m_rest[end] != QLatin1Char('@') && m_rest[end] != QLatin1Char('/'))
            ++end;
        if (end >= n || m_rest[end] != QLatin1Char('@'))
            return true;
        const QString userInfo = m_rest.left(end);
        const qsizetype colon = userInfo.indexOf(QLatin1Char(':'));
        if (!decoded(userInfo.left(colon), "user name", &m_out->user))
            return false;
        if (colon >= 0 && !decoded(userInfo.mid(colon + 1), "password", &m_out->password))
            return false;
        m_p = end + 1;
        return true;
    }

    // One host, bracketed when an IPv6 address, and its port if any.
    bool readHost(QString *host, QString *port)
    {
        if (at(QLatin1Char('['))) {
            const qsizetype close = m_rest.indexOf(QLatin1Char(']'), m_p);
            if (close < 0 || close == m_p + 1)
                return fail(QStringLiteral("an IPv6 address in the PostgreSQL address is empty or lacks its ']'"));
            *host = m_rest.mid(m_p + 1, close - m_p - 1);
            m_p = close + 1;
            if (!stopsAt(":/?,"))
                return fail(QStringLiteral("unexpected text after an IPv6 address in the PostgreSQL address"));
        } else {
            const qsizetype start = m_p;
            while (!stopsAt(":/?,"))
                ++m_p;
            *host = m_rest.mid(start, m_p - start);
        }
        if (at(QLatin1Char(':'))) {
            const qsizetype start = ++m_p;
            while (!stopsAt("/?,"))
                ++m_p;
            *port = m_rest.mid(start, m_p - start);
        }
        return true;
    }

    bool readHosts()
    {
        QStringList hosts;
        QStringList ports;
        for (;;) {
            QString host;
            QString port;
            if (!readHost(&host, &port))
                return false;
            hosts << host;
            ports << port;
            if (!at(QLatin1Char(',')))
                break;
            ++m_p;  // the next host of the list
        }
        QString hostList;
        QString portList;
        if (!decoded(hosts.join(QLatin1Char(',')), "host", &hostList)
            || !decoded(ports.join(QLatin1Char(',')), "port", &portList))
            return false;
        if (!QString(hostList).remove(QLatin1Char(',')).isEmpty())
            m_out->host = hostList;
        if (QString(portList).remove(QLatin1Char(',')).isEmpty())
            return true;
        return setKeyword(m_out, QStringLiteral("port"), portList, m_error);
    }

    bool readDatabase()
    {
        if (!at(QLatin1Char('/')))
            return true;
        const qsizetype start = ++m_p;
        while (m_p < m_rest.size() && m_rest[m_p] != QLatin1Char('?'))
            ++m_p;
        return decoded(m_rest.mid(start, m_p - start), "database name", &m_out->database);
    }

    bool readParameters()
    {
        if (!at(QLatin1Char('?')))
            return true;
        const QStringList params = m_rest.mid(m_p + 1).split(QLatin1Char('&'), Qt::SkipEmptyParts);
        for (const QString &param : params) {
            const qsizetype eq = param.indexOf(QLatin1Char('='));
            if (eq < 0 || param.indexOf(QLatin1Char('='), eq + 1) >= 0)
                return fail(QStringLiteral("a parameter of the PostgreSQL address is not keyword=value"));
            QString key;
            QString value;
            if (!decoded(param.left(eq), "parameter name", &key) || !decoded(param.mid(eq + 1), "parameter", &value))
                return false;
            // libpq's one alias, kept for JDBC-style addresses.
            if (key == QLatin1String("ssl") && value == QLatin1String("true")) {
                key = QStringLiteral("sslmode");
                value = QStringLiteral("require");
            }
            if (!setKeyword(m_out, key, value, m_error))
                return false;
        }
        return true;
    }

    const QString &m_rest;
    Location *m_out;
    QString *m_error;
    qsizetype m_p = 0;
};

bool parseUri(const QString &rest, Location *out, QString *error)
{
    return UriReader(rest, out, error).read();
}

// libpq's "keyword = value …" syntax: values end at white space unless
// quoted with '…'; a backslash takes the next character as it is.
bool parseConninfo(const QString &text, QList<std::pair<QString, QString>> *pairs, QString *error)
{
    const qsizetype n = text.size();
    qsizetype p = 0;
    while (p < n) {
        while (p < n && text[p].isSpace())
            ++p;
        if (p == n)
            break;
        const qsizetype start = p;
        while (p < n && text[p] != QLatin1Char('=') && !text[p].isSpace())
            ++p;
        const QString key = text.mid(start, p - start);
        while (p < n && text[p].isSpace())
            ++p;
        if (p == n || text[p] != QLatin1Char('=')) {
            *error = QStringLiteral("\"=\" is missing after \"%1\" in the PostgreSQL connection string").arg(key);
            return false;
        }
        ++p;
        while (p < n && text[p].isSpace())
            ++p;
        QString value;
        if (p < n && text[p] == QLatin1Char('\'')) {
            ++p;
            bool closed = false;
            while (p < n) {
                if (text[p] == QLatin1Char('\\') && p + 1 < n) {
                    value += text[p + 1];
                    p += 2;
                } else if (text[p] == QLatin1Char('\'')) {
                    ++p;
                    closed = true;
                    break;
                } else {
                    value += text[p++];
                }
            }
            if (!closed) {
                *error = QStringLiteral("the quoted value of %1 in the PostgreSQL connection string has no closing "
                                        "quote")
                             .arg(key);
                return false;
            }
        } else {
            while (p < n && !text[p].isSpace()) {
                if (text[p] == QLatin1Char('\\') && p + 1 < n)
                    ++p;
                value += text[p++];
            }
        }
        pairs->append({key, value});
    }
    return true;
}

// Percent-encoded for a postgresql:// address; `keep` stays as it is.
QString encoded(const QString &text, const QByteArray &keep = {})
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

}  // namespace

QString Location::display() const
{
    if (kind == Sqlite)
        return QDir::toNativeSeparators(path);
    QString out = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        out += encoded(user) + QLatin1Char('@');
    QStringList query;
    const QStringList hosts = host.split(QLatin1Char(','));
    const QStringList ports = port.split(QLatin1Char(','));
    // A Unix-socket folder reads better as a parameter than percent-encoded.
    if (host.startsWith(QLatin1Char('/')) || (!port.isEmpty() && ports.size() != 1 && ports.size() != hosts.size())) {
        if (!host.isEmpty())
            query << QStringLiteral("host=") + encoded(host, "/,:");
        if (!port.isEmpty())
            query << QStringLiteral("port=") + port;
    } else {
        QStringList parts;
        for (qsizetype i = 0; i < hosts.size(); ++i) {
            QString part = hosts[i].contains(QLatin1Char(':')) ? QLatin1Char('[') + hosts[i] + QLatin1Char(']')
                                                               : encoded(hosts[i]);
            const QString p = ports.size() == 1 ? ports[0] : ports[i];
            if (!p.isEmpty())
                part += QLatin1Char(':') + p;
            parts << part;
        }
        out += parts.join(QLatin1Char(','));
    }
    if (!database.isEmpty())
        out += QLatin1Char('/') + encoded(database);
    for (const auto &[key, value] : options) {
        if (!isSecret(key))
            query << key + QLatin1Char('=') + encoded(value, "/,:");
    }
    if (!query.isEmpty())
        out += QLatin1Char('?') + query.join(QLatin1Char('&'));
    return out;
}

QString DefaultSqlitePath()
{
    const QString appData = GetAppDataFolder();
    if (appData.isEmpty())
        return {};
    return appData + QStringLiteral("/korvex/archive.sqlite");
}

bool ParseLocation(const QString &text, Location *location, QString *error)
{
    Location out;
    if (text.trimmed().isEmpty()) {
        *error = QStringLiteral("no archive file given");
        return false;
    }
    for (const QLatin1String prefix : {QLatin1String("postgresql://"), QLatin1String("postgres://")}) {
        if (text.startsWith(prefix)) {
            out.kind = Location::Postgres;
            if (!parseUri(text.mid(prefix.size()), &out, error))
                return false;
            *location = out;
            return true;
        }
    }
    // A scheme of two letters or more: a drive letter ("C:\…") is a path.
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]+):"));
    if (const QRegularExpressionMatch m = scheme.match(text); m.hasMatch()) {
        const QString name = m.captured(1);
        const QString lower = name.toLower();
        if (lower == QLatin1String("postgresql") || lower == QLatin1String("postgres")) {
            *error = QStringLiteral("\"%1:…\" is no PostgreSQL address: one starts with postgresql:// (lower case, two "
                                    "slashes)")
                         .arg(name);
            return false;
        }
        if (text.mid(m.capturedLength()).startsWith(QLatin1Char('/'))) {
            *error = QStringLiteral("\"%1:\" addresses are not archives this program can use: give an SQLite file, a "
                                    "postgresql:// address or a PostgreSQL key=value string")
                         .arg(name);
            return false;
        }
    }
    // key=value: only when it parses as such and names one of libpq's
    // keywords, so a file called "a=b" stays a file.
    QList<std::pair<QString, QString>> pairs;
    QString syntaxError;
    const bool parsed = parseConninfo(text, &pairs, &syntaxError);
    static const QRegularExpression firstKeyword(QStringLiteral("^\\s*([A-Za-z_]+)\\s*="));
    const QRegularExpressionMatch first = firstKeyword.match(text);
    if (!parsed && first.hasMatch() && isLibpqKeyword(first.captured(1))) {
        *error = syntaxError;
        return false;
    }
    if (parsed && std::any_of(pairs.cbegin(), pairs.cend(), [](const auto &kv) { return isLibpqKeyword(kv.first); })) {
        out.kind = Location::Postgres;
        for (const auto &[key, value] : pairs) {
            if (!setKeyword(&out, key, value, error))
                return false;
        }
        *location = out;
        return true;
    }
    out.path = text;
    *location = out;
    return true;
}

bool ChooseLocation(const QString &option, Location *location, QString *error)
{
    if (!option.isEmpty())
        return ParseLocation(option, location, error);
    const QString env = qEnvironmentVariable("LOCATOR_ARCHIVE");
    if (!env.isEmpty())
        return ParseLocation(env, location, error);
    const QString path = DefaultSqlitePath();
    if (path.isEmpty()) {
        *error = QStringLiteral("the per-user application data folder is unknown; give --database");
        return false;
    }
    return ParseLocation(path, location, error);
}

QString PostgresConnectOptions(const Location &location)
{
    QStringList parts;
    auto has = [&](const char *key) {
        return std::any_of(location.options.cbegin(), location.options.cend(),
                           [&](const auto &kv) { return kv.first == QLatin1String(key); });
    };
    auto add = [&](const QString &key, QString value) {
        value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        value.replace(QLatin1Char('\''), QLatin1String("\\'"));
        parts << key + QStringLiteral("='") + value + QLatin1Char('\'');
    };
    if (!location.port.isEmpty())
        add(QStringLiteral("port"), location.port);
    for (const auto &[key, value] : location.options)
        add(key, value);
    if (!has("connect_timeout") && !qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT"))
        add(QStringLiteral("connect_timeout"), QStringLiteral("10"));
    // A server that vanished (a PC asleep, a link gone) is noticed in about
    // two minutes instead of the system's two hours.
    if (!has("keepalives"))
        add(QStringLiteral("keepalives"), QStringLiteral("1"));
    if (!has("keepalives_idle"))
        add(QStringLiteral("keepalives_idle"), QStringLiteral("60"));
    if (!has("keepalives_interval"))
        add(QStringLiteral("keepalives_interval"), QStringLiteral("10"));
    if (!has("keepalives_count"))
        add(QStringLiteral("keepalives_count"), QStringLiteral("6"));
    const QString program = QCoreApplication::applicationName();
    if (!has("fallback_application_name") && !program.isEmpty() && !program.contains(QLatin1Char(';')))
        add(QStringLiteral("fallback_application_name"), program);
    return parts.join(QLatin1Char(';'));
}

bool CreateSqliteFile(const QString &path, QString *error)
{
    const QFileInfo info(path);
    QStringList missing;
    for (QString folder = info.absolutePath(); !QFileInfo::exists(folder);) {
        missing.prepend(folder);
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            break;
        folder = parent;
    }
    for (const QString &folder : missing) {
        if (!QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
            && !QFileInfo(folder).isDir()) {
            *error = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(folder));
            return false;
        }
    }
    if (info.exists())
        return true;
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
        return true;
    if (QFileInfo::exists(path))  // another process made it meanwhile
        return true;
    *error = QStringLiteral("cannot make %1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    return false;
}

}  // namespace Archive
