#include "db/Catalogue.h"

#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/Numbers.h"

#include <limits>

QString codeProblem(const QString& code)
{
    if (code.size() > kLongestCode)
        return QStringLiteral("条码太长（最多 %1 个字符）").arg(kLongestCode);
    for (const QChar c : code) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return QStringLiteral("条码“%1”中有扫描枪打不出的字符（只能是字母、数字和符号，不能有空格）").arg(code);
    }
    return {};
}

QString itemProblem(const CatalogueItem& item)
{
    if (isBlankText(item.name))
        return QStringLiteral("品名是空的");
    if (item.name.contains(QChar(0)))
        return QStringLiteral("品名中有不能保存的空字符（U+0000）");
    if (const QString problem = codeProblem(item.code); !problem.isEmpty())
        return problem;
    for (const auto& [amount, caption] :
        { std::pair { item.price, QStringLiteral("单价") }, std::pair { item.cost, QStringLiteral("单位成本") } }) {
        if (amount && (*amount < 0 || *amount > kMaxAmountCents))
            return QStringLiteral("%1不能是负数，也不能超过一万亿").arg(caption);
    }
    return {};
}

QString unitAmountProblem(const QString& typed)
{
    return QStringLiteral("“%1”不是金额，或是负数，或超出了一万亿").arg(typed);
}

std::optional<qint64> amountOfUnits(qint32 quantity, qint64 unit)
{
    qint64 amount = 0;
    if (__builtin_mul_overflow(qint64(quantity), unit, &amount) || amount > kMaxAmountCents
        || amount < -kMaxAmountCents)
        return std::nullopt;
    return amount;
}

CatalogueIndex::CatalogueIndex(const QList<CatalogueItem>& items)
    : m_items(items)
{
    m_codes.reserve(items.size());
    m_names.reserve(items.size());
    for (qsizetype i = 0; i < m_items.size(); ++i) {
        if (!m_items[i].code.isEmpty())
            m_codes.insert(m_items[i].code, i);
        m_names.insert(m_items[i].name, i);
    }
}

const CatalogueItem* CatalogueIndex::byCode(const QString& code) const
{
    const auto found = m_codes.constFind(code);
    return found == m_codes.cend() ? nullptr : &m_items[*found];
}

const CatalogueItem* CatalogueIndex::byName(const QString& name) const
{
    const auto found = m_names.constFind(name);
    return found == m_names.cend() ? nullptr : &m_items[*found];
}

namespace {

void checkCode(CatalogueSteps& steps, const CatalogueItem& item, const QString& self)
{
    if (item.code.isEmpty())
        return;
    if (const std::optional<QString> other = steps.nameOfCode(item.code); other && *other != self)
        throw KivaroError(
            QStringLiteral("条码“%1”已经用于商品“%2”，一个条码只能对应一个商品。").arg(item.code, *other));
}

KivaroError itemGone(const QString& name)
{
    return KivaroError(
        QStringLiteral("商品“%1”已不在商品资料中（可能刚被另一个窗口改过或删去），请看一下现在的商品资料。").arg(name));
}

KivaroError nameTaken(const QString& name)
{
    return KivaroError(QStringLiteral("商品资料中已经有“%1”了。").arg(name));
}

} // namespace

void applyCatalogueChanges(CatalogueSteps& steps, const QList<CatalogueChange>& changes)
{
    using Kind = CatalogueChange::Kind;
    for (const CatalogueChange& change : changes) {
        const CatalogueItem& item = change.item;
        if (change.kind != Kind::Remove) {
            if (const QString problem = itemProblem(item); !problem.isEmpty())
                throw KivaroError(QStringLiteral("商品“%1”不能保存：%2").arg(item.name, problem));
        }
        switch (change.kind) {
        case Kind::Add:
            if (steps.find(item.name))
                throw nameTaken(item.name);
            checkCode(steps, item, item.name);
            steps.insert(item);
            break;
        case Kind::Put:
            checkCode(steps, item, item.name);
            if (steps.find(item.name))
                steps.update(item.name, item);
            else
                steps.insert(item);
            break;
        case Kind::Replace:
            if (!steps.find(change.was))
                throw itemGone(change.was);
            if (item.name != change.was && steps.find(item.name))
                throw nameTaken(item.name);
            checkCode(steps, item, change.was);
            steps.update(change.was, item);
            break;
        case Kind::Remove:
            if (!steps.find(item.name))
                throw itemGone(item.name);
            steps.remove(item.name);
            break;
        }
    }
}

KivaroError catalogueNotAllowed()
{
    return KivaroError(QStringLiteral("只有店主和管理员可以修改商品资料。"));
}
