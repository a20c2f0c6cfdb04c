#include "db/DbError.h"

#include "base/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <sqlite3.h>

namespace {

enum class Shape { Ledger, NotALedger, SumsBeyondExact };

// What a file that failed a statement holds: no sales table with our columns (an empty or foreign database opens
// fine and only fails at its first statement), or amounts whose absolute values add up beyond what 64 bits hold
// exactly (sum() then fails with nothing but SQLITE_ERROR). Read on a connection of its own, read-only; a file that
// cannot be read that way says nothing.
Shape shapeOf(const QString& path)
{
    if (path.isEmpty())
        return Shape::Ledger;
    sqlite3* db = nullptr;
    const auto close = qScopeGuard([&db] { sqlite3_close_v2(db); });
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return Shape::Ledger;
    sqlite3_busy_timeout(db, 2'000);
    sqlite3_stmt* statement = nullptr;
    const auto finish = qScopeGuard([&statement] { sqlite3_finalize(statement); });
    // 9.2e18 is just under 2^63: the float totals are near enough to tell, and only asked after a failure.
    const char* const sums = "SELECT total(abs(RecQuantity)) >= 9.2e18 "
                             "OR total(abs(RecMoney)) + total(abs(RecCost)) >= 9.2e18, UserName, RecDate, "
                             "RecProductName FROM Records";
    const int prepared = sqlite3_prepare_v2(db, sums, -1, &statement, nullptr);
    if (prepared != SQLITE_OK)
        return (prepared & 0xFF) == SQLITE_ERROR ? Shape::NotALedger : Shape::Ledger;
    return sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_int(statement, 0) != 0 ? Shape::SumsBeyondExact
                                                                                          : Shape::Ledger;
}

} // namespace

KivaroError databaseFailure(const QString& path, int engineCode, const QString& engine)
{
    const QFileInfo file(path);
    QString what;
    KivaroError::Kind kind = KivaroError::Kind::Other;
    // The primary result code; extended codes keep it in the low byte.
    switch (engineCode & 0xFF) {
    case 3: // SQLITE_PERM
    case 23: // SQLITE_AUTH
        what = QStringLiteral("没有访问数据库文件“%1”的权限");
        break;
    case 5: // SQLITE_BUSY
    case 6: // SQLITE_LOCKED
        what = QStringLiteral("数据库文件“%1”正被另一个程序占用，请稍后再试");
        kind = KivaroError::Kind::Busy;
        break;
    case 8: // SQLITE_READONLY
        what = QStringLiteral("无法写入数据库文件“%1”，文件或它所在的文件夹是只读的");
        break;
    case 10: // SQLITE_IOERR
        what = QStringLiteral("读写数据库文件“%1”时出错");
        break;
    case 11: // SQLITE_CORRUPT
        what = QStringLiteral("数据库文件“%1”已损坏");
        kind = KivaroError::Kind::Damaged;
        break;
    case 13: // SQLITE_FULL
        what = QStringLiteral("磁盘已满，无法写入数据库文件“%1”");
        kind = KivaroError::Kind::DiskFull;
        break;
    case 14: // SQLITE_CANTOPEN
        if (file.isDir())
            what = QStringLiteral("无法打开数据库文件“%1”，那里是一个文件夹");
        else if (!Platform::mayReadWrite(path))
            what = QStringLiteral("无法打开数据库文件“%1”，没有读写它的权限");
        else
            what = QStringLiteral("无法打开数据库文件“%1”");
        break;
    case 26: // SQLITE_NOTADB
        what = QStringLiteral("“%1”不是数据库文件");
        kind = KivaroError::Kind::Damaged;
        break;
    case 19: // SQLITE_CONSTRAINT
        // The sums' CHECK is the only one of the schema.
        if (engineCode == SQLITE_CONSTRAINT_CHECK) {
            what = QStringLiteral("合计超出了能精确记录的范围，数据库文件“%1”没有改动");
            kind = KivaroError::Kind::Overflow;
            break;
        }
        what = QStringLiteral("数据库文件“%1”出错");
        break;
    default:
        // A failed statement with no code of its own: the file tells which of the two known causes it was.
        switch (shapeOf(path)) {
        case Shape::NotALedger:
            what = QStringLiteral("“%1”不是 Kivaro 的数据库");
            break;
        case Shape::SumsBeyondExact:
            what = QStringLiteral("合计超出了能精确记录的范围，无法在数据库文件“%1”中求和");
            kind = KivaroError::Kind::Overflow;
            break;
        case Shape::Ledger:
            what = QStringLiteral("数据库文件“%1”出错");
            break;
        }
    }
    return KivaroError(what.arg(QDir::toNativeSeparators(path)) + QStringLiteral("：") + engine, kind);
}
