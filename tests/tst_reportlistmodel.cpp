#include "forms/ReportListModel.h"
#include "tests/TestUtil.h"

class TestReportListModel : public QObject
{
    Q_OBJECT

private:
    static QList<ReportListModel::Column> columns(int n)
    {
        QList<ReportListModel::Column> list;
        for (int i = 0; i < n; ++i)
            list.append({ QStringLiteral("c%1").arg(i), 40, i == 2 ? Qt::AlignRight : Qt::AlignLeft });
        return list;
    }
    static QStringList shown(const ReportListModel& model, int row)
    {
        QStringList texts;
        for (int c = 0; c < model.columnCount(); ++c)
            texts << model.data(model.index(row, c), Qt::DisplayRole).toString();
        return texts;
    }
    static QStringList words(const char* text) { return QString::fromUtf8(text).split(QLatin1Char(' ')); }

private Q_SLOTS:
    void rowsWithTheHiddenColumnStored()
    {
        ReportListModel model(columns(3));
        model.setTexts(words("7 a x 8 b y"), true);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.columnCount(), 3);
        QCOMPARE(shown(model, 0), words("7 a x"));
        QCOMPARE(shown(model, 1), words("8 b y"));
        QCOMPARE(model.text(1, 0), QStringLiteral("8"));
        QCOMPARE(model.row(1), words("8 b y"));
        QCOMPARE(model.data(model.index(0, 2), Qt::TextAlignmentRole).value<Qt::Alignment>(),
            Qt::AlignRight | Qt::AlignVCenter);
        QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    }

    void rowsWithoutTheHiddenColumnLeaveItEmpty()
    {
        ReportListModel model(columns(3));
        model.setTexts(words("a x b y c z"), false);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(shown(model, 2), (QStringList { QString(), QStringLiteral("c"), QStringLiteral("z") }));
        QCOMPARE(model.text(0, 0), QString());
        QCOMPARE(model.row(1), (QStringList { QString(), QStringLiteral("b"), QStringLiteral("y") }));
        QVERIFY(!model.data(model.index(3, 1), Qt::DisplayRole).isValid());
    }

    void anIncompleteLastRowIsNotShown()
    {
        ReportListModel model(columns(3));
        model.setTexts(words("a x b"), false);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(shown(model, 0), (QStringList { QString(), QStringLiteral("a"), QStringLiteral("x") }));
        model.setTexts({}, true);
        QCOMPARE(model.rowCount(), 0);
    }

    void editingAndRemovingKeepTheOtherRows()
    {
        for (const bool hidden : { true, false }) {
            ReportListModel model(columns(3));
            model.setTexts(hidden ? words("1 a x 2 b y 3 c z") : words("a x b y c z"), hidden);
            model.setRow(1, words("9 q w"));
            QCOMPARE(model.text(1, 1), QStringLiteral("q"));
            QCOMPARE(model.text(1, 2), QStringLiteral("w"));
            QCOMPARE(model.text(1, 0), hidden ? QStringLiteral("9") : QString());
            model.removeRowAt(0);
            QCOMPARE(model.rowCount(), 2);
            QCOMPARE(model.text(0, 1), QStringLiteral("q"));
            QCOMPARE(model.text(1, 2), QStringLiteral("z"));
            model.removeRowAt(1);
            QCOMPARE(model.rowCount(), 1);
            QCOMPARE(model.text(0, 2), QStringLiteral("w"));
        }
    }

    void resetAndRemovalAreAnnounced()
    {
        ReportListModel model(columns(2));
        int resets = 0;
        int removed = -1;
        connect(&model, &QAbstractItemModel::modelReset, this, [&] { ++resets; });
        connect(&model, &QAbstractItemModel::rowsRemoved, this,
            [&](const QModelIndex&, int first, int) { removed = first; });
        model.setTexts(words("a b c d"), true);
        QCOMPARE(resets, 1);
        model.removeRowAt(1);
        QCOMPARE(removed, 1);
    }
};

KIVARO_TEST_MAIN(TestReportListModel)
#include "tst_reportlistmodel.moc"
