#include "app/Arguments.h"

#include "base/Error.h"

#include <algorithm>

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

std::optional<GivenOptions> readOptions(const QStringList& arguments, const QList<OptionSpec>& options)
{
    GivenOptions given;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        try {
            if (const std::optional<QString> ledger = takeDatabaseOption(arguments, i)) {
                if (given.database)
                    return std::nullopt;
                given.database = ledger;
                continue;
            }
        } catch (const KivaroError&) {
            return std::nullopt;
        }
        const auto option = std::find_if(
            options.cbegin(), options.cend(), [&](const OptionSpec& spec) { return spec.name == arguments.at(i); });
        if (option == options.cend() || given.has(option->name))
            return std::nullopt;
        const QStringList values = arguments.mid(i + 1, option->values);
        const bool complete
            = values.size() == option->values && std::all_of(values.cbegin(), values.cend(), [&](const QString& value) {
                  return !value.trimmed().isEmpty()
                      && !value.startsWith(option->loose ? QStringLiteral("--") : QStringLiteral("-"));
              });
        if (!complete)
            return std::nullopt;
        given.options.insert(option->name, values);
        i += option->values;
    }
    return given;
}
