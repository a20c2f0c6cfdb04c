#include "app/AppIcon.h"
#include "tests/TestUtil.h"

#include <QImage>
#include <QPixmap>

class TestAppIcon : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void everySizeHasItsOwnDrawing_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : { 16, 32, 48, 64, 128, 256 })
            QTest::newRow(QByteArray::number(size).constData()) << size;
    }

    void everySizeHasItsOwnDrawing()
    {
        QFETCH(int, size);
        const QIcon icon = kivaroIcon();
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        // The picture behind each size must be drawn at that size, not left to be scaled from another.
        const QImage drawn(QStringLiteral(":/appicon/kivaro-%1.png").arg(size));
        QVERIFY(!drawn.isNull());
        QCOMPARE(drawn.size(), QSize(size, size));

        const QImage shown = icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(shown.size(), QSize(size, size));
        // Rounded corners: the very corner stays transparent, the border area is the header blue.
        QCOMPARE(qAlpha(shown.pixel(0, 0)), 0);
        const QColor border = shown.pixelColor(size * 12 / 100, size / 2);
        QCOMPARE(border.alpha(), 255);
        QVERIFY2(qAbs(border.red() - 57) <= 8 && qAbs(border.green() - 173) <= 8 && qAbs(border.blue() - 222) <= 8,
            qPrintable(border.name()));
    }
};

KIVARO_TEST_MAIN(TestAppIcon)
#include "tst_appicon.moc"
