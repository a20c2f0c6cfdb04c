#include "base/TextCodec.h"
#include "tests/TestUtil.h"

#include <QStringDecoder>
#include <QStringEncoder>

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

    // An empty text is stored as an empty text, never as NULL, which the tables refuse.
    void emptyTextEncodesToAnEmptyText()
    {
        QVERIFY(!EncodeText(QString()).isNull());
        QVERIFY(EncodeText(QString()).isEmpty());
        QVERIFY(!encodeTextBytes(QString()).isNull());
        QCOMPARE(encodeTextBytes(QStringLiteral("张三")), EncodeText(QStringLiteral("张三")).toLatin1());
        const QString long76 = QString(57, QLatin1Char('a'));
        QCOMPARE(encodeTextBytes(long76), EncodeText(long76).toLatin1());
        QVERIFY(encodeTextBytes(long76).endsWith("\r\n"));
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

    void storedBytesDecodeLikeTheText_data() { roundTrips_data(); }

    void storedBytesDecodeLikeTheText()
    {
        QFETCH(QString, text);
        const QString encoded = EncodeText(text);
        QCOMPARE(decodeStoredBytes(encoded.toLatin1()), DecodeText(encoded));
        QCOMPARE(decodeStoredBytes(QByteArrayView()), QString());
    }

    // Texts without surrogates are converted by a table taken from the converter; every character must come out as
    // the converter gives it, alone and among others.
    void everyCharacterConvertsAsTheConverterDoes()
    {
        QString all;
        for (char32_t c = 0; c <= 0xFFFF; ++c) {
            if (!QChar::isSurrogate(c))
                all.append(QChar(char16_t(c)));
        }
        QCOMPARE(toGb18030(all), QByteArray(QStringEncoder("GB18030").encode(all)));
        for (qsizetype at = 0; at < all.size(); at += 997) {
            const QString one = all.mid(at, 1);
            QCOMPARE(toGb18030(one), QByteArray(QStringEncoder("GB18030").encode(one)));
        }
        QCOMPARE(toGb18030(QStringLiteral("张€\u0080\uFFFF")),
            QByteArray("\xD5\xC5\xA2\xE3\x81\x30\x81\x30\x84\x31\xA4\x39"));
        QCOMPARE(toGb18030(QStringLiteral("a😀b")), QByteArray(QStringEncoder("GB18030").encode(QStringLiteral("a😀b"))));
    }

    // The converters are kept from one call to the next; what one call leaves unfinished must not reach the next.
    void conversionsDoNotCarryOver()
    {
        const QByteArray trail("\xC5\xC8");
        const QString alone = QStringDecoder("GB18030").decode(trail);
        QCOMPARE(fromGb18030(QByteArray("\xD5")), QString());
        QCOMPARE(fromGb18030(trail), alone);
        QVERIFY(alone != QStringLiteral("张"));

        const QString low(QChar(0xDE00));
        const QByteArray lowAlone = QStringEncoder("GB18030").encode(low);
        toGb18030(QString(QChar(0xD83D)));
        QCOMPARE(toGb18030(low), lowAlone);
        QCOMPARE(toGb18030(QStringLiteral("张三牌毛巾")).size(), 10);
    }

    // A character that cannot be converted costs the same bytes wherever it stands, the end of the text included,
    // so that a text cut to a number of bytes character by character fits them as a whole.
    void unpairedSurrogateCountsAtTheEndToo()
    {
        const QString high(QChar(0xD9D9));
        const qsizetype inside = toGb18030(high + QLatin1Char('A')).size();
        QVERIFY(inside > 1);
        QCOMPARE(toGb18030(QLatin1Char('A') + high).size(), inside);
        QCOMPARE(toGb18030(high).size(), inside - 1);
        QCOMPARE(toGb18030(high + high).size(), 2 * (inside - 1));
        QCOMPARE(toGb18030(QStringLiteral("😀")).size(), 4);
    }

    void trimsCodesUpTo32()
    {
        QCOMPARE(trimmed32(QStringLiteral(" \t\r\nA B\x01 ")), QStringLiteral("A B"));
        QCOMPARE(trimmed32(QStringLiteral("   ")), QString());
        QCOMPARE(trimmed32(QStringLiteral("\u3000A")), QStringLiteral("\u3000A"));
    }

    void blankAndComposedTexts()
    {
        QVERIFY(isBlankText(QStringLiteral(" \t\u3000\x01\u00A0")) && isBlankText(QString()));
        QVERIFY(!isBlankText(QStringLiteral("\u3000A\u3000")) && !isBlankText(QStringLiteral("\u0301")));
        QCOMPARE(composedTrimmed(QStringLiteral(" Cafe\u0301 \u1100\u1161\t")), QStringLiteral("Caf\u00E9 \uAC00"));
        // Composed, not folded: full-width letters and spaces stay what they are.
        QCOMPARE(composedTrimmed(QStringLiteral("\u3000\uFF21\u3000")), QStringLiteral("\u3000\uFF21\u3000"));
    }
};

KIVARO_TEST_MAIN(TestTextCodec)
#include "tst_textcodec.moc"
