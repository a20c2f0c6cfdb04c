#include "app/Arguments.h"

#include "base/Error.h"

std::optional<QString> takeDatabaseOption(const QStringList& arguments, qsizetype& i)
{
    const QString option = QStringLiteral("--database");
    const QString& argument = arguments.at(i);
    QString value;
    if (argument == option) {
        if (i + 1 < arguments.size() && !arguments.at(i + 1).startsWith(QStringLiteral("--")))
            value = arguments.at(++i);
    } else if (argument.startsWith(option + QLatin1Char('='))) {
        value = argument.mid(option.size() + 1);
    } else {
        return std::nullopt;
    }
    if (value.trimmed().isEmpty())
        throw KivaroError(QStringLiteral("--database 后面缺少账本：数据库文件，或数据库服务器的连接串"));
    return value;
}
