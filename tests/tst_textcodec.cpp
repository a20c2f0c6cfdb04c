#include "db/TextCodec.h"
#include "tests/TestUtil.h"

class TestTextCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void encodeBreaksLinesAfter76Characters()
    {
        QCOMPARE(EncodeText(QString()), QString());
        const QString encoded57 = EncodeText(QString(57, QLatin1Char('a')));
        QCOMPARE(encoded57.size(), 78);
        QVERIFY(encoded57.endsWith(QLatin1String("\r\n")));
        QVERIFY(!encoded57.left(76).contains(QLatin1Char('\r')));

        const QString encoded58 = EncodeText(QString(58, QLatin1Char('a')));
        QCOMPARE(encoded58.size(), 76 + 2 + 4);
        QCOMPARE(encoded58.mid(76, 2), QStringLiteral("\r\n"));
        QVERIFY(encoded58.endsWith(QLatin1String("==")));
        QCOMPARE(EncodeText(QStringLiteral("a")), QStringLiteral("YQ=="));
    }

    void encodesGb18030Bytes()
    {
        QCOMPARE(toGb18030(QStringLiteral("张三牌毛巾")).size(), 10);
        QCOMPARE(toGb18030(QStringLiteral("张")), QByteArray("\xD5\xC5"));
        QCOMPARE(EncodeText(QStringLiteral("张")), QString::fromLatin1(QByteArray("\xD5\xC5").toBase64()));
    }

    void roundTrips_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << QStringLiteral("Towel");
        QTest::newRow("chinese") << QStringLiteral("张三牌毛巾");
        QTest::newRow("quotes and sql") << QStringLiteral("O'Brien\"; DROP TABLE Records; --");
        QTest::newRow("blanks kept") << QStringLiteral("  A  ");
        QTest::newRow("long with line breaks") << QStringLiteral("毛巾").repeated(100);
        QTest::newRow("outside gbk") << QStringLiteral("😀 € ß ☃");
        QTest::newRow("control characters") << QStringLiteral("a\tb\r\nc");
    }

    void roundTrips()
    {
        QFETCH(QString, text);
        QCOMPARE(DecodeText(EncodeText(text)), text);
    }

    void decodeSkipsForeignCharactersAndPartialGroups()
    {
        QCOMPARE(DecodeText(QStringLiteral(" Y Q = =\r\n")), QStringLiteral("a"));
        QCOMPARE(DecodeText(QStringLiteral("YWJj!!YQ")), QStringLiteral("abc"));
    }

    void trimsCodesUpTo32()
    {
        QCOMPARE(trimmed32(QStringLiteral(" \t\r\nA B\x01 ")), QStringLiteral("A B"));
        QCOMPARE(trimmed32(QStringLiteral("   ")), QString());
        QCOMPARE(trimmed32(QStringLiteral("\u3000A")), QStringLiteral("\u3000A"));
    }
};

KIVARO_TEST_MAIN(TestTextCodec)
#include "tst_textcodec.moc"
