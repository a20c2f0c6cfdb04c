#include "db/AccountRules.h"

#include "base/Error.h"
#include "db/SalesRows.h"

namespace AccountRules {

void checkName(const QString& name)
{
    if (name.isEmpty())
        throw KivaroError(QStringLiteral("用户名不能为空。"));
    if (name.contains(QChar(0)))
        throw KivaroError(QStringLiteral("用户名中有不能保存的空字符（U+0000）。"));
}

void checkRoleName(const QString& name)
{
    checkName(name);
    if (name.toUtf8().size() > 63)
        throw KivaroError(QStringLiteral("用户名最长 63 个字节（约 21 个汉字）：“%1”太长了。")
                              .arg(name.left(24) + QStringLiteral("…")));
}

void checkNewName(const QString& name)
{
    checkRoleName(name);
    if (name == shopRangeName() || name == ownRangeName())
        throw KivaroError(QStringLiteral("“%1”是查帐时选择的范围，不能用作用户名。").arg(name));
}

void checkPassword(const QString& password)
{
    if (password.isEmpty())
        throw KivaroError(QStringLiteral("密码不能为空。"));
}

} // namespace AccountRules
