#include "db/SalesCsv.h"

#include "base/Error.h"
#include "base/TextCodec.h"
#include "db/Catalogue.h"
#include "db/Numbers.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>
#include <array>

namespace {

constexpr qint64 kLargestFile = 256LL * 1024 * 1024;

enum Column { Day, Name, Quantity, Received, Cost, Memo, ColumnCount };
const std::array<QString, ColumnCount> kCaptions { QStringLiteral("日期"), QStringLiteral("品名"),
    QStringLiteral("数量"), QStringLiteral("实收"), QStringLiteral("成本"), QStringLiteral("备注") };

// The file's text: UTF-8 (with or without its byte-order mark) when the whole file is valid UTF-8, UTF-16 when it
// begins with its byte-order mark, GB18030 when the whole file is valid GB18030; or in the encoding asked for, when the
// whole file is valid in it. Any other file is refused, naming what was tried: a guess would turn the sales into other
// characters without a word. other gets the encoding the file could be read in instead, if any.
QString decoded(const QByteArray& bytes, const QString& asked, QString& encoding, QString& other)
{
    const auto strict = [&bytes](QStringDecoder::Encoding kind, qsizetype skip, QString& text) {
        QStringDecoder decoder(kind, QStringDecoder::Flag::Stateless);
        text = decoder.decode(QByteArrayView(bytes).sliced(skip));
        return !decoder.hasError();
    };
    const auto strictGb18030 = [&bytes](QString& text) {
        QStringDecoder gb18030("GB18030", QStringDecoder::Flag::Stateless);
        text = gb18030.decode(bytes);
        return gb18030.isValid() && !gb18030.hasError();
    };
    const QString utf8 = QStringLiteral("UTF-8");
    const QString gb18030 = QStringLiteral("GB18030");
    QString text;
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        encoding = QStringLiteral("UTF-16");
        if (strict(bytes.startsWith("\xFF\xFE") ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE, 2, text))
            return text;
        throw KivaroError(QStringLiteral("文件以 UTF-16 的字节顺序标记开头，内容却不是有效的 UTF-16"));
    }
    const bool marked = bytes.startsWith("\xEF\xBB\xBF");
    if (asked == gb18030 && !marked) {
        encoding = gb18030;
        if (!strictGb18030(text))
            throw KivaroError(QStringLiteral("文件不是有效的 GB18030 编码，不能按 GB18030 读取"));
        QString unused;
        other = strict(QStringDecoder::Utf8, 0, unused) ? utf8 : QString();
        return text;
    }
    if (strict(QStringDecoder::Utf8, marked ? 3 : 0, text)) {
        encoding = utf8;
        QString unused;
        // Plain ASCII reads the same either way: no choice to offer.
        other = !marked && bytes.size() != text.size() && strictGb18030(unused) ? gb18030 : QString();
        return text;
    }
    if (marked || asked == utf8)
        throw KivaroError(QStringLiteral("文件不是有效的 UTF-8 编码，不能按 UTF-8 读取"));
    if (strictGb18030(text)) {
        encoding = gb18030;
        return text;
    }
    throw KivaroError(QStringLiteral("文件的编码既不是 UTF-8，也不是 GB18030 或带字节顺序标记的 UTF-16，无法读取"));
}

// A quantity in a file is written in decimal digits: "$10" or "0x10" is not one.
bool decimalQuantity(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^\\s*[+-]?\\s*[0-9]+\\s*$"));
    return digits.match(text).hasMatch();
}

// Splits the text into records of fields, RFC 4180: a quoted field may hold separators, line breaks and doubled
// quotes. Each record keeps the number of its first line.
class CsvReader
{
public:
    CsvReader(const QString& text, QChar separator)
        : m_text(text)
        , m_separator(separator)
    {
    }
    bool atEnd() const { return m_at >= m_text.size(); }
    qsizetype position() const { return m_at; }
    QStringList next()
    {
        QStringList fields;
        QString field;
        bool quoted = false;
        while (m_at < m_text.size()) {
            const QChar c = m_text.at(m_at++);
            if (quoted) {
                if (c != QLatin1Char('"'))
                    field += c;
                else if (m_at < m_text.size() && m_text.at(m_at) == QLatin1Char('"'))
                    field += m_text.at(m_at++);
                else
                    quoted = false;
            } else if (c == QLatin1Char('"')) {
                quoted = true;
            } else if (c == m_separator) {
                fields << field;
                field.clear();
            } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
                if (c == QLatin1Char('\r') && m_at < m_text.size() && m_text.at(m_at) == QLatin1Char('\n'))
                    ++m_at;
                break;
            } else {
                field += c;
            }
        }
        fields << field;
        return fields;
    }

private:
    const QString& m_text;
    QChar m_separator;
    qsizetype m_at = 0;
};

// The separator the first line uses most: comma, semicolon or tab.
QChar separatorOf(const QString& text)
{
    const QStringView firstLine = QStringView(text).left(text.indexOf(QLatin1Char('\n')));
    QChar best = QLatin1Char(',');
    qsizetype most = firstLine.count(best);
    for (const QChar candidate : { QLatin1Char(';'), QLatin1Char('\t') }) {
        if (firstLine.count(candidate) > most) {
            most = firstLine.count(candidate);
            best = candidate;
        }
    }
    return best;
}

std::optional<QDate> dayOf(const QString& text)
{
    if (const std::optional<QDate> day = parseDayText(text))
        return day;
    // Spreadsheets write months and days without their leading zero.
    for (const char* format : { "yyyy/M/d", "yyyy-M-d", "yyyy.M.d" }) {
        const QDate day = QDate::fromString(text, QString::fromLatin1(format));
        if (isLedgerDay(day))
            return day;
    }
    return std::nullopt;
}

std::optional<qint64> amountOf(const QString& text, QChar decimalSeparator)
{
    if (const std::optional<qint64> cents = parseAmountCents(text, QLatin1Char('.')))
        return cents;
    return decimalSeparator == QLatin1Char('.') ? std::nullopt : parseAmountCents(text, decimalSeparator);
}

QString keptText(const QString& text)
{
    return composedTrimmed(undefusedText(text));
}

// The signs a spreadsheet starts a formula with, the full-width equals signs among them.
const QString kFormulaStarts = QStringLiteral("=+-@\t\r'\uFF1D\uFE66");

} // namespace

QString defusedText(const QString& text)
{
    return !text.isEmpty() && kFormulaStarts.contains(text.front()) ? QLatin1Char('\'') + text : text;
}

QString undefusedText(const QString& text)
{
    return text.size() >= 2 && text.front() == QLatin1Char('\'') && kFormulaStarts.contains(text.at(1)) ? text.mid(1)
                                                                                                        : text;
}

SalesImport parseSalesCsv(
    const QByteArray& bytes, QChar decimalSeparator, const ImportProgress& progress, const QString& encoding)
{
    SalesImport result;
    const QString text = decoded(bytes, encoding, result.encoding, result.otherEncoding);
    CsvReader reader(text, separatorOf(text));
    std::array<qsizetype, ColumnCount> at { Day, Name, Quantity, Received, Cost, Memo };
    // How many fields a row may have: the header's, else the six columns of a line.
    qsizetype width = ColumnCount;
    qint64 row = 0;
    while (!reader.atEnd()) {
        QStringList fields = reader.next();
        ++row;
        if (progress && row % 5000 == 0)
            progress(reader.position(), text.size());
        bool blank = true;
        for (const QString& field : fields)
            blank = blank && isBlankText(field);
        if (blank)
            continue;
        if (row == 1 && fields.contains(kCaptions[Name])) {
            result.header = true;
            width = fields.size();
            for (int column = 0; column < ColumnCount; ++column) {
                at[size_t(column)] = fields.indexOf(kCaptions[size_t(column)]);
                if (at[size_t(column)] < 0 && column != Memo)
                    result.problems.append({ row, kCaptions[size_t(column)], QStringLiteral("缺少这一列") });
            }
            // Without a column of the line there is nothing to check the rows by.
            if (!result.problems.isEmpty())
                return result;
            continue;
        }
        ++result.rows;
        const auto field = [&](Column column) {
            const qsizetype index = at[size_t(column)];
            return index >= 0 && index < fields.size() ? fields.at(index).trimmed() : QString();
        };
        const qsizetype problemsBefore = result.problems.size();
        const auto problem = [&](Column column, const QString& reason) {
            result.problems.append({ row, kCaptions[size_t(column)], reason });
        };
        // More filled fields than columns: a comma inside an amount, say, would shift every value after it.
        qsizetype filled = fields.size();
        while (filled > width && isBlankText(fields.at(filled - 1)))
            --filled;
        if (filled > width)
            result.problems.append({ row, QStringLiteral("整行"),
                QStringLiteral("有 %1 个字段，比应有的 %2 个多（金额中的逗号要加引号）").arg(filled).arg(width) });
        const std::optional<QDate> day = dayOf(field(Day));
        if (!day)
            problem(Day, QStringLiteral("“%1”不是日期").arg(field(Day)));
        const QString name = keptText(field(Name));
        if (isBlankText(name))
            problem(Name, QStringLiteral("品名是空的"));
        // The character U+0000 cannot be stored; it is this row's problem, not the file's.
        if (name.contains(QChar(0)))
            problem(Name, QStringLiteral("品名中有不能保存的空字符（U+0000）"));
        if (field(Memo).contains(QChar(0)))
            problem(Memo, QStringLiteral("备注中有不能保存的空字符（U+0000）"));
        const std::optional<qint32> quantity
            = decimalQuantity(field(Quantity)) ? parseQuantity(field(Quantity)) : std::nullopt;
        if (!quantity)
            problem(Quantity, QStringLiteral("“%1”不是整数").arg(field(Quantity)));
        const std::optional<qint64> received = amountOf(field(Received), decimalSeparator);
        if (!received)
            problem(Received, QStringLiteral("“%1”不是金额，或超出了一万亿").arg(field(Received)));
        const std::optional<qint64> cost = amountOf(field(Cost), decimalSeparator);
        if (!cost)
            problem(Cost, QStringLiteral("“%1”不是金额，或超出了一万亿").arg(field(Cost)));
        if (result.problems.size() == problemsBefore)
            result.lines.append({ 0, *day, name, *quantity, *received, *cost, keptText(field(Memo)) });
    }
    if (progress)
        progress(text.size(), text.size());
    return result;
}

namespace {

QByteArray importedBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw KivaroError(QStringLiteral("无法打开“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    if (file.size() > kLargestFile)
        throw KivaroError(
            QStringLiteral("“%1”太大（超过 256 MB），不像是一份销售记录").arg(QDir::toNativeSeparators(path)));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw KivaroError(QStringLiteral("无法读取“%1”：%2").arg(QDir::toNativeSeparators(path), file.errorString()));
    return bytes;
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + defusedText(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

SalesImport readSalesCsv(
    const QString& path, QChar decimalSeparator, const ImportProgress& progress, const QString& encoding)
{
    return parseSalesCsv(importedBytes(path), decimalSeparator, progress, encoding);
}

QByteArray salesCsv(const QList<SalesLine>& lines)
{
    QString text = QStringLiteral("\uFEFF日期,品名,数量,实收,成本,备注\r\n");
    for (const SalesLine& line : lines)
        text += line.day.toString(Qt::ISODate) + QLatin1Char(',') + quoted(line.productName) + QLatin1Char(',')
            + QString::number(line.quantity) + QLatin1Char(',') + formatCents(line.received) + QLatin1Char(',')
            + formatCents(line.cost) + QLatin1Char(',') + quoted(line.memo) + QStringLiteral("\r\n");
    return text.toUtf8();
}

namespace {

enum CatalogueColumn { ItemName, ItemCode, ItemPrice, ItemCost, CatalogueColumns };
const std::array<QString, CatalogueColumns> kCatalogueCaptions { QStringLiteral("品名"), QStringLiteral("条码"),
    QStringLiteral("单价"), QStringLiteral("单位成本") };

} // namespace

CatalogueImport parseCatalogueCsv(const QByteArray& bytes, QChar decimalSeparator)
{
    CatalogueImport result;
    QString otherEncoding;
    const QString text = decoded(bytes, QString(), result.encoding, otherEncoding);
    CsvReader reader(text, separatorOf(text));
    std::array<qsizetype, CatalogueColumns> at { ItemName, ItemCode, ItemPrice, ItemCost };
    QHash<QString, qint64> names, codes;
    qint64 row = 0;
    while (!reader.atEnd()) {
        const QStringList fields = reader.next();
        ++row;
        bool blank = true;
        for (const QString& field : fields)
            blank = blank && isBlankText(field);
        if (blank)
            continue;
        if (row == 1 && fields.contains(kCatalogueCaptions[ItemName])) {
            for (int column = 0; column < CatalogueColumns; ++column)
                at[size_t(column)] = fields.indexOf(kCatalogueCaptions[size_t(column)]);
            continue;
        }
        ++result.rows;
        const auto field = [&](CatalogueColumn column) {
            const qsizetype index = at[size_t(column)];
            return index >= 0 && index < fields.size() ? fields.at(index).trimmed() : QString();
        };
        const qsizetype problemsBefore = result.problems.size();
        const auto problem = [&](CatalogueColumn column, const QString& reason) {
            result.problems.append({ row, kCatalogueCaptions[size_t(column)], reason });
        };
        CatalogueItem item { keptText(field(ItemName)), undefusedText(field(ItemCode)), {}, {} };
        for (const CatalogueColumn column : { ItemPrice, ItemCost }) {
            if (field(column).isEmpty())
                continue;
            const std::optional<qint64> amount = amountOf(field(column), decimalSeparator);
            if (!amount || *amount < 0)
                problem(column, unitAmountProblem(field(column)));
            (column == ItemPrice ? item.price : item.cost) = amount;
        }
        if (result.problems.size() == problemsBefore) {
            if (const QString why = itemProblem(item); !why.isEmpty())
                problem(why.contains(QStringLiteral("条码")) ? ItemCode : ItemName, why);
        }
        if (const auto twice = names.constFind(item.name); twice != names.cend())
            problem(ItemName, QStringLiteral("品名“%1”在第 %2 行已经有了").arg(item.name).arg(*twice));
        if (const auto twice = codes.constFind(item.code); !item.code.isEmpty() && twice != codes.cend())
            problem(ItemCode, QStringLiteral("条码“%1”在第 %2 行已经有了").arg(item.code).arg(*twice));
        names.insert(item.name, row);
        if (!item.code.isEmpty())
            codes.insert(item.code, row);
        if (result.problems.size() == problemsBefore)
            result.items.append(item);
    }
    return result;
}

CatalogueImport readCatalogueCsv(const QString& path, QChar decimalSeparator)
{
    return parseCatalogueCsv(importedBytes(path), decimalSeparator);
}

QByteArray catalogueCsv(const QList<CatalogueItem>& items)
{
    const auto amount = [](const std::optional<qint64>& cents) { return cents ? formatCents(*cents) : QString(); };
    QString text = QStringLiteral("\uFEFF品名,条码,单价,单位成本\r\n");
    for (const CatalogueItem& item : items)
        text += quoted(item.name) + QLatin1Char(',') + quoted(item.code) + QLatin1Char(',') + amount(item.price)
            + QLatin1Char(',') + amount(item.cost) + QStringLiteral("\r\n");
    return text.toUtf8();
}
