#include "db/DbError.h"

#include "base/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

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
        // sum() beyond 64 bits fails with SQLITE_ERROR and no code of its own: its text is all there is.
        if (engine.contains(QLatin1String("integer overflow"))) {
            what = QStringLiteral("合计超出了能精确记录的范围，无法在数据库文件“%1”中求和");
            kind = KivaroError::Kind::Overflow;
            break;
        }
        // An empty or foreign database opens fine and only fails at the first statement.
        if (engine.startsWith(QLatin1String("no such table")) || engine.startsWith(QLatin1String("no such column")))
            what = QStringLiteral("“%1”不是 Kivaro 的数据库");
        else
            what = QStringLiteral("数据库文件“%1”出错");
    }
    return KivaroError(what.arg(QDir::toNativeSeparators(path)) + QStringLiteral("：") + engine, kind);
}
