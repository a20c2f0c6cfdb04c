#include "db/server/ServerConnection.h"

#include "base/Error.h"

#include <QAtomicInt>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <libpq-fe.h>
#include <memory>

namespace {

struct Option
{
    QString key;
    QString value;
};

// The options libpq reads from the text, in its order; a value the text leaves out is absent.
QList<Option> parseOptions(const QString& connection)
{
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> parsed(
        PQconninfoParse(connection.toUtf8().constData(), &error), &PQconninfoFree);
    if (!parsed) {
        const bool outOfMemory = !error;
        PQfreemem(error);
        // Nothing of libpq's sentence is shown: it quotes pieces of the text, and a quote inside a password decides
        // where those pieces end.
        throw KivaroError(outOfMemory ? QStringLiteral("无法识别数据库连接：内存不足")
                                      : QStringLiteral("无法识别数据库连接：连接串的格式不对，请检查其中的引号、等号和 "
                                                       "URI 的写法（密码中的引号要用 \\' 写，URI 中的要写成 %27）。"));
    }
    QList<Option> options;
    for (const PQconninfoOption* option = parsed.get(); option->keyword; ++option) {
        if (option->val && *option->val)
            options.append({ QString::fromUtf8(option->keyword), QString::fromUtf8(option->val) });
    }
    return options;
}

// A value in libpq's key='value' form.
QString quoted(const QString& value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

QMutex passwordsMutex;
QHash<QString, QString> passwords;

} // namespace

ServerParams parseServerConnection(const QString& connection)
{
    ServerParams params;
    QStringList options;
    for (const Option& option : parseOptions(connection)) {
        if (option.key == QLatin1String("host"))
            params.host = option.value;
        else if (option.key == QLatin1String("dbname"))
            params.databaseName = option.value;
        else if (option.key == QLatin1String("user"))
            params.userName = option.value;
        else if (option.key == QLatin1String("password"))
            params.password = option.value;
        else if (option.key == QLatin1String("port") && !option.value.contains(QLatin1Char(','))) {
            // Read as typed: "5432x" or "0" is no port, never the default one in its place.
            bool number = false;
            params.port = option.value.trimmed().toInt(&number);
            if (!number || params.port < 1 || params.port > 65535)
                throw KivaroError(
                    QStringLiteral("数据库连接中的端口“%1”不是有效的端口号（1 到 65535 的整数）").arg(option.value));
        } else {
            // The options are separated at semicolons.
            if (option.value.contains(QLatin1Char(';')))
                throw KivaroError(QStringLiteral("数据库连接的参数 %1 中不能含有分号“;”").arg(option.key));
            options.append(option.key + QLatin1Char('=') + quoted(option.value));
        }
    }
    params.options = options.join(QLatin1Char(';'));
    return params;
}

QString serverDisplayName(const QString& connection)
{
    QString host;
    QString database;
    QString service;
    QString port;
    try {
        for (const Option& option : parseOptions(connection)) {
            if (option.key == QLatin1String("host") || (option.key == QLatin1String("hostaddr") && host.isEmpty()))
                host = option.value;
            else if (option.key == QLatin1String("dbname"))
                database = option.value;
            else if (option.key == QLatin1String("service"))
                service = option.value;
            else if (option.key == QLatin1String("port"))
                port = option.value;
        }
    } catch (const KivaroError&) {
        return connectionWithoutPassword(connection);
    }
    QString name = host.startsWith(QLatin1Char('/')) || host.isEmpty() ? QString() : host;
    // An IPv6 address is written in brackets before its port.
    if (name.contains(QLatin1Char(':')) && !name.contains(QLatin1Char(',')))
        name = QLatin1Char('[') + name + QLatin1Char(']');
    if (!name.isEmpty() && !port.isEmpty())
        name += QLatin1Char(':') + port;
    if (name.isEmpty() && !service.isEmpty())
        name = QStringLiteral("service=") + service;
    if (name.isEmpty())
        name = QStringLiteral("localhost");
    if (!database.isEmpty())
        name += QLatin1Char('/') + database;
    return name;
}

QString connectionWithoutPassword(const QString& connection)
{
    QList<Option> options;
    try {
        options = parseOptions(connection);
    } catch (const KivaroError&) {
        // Unreadable: nothing of it can be shown safely but its start.
        return QStringLiteral("（无法识别的连接）");
    }
    // The key of a client certificate is a secret too.
    QList<Option> rest;
    for (const Option& option : options) {
        if (option.key != QLatin1String("password") && option.key != QLatin1String("sslpassword"))
            rest.append(option);
    }
    if (rest.size() == options.size())
        return connection.trimmed();
    // The text as the user wrote it with only the password taken out: from a URI's user part and its query, or the
    // password=… pair of a key=value text. Kept only when libpq reads the rest exactly as before.
    static const QRegularExpression uriPassword(QStringLiteral("^(postgres(?:ql)?://[^:@/?#]*):[^@/?#]*@"));
    static const QRegularExpression queryPassword(QStringLiteral("([?&])password=[^&#]*(&?)"));
    static const QRegularExpression pairPassword(
        QStringLiteral("(^|\\s)password\\s*=\\s*(?:'(?:[^'\\\\]|\\\\.)*'|[^\\s']\\S*)"));
    QString text = connection.trimmed();
    if (text.startsWith(QLatin1String("postgres"))) {
        text.replace(uriPassword, QStringLiteral("\\1@"));
        text.replace(queryPassword, QStringLiteral("\\1"));
        if (text.endsWith(QLatin1Char('?')) || text.endsWith(QLatin1Char('&')))
            text.chop(1);
    } else {
        text.replace(pairPassword, QStringLiteral("\\1"));
        text = text.simplified();
    }
    try {
        const QList<Option> reread = parseOptions(text);
        if (reread.size() == rest.size()
            && std::equal(reread.begin(), reread.end(), rest.begin(),
                [](const Option& a, const Option& b) { return a.key == b.key && a.value == b.value; }))
            return text;
    } catch (const KivaroError&) {
    }
    QStringList kept;
    for (const Option& option : std::as_const(rest))
        kept.append(option.key + QLatin1Char('=') + quoted(option.value));
    return kept.join(QLatin1Char(' '));
}

void rememberServerPassword(const QString& connection, const QString& password)
{
    const QMutexLocker lock(&passwordsMutex);
    passwords.insert(connection, password);
}

QString rememberedServerPassword(const QString& connection)
{
    const QMutexLocker lock(&passwordsMutex);
    return passwords.value(connection);
}

namespace {

QMutex accountsMutex;
QHash<QString, ServerAccount> accounts;
// Every password an account logged in with in this process, by connection and account: a save sealed before its
// password changed is still known as the account's own.
QHash<QString, QStringList> passwordsUsed;
QAtomicInt signIns;

} // namespace

void signInToServer(const QString& connection, const ServerAccount& account)
{
    const QMutexLocker lock(&accountsMutex);
    accounts.insert(connection, account);
    QStringList& used = passwordsUsed[connection + QLatin1Char('\n') + account.name];
    if (!used.contains(account.password))
        used.append(account.password);
    signIns.fetchAndAddRelaxed(1);
}

QStringList passwordsSignedInWith(const QString& connection, const QString& name)
{
    const QMutexLocker lock(&accountsMutex);
    return passwordsUsed.value(connection + QLatin1Char('\n') + name);
}

std::optional<ServerAccount> signedInAccount(const QString& connection)
{
    const QMutexLocker lock(&accountsMutex);
    const auto found = accounts.constFind(connection);
    if (found == accounts.cend())
        return std::nullopt;
    return *found;
}

void signOutOfServer(const QString& connection)
{
    const QMutexLocker lock(&accountsMutex);
    accounts.remove(connection);
    signIns.fetchAndAddRelaxed(1);
}

int serverSignIns()
{
    return signIns.loadRelaxed();
}

const QRegularExpression& connectionFailureStatePattern()
{
    // Every SQLSTATE has a digit, which tells it from a severity of five letters ("FATAL: ").
    static const QRegularExpression pattern(QStringLiteral("(:\\s+)((?=[0-9A-Z]*[0-9])[0-9A-Z]{5}):\\s"));
    return pattern;
}

QByteArray connectionFailureState(const QByteArray& verbose)
{
    return connectionFailureStatePattern().match(QString::fromUtf8(verbose)).captured(2).toLatin1();
}
