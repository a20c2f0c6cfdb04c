#include "bench/SalesData.h"

#include "base/TextCodec.h"
#include "bench/Measure.h"
#include "db/DbClass.h"
#include "tests/support/DataHome.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSet>
#include <cstdio>
#include <sqlite3.h>

namespace {

// Bump when the generated content changes, so that cached files made by an older generator are not reused.
constexpr int kGeneratorVersion = 1;

const QStringList kUsers { QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("Mary Chen"),
    QStringLiteral("王五小店"), QStringLiteral("赵六 Zhao"), QStringLiteral("孙七"), QStringLiteral("周八") };

QStringList split(const char* words)
{
    return QString::fromUtf8(words).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

const QStringList& surnames()
{
    static const QStringList list = split("张 王 李 赵 刘 陈 杨 黄 周 吴 徐 孙 马 朱 胡 郭 何 高 林 罗 郑 梁 谢 宋 "
                                          "唐 许 韩 冯 邓 曹 彭 曾 肖 田 董 袁 潘 于 蒋 蔡 余 杜 叶 程 苏 魏 吕 丁");
    return list;
}

const QStringList& brandTails()
{
    static const QStringList list = split("牌 记 氏 家 坊 堂 之家 优品 严选 工坊");
    return list;
}

const QStringList& nouns()
{
    static const QStringList list = split(
        "毛巾 牙刷 牙膏 洗发水 沐浴露 香皂 洗衣粉 洗衣液 拖鞋 袜子 手套 帽子 围巾 雨伞 水杯 保温杯 饭盒 筷子 勺子 "
        "瓷碗 盘子 炒锅 锅铲 台灯 灯泡 插座 电池 数据线 充电器 耳机 鼠标 键盘 U盘 笔记本 圆珠笔 铅笔 橡皮 直尺 "
        "文件夹 书包 T恤 衬衫 牛仔裤 连衣裙 外套 毛衣 羽绒服 运动鞋 皮鞋 凉鞋 枕头 被套 床单 凉席 蚊帐 衣架 "
        "收纳盒 垃圾袋 保鲜膜 纸巾 湿巾 口罩 创可贴 花生油 大米 面粉 白糖 食盐 酱油 香醋 绿茶 红茶 咖啡 饼干 "
        "巧克力 矿泉水 果汁 牛奶 酸奶 方便面 挂面 火腿肠 鸡蛋 苹果 香蕉 橙子");
    return list;
}

const QStringList& latinWords()
{
    static const QStringList list = split("Super Pro Max Mini Lite Plus Deluxe Classic Eco Smart Happy Sunny Star "
                                          "Ocean Green Cloud Panda Tiger Lotus Jade Golden Silver Home Daily Fresh");
    return list;
}

const QStringList& qualifiers()
{
    static const QStringList list = split("红色 蓝色 白色 黑色 粉色 灰色 大号 中号 小号 加厚 加长 儿童 成人 男款 女款 "
                                          "XL L M S 500ml 1L 250g 2kg 10只装 3双装 6瓶装 礼盒装 2024新款");
    return list;
}

const QStringList& latinPhrases()
{
    static const QStringList list { QStringLiteral("USB cable Type-C 1m"), QStringLiteral("AA battery x4"),
        QStringLiteral("Phone case"), QStringLiteral("HDMI 2.1 cable"), QStringLiteral("LED bulb E27 9W"),
        QStringLiteral("Notebook A5"), QStringLiteral("Gel pen 0.5mm"), QStringLiteral("Yoga mat"),
        QStringLiteral("Desk lamp"), QStringLiteral("Power bank 10000mAh") };
    return list;
}

QString pick(Rng& rng, const QStringList& list)
{
    return list.at(rng.below(int(list.size())));
}

QString productName(Rng& rng)
{
    const QString brand
        = pick(rng, surnames()) + (rng.chance(50) ? pick(rng, surnames()) : QString()) + pick(rng, brandTails());
    switch (rng.below(6)) {
    case 0:
        return pick(rng, nouns());
    case 1:
        return brand + pick(rng, nouns());
    case 2:
        return brand + pick(rng, latinWords()) + pick(rng, nouns()) + QLatin1Char(' ') + pick(rng, qualifiers());
    case 3:
        return pick(rng, latinWords()) + QLatin1Char(' ') + pick(rng, nouns()) + pick(rng, qualifiers());
    case 4:
        return pick(rng, latinPhrases()) + (rng.chance(50) ? QLatin1Char(' ') + pick(rng, qualifiers()) : QString());
    default:
        // The long names of shops that copy the whole listing title.
        return brand + pick(rng, latinWords()) + pick(rng, qualifiers()) + pick(rng, nouns()) + pick(rng, qualifiers())
            + pick(rng, qualifiers()) + QStringLiteral("（") + pick(rng, latinWords()) + QStringLiteral("系列）")
            + pick(rng, nouns()) + QStringLiteral("套装");
    }
}

QStringList memoTexts(Rng& rng)
{
    QStringList memos { QStringLiteral("退货"), QStringLiteral("赠品"), QStringLiteral("VIP"),
        QStringLiteral("批发 50件"), QStringLiteral("货到付款") };
    for (int i = 0; i < 400; ++i) {
        switch (rng.below(3)) {
        case 0:
            memos << QStringLiteral("购买者") + pick(rng, surnames()) + pick(rng, surnames());
            break;
        case 1:
            memos << QStringLiteral("淘宝订单 %1").arg(100000000 + rng.below(900000000));
            break;
        default:
            memos << QStringLiteral("Order #%1 %2").arg(rng.below(100000)).arg(pick(rng, latinWords()));
            break;
        }
    }
    return memos;
}

QString cacheKey(const DataParams& p)
{
    const QString templatePath = QCoreApplication::applicationDirPath() + QStringLiteral("/db.sjk.new");
    check(QFile::exists(templatePath), QStringLiteral("no database template beside the benchmark: ") + templatePath);
    RawSqliteDb schema(templatePath, false);
    RawSqliteStatement sql(schema, "SELECT group_concat(sql, ';') FROM (SELECT sql FROM sqlite_master ORDER BY name)");
    check(sql.step(), QStringLiteral("template without schema"));
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(sql.get(), 0));
    const QByteArray material = QStringLiteral("v%1 rows=%2 users=%3 years=%4 products=%5 seed=%6 first=%7 ")
                                    .arg(kGeneratorVersion)
                                    .arg(p.rows)
                                    .arg(p.users)
                                    .arg(p.years)
                                    .arg(p.products)
                                    .arg(p.seed)
                                    .arg(p.firstYear)
                                    .toUtf8()
        + QByteArray(text ? text : "");
    return QStringLiteral("%1-%2u-%3")
        .arg(p.rows)
        .arg(p.users)
        .arg(QString::fromLatin1(QCryptographicHash::hash(material, QCryptographicHash::Sha1).toHex().left(12)));
}

void generate(const SalesData& data, const QString& cacheDir)
{
    std::fprintf(stderr, "generating %lld sales lines into %s\n", data.params.rows, qPrintable(data.file));
    Stopwatch clock;
    TestDataHome home;
    {
        // The accounts go through the program itself, so they carry real password hashes.
        TDbMan db;
        for (const QString& user : data.users)
            check(db.AddUser(user, QStringLiteral("bench")), QStringLiteral("cannot add user ") + user);
    }
    {
        RawSqliteDb raw(home.dbPath(), true);
        raw.exec("PRAGMA synchronous=OFF");
        raw.exec("BEGIN IMMEDIATE");
        RawSqliteStatement insert(raw,
            "INSERT INTO Records (UserName, RecDate, RecProductName, RecQuantity, RecMoney, RecCost, RecMemo) "
            "VALUES (?, ?, ?, ?, ?, ?, ?)");
        std::vector<std::string> users, products, memos, days;
        for (const QString& user : data.users)
            users.push_back(encodedStd(user));
        for (const QString& name : data.products)
            products.push_back(encodedStd(name));
        LineMaker maker(data.params.seed ^ 0x5a1e5, int(data.products.size()));
        for (const QString& memo : maker.memos())
            memos.push_back(encodedStd(memo));
        const QDate first = data.params.firstDay();
        const qint64 dayCount = first.daysTo(data.params.lastDay()) + 1;
        for (qint64 d = 0; d < dayCount; ++d)
            days.push_back(dayStd(first.addDays(d)));
        const std::string noMemo;
        Rng who(data.params.seed ^ 0x0005e5);
        for (qint64 k = 0; k < data.params.rows; ++k) {
            const GeneratedLine line = maker.next();
            insert.bind(1, users[who.below(int(users.size()))]);
            insert.bind(2, days[size_t(k * dayCount / data.params.rows)]);
            insert.bind(3, products[line.product]);
            insert.bind(4, qint64(line.quantity));
            insert.bind(5, line.received);
            insert.bind(6, line.cost);
            insert.bind(7, line.memo < 0 ? noMemo : memos[line.memo]);
            insert.step();
            insert.reset();
        }
        raw.exec("COMMIT");
    }
    QDir().mkpath(cacheDir);
    const QString partial = data.file + QStringLiteral(".part");
    QFile::remove(partial);
    check(QFile::copy(home.dbPath(), partial) && QFile::rename(partial, data.file),
        QStringLiteral("cannot store the generated data in ") + data.file);
    // Files of the same size and users made by another generator or for another schema are of no further use.
    const QDir cache(cacheDir);
    for (const QString& stale : cache.entryList(
             { QStringLiteral("sales-%1-%2u-*.sjk").arg(data.params.rows).arg(data.params.users) }, QDir::Files)) {
        if (cache.filePath(stale) != data.file)
            QFile::remove(cache.filePath(stale));
    }
    std::fprintf(stderr, "generated in %.1f s\n", clock.seconds());
}

} // namespace

quint64 Rng::next()
{
    // SplitMix64.
    quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

QStringList makeProductNames(int count, quint64 seed)
{
    Rng rng(seed);
    QStringList names;
    QSet<QString> seen;
    while (names.size() < count) {
        QString name = productName(rng);
        if (seen.contains(name))
            name += QStringLiteral(" %1号").arg(names.size());
        if (seen.contains(name))
            continue;
        seen.insert(name);
        names << name;
    }
    return names;
}

LineMaker::LineMaker(quint64 seed, int products)
    : m_rng(seed)
{
    m_memos = memoTexts(m_rng);
    m_prices.reserve(products);
    for (int i = 0; i < products; ++i)
        m_prices.push_back(m_rng.chance(70) ? 100 + m_rng.below(9900) : 10000 + m_rng.below(990000));
}

GeneratedLine LineMaker::next()
{
    GeneratedLine line;
    // Squaring a uniform pick favours the first products: a few sell often, most now and then.
    const double u = double(m_rng.below(1'000'000)) / 1'000'000;
    line.product = int(u * u * double(m_prices.size()));
    line.quantity = m_rng.chance(90) ? 1 + m_rng.below(5) : 1 + m_rng.below(100);
    const qint64 list = m_prices[size_t(line.product)] * line.quantity;
    line.received = list - list * m_rng.below(15) / 100;
    line.cost = line.received * (50 + m_rng.below(40)) / 100;
    if (m_rng.chance(30))
        line.memo = 5 + m_rng.below(int(m_memos.size()) - 5);
    if (m_rng.below(30) == 0) {
        line.quantity = -line.quantity;
        line.received = -line.received;
        line.cost = -line.cost;
        line.memo = 0;
    }
    return line;
}

SalesData SalesData::prepare(const DataParams& params, const QString& cacheDir)
{
    check(params.users <= kUsers.size(), QStringLiteral("too many users"));
    SalesData data;
    data.params = params;
    data.users = kUsers.mid(0, params.users);
    data.products = makeProductNames(params.products, params.seed);
    data.file = cacheDir + QStringLiteral("/sales-") + cacheKey(params) + QStringLiteral(".sjk");
    if (!QFile::exists(data.file))
        generate(data, cacheDir);
    return data;
}

namespace {

qint64 countInRange(const QString& file, const char* what, const QString& user, const QDate& first, const QDate& last)
{
    RawSqliteDb db(file, false);
    RawSqliteStatement count(
        db, std::string("SELECT COUNT(") + what + ") FROM Records WHERE UserName=? AND RecDate>=? AND RecDate<=?");
    count.bind(1, encodedStd(user));
    count.bind(2, dayStd(first));
    count.bind(3, dayStd(last));
    check(count.step(), QStringLiteral("no count"));
    return sqlite3_column_int64(count.get(), 0);
}

} // namespace

QString SalesData::findText() const
{
    for (const QString& product : products) {
        for (qsizetype i = 0; i + 1 < product.size(); ++i) {
            if (product.at(i).script() == QChar::Script_Han && product.at(i + 1).script() == QChar::Script_Han)
                return product.mid(i, 2);
        }
    }
    return {};
}

qint64 SalesData::countLines(const QString& user, const QDate& first, const QDate& last) const
{
    return countInRange(file, "*", user, first, last);
}

qint64 SalesData::countDays(const QString& user, const QDate& first, const QDate& last) const
{
    return countInRange(file, "DISTINCT RecDate", user, first, last);
}

QDate SalesData::firstDayForLines(const QString& user, qint64 lines) const
{
    RawSqliteDb db(file, false);
    RawSqliteStatement days(
        db, "SELECT RecDate, COUNT(*) FROM Records WHERE UserName=? GROUP BY RecDate ORDER BY RecDate DESC");
    days.bind(1, encodedStd(user));
    qint64 total = 0;
    QDate first = params.lastDay();
    while (total < lines && days.step()) {
        first
            = QDate::fromString(QString::fromLatin1(reinterpret_cast<const char*>(sqlite3_column_text(days.get(), 0))),
                QStringLiteral("yyyy-MM-dd"));
        total += sqlite3_column_int64(days.get(), 1);
    }
    return first;
}

std::string encodedStd(const QString& text)
{
    return EncodeText(text).toStdString();
}

std::string dayStd(const QDate& day)
{
    return day.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
}
