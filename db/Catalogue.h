#pragma once

#include "db/SalesCsv.h"

#include <QHash>
#include <QList>
#include <QString>
#include <optional>

// A product of the catalogue (商品资料): its name, its code (a barcode; empty when it has none), and the amounts of
// one unit in cents, each unknown until the owner gives it.
struct CatalogueItem
{
    QString name;
    QString code;
    std::optional<qint64> price;
    std::optional<qint64> cost;
    friend bool operator==(const CatalogueItem&, const CatalogueItem&) = default;
};

// One change of the catalogue, as a window or an import asks for it. The store applies a list of them in one write.
struct CatalogueChange
{
    enum class Kind {
        // A new product: refused when its name is in the catalogue already.
        Add,
        // The product of that name, new or rewritten (an import).
        Put,
        // The product named `was`, rewritten as item (its name too): refused when it is gone.
        Replace,
        // The product of item's name taken out: refused when it is gone.
        Remove,
    };
    Kind kind = Kind::Add;
    CatalogueItem item;
    QString was;
};

// A code is what a scanner types: printable ASCII without spaces, at most this long.
inline constexpr int kLongestCode = 64;
// Why the text cannot be a product's code, in the user's words; empty when it can (an empty code included).
QString codeProblem(const QString& code);
// Why the item cannot be stored (a blank name, a name with U+0000, an odd code, a negative or too large amount); empty
// when it can. The name is expected trimmed and composed.
QString itemProblem(const CatalogueItem& item);

// Why the typed text is no unit amount (not an amount, negative, or too large).
QString unitAmountProblem(const QString& typed);

// The amount of a line of quantity units at the unit amount; nothing when it passes what a line may hold.
std::optional<qint64> amountOfUnits(qint32 quantity, qint64 unit);

// The catalogue in memory, looked up by code and by name on every keystroke of the till.
class CatalogueIndex
{
public:
    CatalogueIndex() = default;
    explicit CatalogueIndex(const QList<CatalogueItem>& items);
    const CatalogueItem* byCode(const QString& code) const;
    const CatalogueItem* byName(const QString& name) const;
    bool isEmpty() const { return m_items.isEmpty(); }

private:
    QList<CatalogueItem> m_items;
    QHash<QString, qsizetype> m_codes;
    QHash<QString, qsizetype> m_names;
};

// What a catalogue file held: the products that pass the checks, and the problems of the other rows.
struct CatalogueImport
{
    QList<CatalogueItem> items;
    QList<ImportProblem> problems;
    qint64 rows = 0;
    QString encoding;
};

// Reads products from CSV bytes, as the sales import reads its files (encodings, separators, quoting, the header's
// captions 品名, 条码, 单价, 单位成本, or that order without a header). A name that is not blank, a code a scanner can
// type, amounts that are empty or within their limits (a full stop or the decimal separator given); a name or a code
// that comes twice in the file is a problem of its second row.
CatalogueImport parseCatalogueCsv(const QByteArray& bytes, QChar decimalSeparator);
CatalogueImport readCatalogueCsv(const QString& path, QChar decimalSeparator);
// The catalogue as a file the import reads back.
QByteArray catalogueCsv(const QList<CatalogueItem>& items);

// The steps of a change of the catalogue inside one write, in a store's own SQL.
class CatalogueSteps
{
public:
    virtual ~CatalogueSteps() = default;
    // The product of that name, held unchanged by others until the write ends; nothing when there is none.
    virtual std::optional<CatalogueItem> find(const QString& name) = 0;
    // The name of the product with that code, if any.
    virtual std::optional<QString> nameOfCode(const QString& code) = 0;
    virtual void insert(const CatalogueItem& item) = 0;
    virtual void update(const QString& was, const CatalogueItem& item) = 0;
    virtual void remove(const QString& name) = 0;
};

class KivaroError;
// The refusal of a change of the catalogue by an account that is not the shop's owner.
KivaroError catalogueNotAllowed();

// Applies the changes in their order through steps; raises KivaroError in the user's words on the first one refused
// (a name taken, a product gone, a code of another product, a value that cannot be stored).
void applyCatalogueChanges(CatalogueSteps& steps, const QList<CatalogueChange>& changes);
