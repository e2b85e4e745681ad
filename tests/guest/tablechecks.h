#ifndef ZELMORA_GUEST_TABLECHECKS_H
#define ZELMORA_GUEST_TABLECHECKS_H

// What the window's two tables must hold when the UHID meter is behind them,
// for the Linux and the Windows window tests alike.

#include <QModelIndex>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QString>
#include <QStringList>

namespace TableChecks {

// The meter's stored record r, as the UHID meter builds it: 10.000 mΩ plus
// r µΩ, and an overload wherever r % 50 == 7.
inline QString expectedRecordText(int r)
{
    if (r % 50 == 7)
        return QStringLiteral("OL");
    const int raw = 10000 + r;
    return QStringLiteral("%1.%2mΩ").arg(raw / 1000).arg(raw % 1000, 3, 10, QLatin1Char('0'));
}

// Live rows from `from` on: numbered from 1, a time stamp, and the meter's
// one reading (automatic range, 10 mΩ, 12.345 mΩ).
inline bool liveRowsAreTheMeters(const QStandardItemModel *model, int from, QString *problem)
{
    static const QRegularExpression timePattern(QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"));
    for (int row = from; row < model->rowCount(); ++row) {
        const auto cell = [&](int column) { return model->index(row, column).data().toString(); };
        const QStringList expected{QString::number(row + 1), cell(1), QStringLiteral("自动"),
                                   QStringLiteral("10mΩ"), QStringLiteral("12.345mΩ")};
        const QStringList actual{cell(0), cell(1), cell(2), cell(3), cell(4)};
        if (actual != expected || !timePattern.match(cell(1)).hasMatch()) {
            *problem = QStringLiteral("live row %1 is [%2]").arg(row).arg(actual.join(QStringLiteral(" | ")));
            return false;
        }
    }
    return true;
}

// Exactly `count` stored rows, in the meter's order.
inline bool storedRowsAreTheMeters(const QStandardItemModel *model, int count, QString *problem)
{
    if (model->rowCount() != count) {
        *problem = QStringLiteral("%1 stored rows, expected %2").arg(model->rowCount()).arg(count);
        return false;
    }
    for (int row = 0; row < count; ++row) {
        const QString number = model->index(row, 0).data().toString();
        const QString value = model->index(row, 1).data().toString();
        if (number != QString::number(row + 1) || value != expectedRecordText(row)) {
            *problem = QStringLiteral("stored row %1 is [%2 | %3], expected [%4 | %5]")
                           .arg(row)
                           .arg(number, value, QString::number(row + 1), expectedRecordText(row));
            return false;
        }
    }
    return true;
}

// A row's texts, to tell later that the same row is still there.
inline QStringList rowTexts(const QStandardItemModel *model, int row)
{
    QStringList texts;
    for (int column = 0; column < model->columnCount(); ++column)
        texts << model->index(row, column).data().toString();
    return texts;
}

// Whether a replug kept the live log: no row held before it was removed
// (`removals` spies on rowsRemoved since then), the first is the same row,
// and readings were added after them (liveRowsAreTheMeters checks numbers).
inline bool logWasKept(const QStandardItemModel *model, const QSignalSpy &removals, int heldBefore,
                       const QStringList &firstRowBefore, QString *problem)
{
    *problem = QStringLiteral("%1 rows after %2 held, %3 removals, first row [%4] after [%5]")
                   .arg(model->rowCount())
                   .arg(heldBefore)
                   .arg(removals.size())
                   .arg(rowTexts(model, 0).join(QLatin1Char('|')), firstRowBefore.join(QLatin1Char('|')));
    return heldBefore > 0 && removals.isEmpty() && model->rowCount() > heldBefore
           && rowTexts(model, 0) == firstRowBefore;
}

} // namespace TableChecks

#endif
