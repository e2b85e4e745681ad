// A log longer than a worksheet holds: the rows that do not fit continue on
// "Sheet2", which begins with the header row again, in the same format and
// widths. Here at the real limit of 1,048,576 rows a sheet.
#include <QAbstractTableModel>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include "tablesnapshot.h"
#include "tableworkbook.h"
#include "test_export_readback.h"

namespace {

// Rows made up when asked: a million QStandardItems would take longer to
// build than the save takes.
class CountingTable : public QAbstractTableModel
{
public:
    explicit CountingTable(int rows) : rows(rows) {}
    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : rows; }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        return index.column() == 0 ? QString::number(index.row() + 1) : QStringLiteral("1.000mΩ");
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? QString::fromUtf8("序号") : QString::fromUtf8("电阻值");
    }

private:
    int rows;
};

QJsonArray texts(const QStringList &list)
{
    return QJsonArray::fromStringList(list);
}

} // namespace

class ExportSheetLimitTest : public QObject
{
    Q_OBJECT

private slots:
    void rowsPastTheLastContinueOnTheNextSheet_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("sheets");
        QTest::addColumn<QList<int>>("rowCounts"); // header included
        QTest::newRow("1,048,575 rows fill Sheet1 and no more")
            << 1048575 << QStringList{"Sheet1"} << QList<int>{1048576};
        QTest::newRow("one more starts Sheet2") << 1048576 << QStringList{"Sheet1", "Sheet2"}
                                                << QList<int>{1048576, 2};
    }

    void rowsPastTheLastContinueOnTheNextSheet()
    {
        QFETCH(int, rows);
        QFETCH(QStringList, sheets);
        QFETCH(QList<int>, rowCounts);
        QTemporaryDir directory;
        const QString path = directory.filePath("long.xlsx");
        QCOMPARE(saveTableWorkbook(TableSnapshot::of(CountingTable(rows)), path), SaveOutcome::Saved);

        QString error;
        const QJsonObject book = readWorkbook(path, &error, {QStringLiteral("--summary")});
        QVERIFY2(!book.isEmpty(), qPrintable(error));
        const QJsonArray found = book.value("sheets").toArray();
        QCOMPARE(found.size(), sheets.size());
        const QJsonArray header = texts({QString::fromUtf8("序号"), QString::fromUtf8("电阻值")});
        const QString unit = QString::fromUtf8("1.000mΩ");
        int firstRow = 1;
        for (int i = 0; i < found.size(); ++i) {
            const QJsonObject sheet = found.at(i).toObject();
            QCOMPARE(sheet.value("name").toString(), sheets.at(i));
            QCOMPARE(sheet.value("rowCount").toInt(), rowCounts.at(i));
            QCOMPARE(sheet.value("first").toArray(), header);
            QCOMPARE(sheet.value("second").toArray(), texts({QString::number(firstRow), unit}));
            const int lastRow = firstRow + rowCounts.at(i) - 2;
            QCOMPARE(sheet.value("last").toArray(), texts({QString::number(lastRow), unit}));
            // One centred style on every cell, column B widened, on every sheet.
            QCOMPARE(sheet.value("styles").toArray().size(), 1);
            const QJsonArray columns = sheet.value("rawColumns").toArray();
            QCOMPARE(columns.size(), 1);
            QCOMPARE(columns.at(0).toObject().value("min").toString(), QStringLiteral("2"));
            QCOMPARE(columns.at(0).toObject().value("width").toString(), QStringLiteral("20"));
            firstRow = lastRow + 1;
        }
        QCOMPARE(firstRow, rows + 1);
    }
};

QTEST_GUILESS_MAIN(ExportSheetLimitTest)
#include "test_export_sheetlimit.moc"
