#pragma once

#include "bench/RawSqlite.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

// A small, fast generator whose sequence is the same on every machine and library.
class Rng
{
public:
    explicit Rng(quint64 seed)
        : m_state(seed)
    {
    }
    quint64 next();
    // 0 … n-1.
    int below(int n) { return int(next() % quint64(n)); }
    bool chance(int percent) { return below(100) < percent; }

private:
    quint64 m_state;
};

struct DataParams
{
    qint64 rows = 1'000'000;
    int users = 5;
    int years = 5;
    int products = 2'000;
    quint64 seed = 20240601;
    int firstYear = 2019;

    QDate firstDay() const { return QDate(firstYear, 1, 1); }
    QDate lastDay() const { return QDate(firstYear + years - 1, 12, 31); }
};

// Product names of mixed Chinese and Latin text and of every length from two characters to about forty.
QStringList makeProductNames(int count, quint64 seed);

// One generated sale; the product and the memo are indexes into their lists, memo -1 for none.
struct GeneratedLine
{
    int product = 0;
    qint32 quantity = 0;
    qint64 received = 0;
    qint64 cost = 0;
    int memo = -1;
};

// Sales as a shop makes them: popular products sold more often, amounts with cents, about one line in thirty a
// return with negative quantity and amounts.
class LineMaker
{
public:
    LineMaker(quint64 seed, int products);
    GeneratedLine next();
    const QStringList& memos() const { return m_memos; }

private:
    Rng m_rng;
    std::vector<qint64> m_prices;
    QStringList m_memos;
    int m_returnMemo = 0;
};

// The generated database: kept in the cache folder under a name made from everything it depends on, and made
// only when it is missing there.
struct SalesData
{
    DataParams params;
    QString file;
    QStringList users;
    QStringList products;

    static SalesData prepare(const DataParams& params, const QString& cacheDir);
    // The rows of one user over an inclusive range of days, counted in the file.
    qint64 countLines(const QString& user, const QDate& first, const QDate& last) const;
    // The days with at least one of the user's lines in an inclusive range.
    qint64 countDays(const QString& user, const QDate& first, const QDate& last) const;
    // The shortest range that ends on the last day and holds at least the given number of the user's lines.
    QDate firstDayForLines(const QString& user, qint64 lines) const;
    // What 查找 looks for in the benchmark: the first two Chinese characters in a row of a product's name.
    QString findText() const;
};

std::string encodedStd(const QString& text);
std::string dayStd(const QDate& day);
