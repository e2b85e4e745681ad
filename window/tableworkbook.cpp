#include "tableworkbook.h"

#include <QAbstractItemModel>

namespace {
constexpr double WIDE_COLUMN_WIDTH = 20.0;

bool isWideColumn(int modelColumn)
{
    return modelColumn == 1 || modelColumn == 4;
}
} // namespace

XlsxWorkbook workbookFromTable(const QAbstractItemModel &model)
{
    XlsxWorkbook workbook;
    XlsxFormat centred;
    centred.setHorizontalAlignment(XlsxFormat::AlignHCenter);
    centred.setVerticalAlignment(XlsxFormat::AlignVCenter);

    // Read once: the copy never returns to the event loop, so the table cannot
    // change under it.
    const int rows = model.rowCount();
    const int columns = model.columnCount();
    workbook.reserve((rows + 1) * columns);

    for (int c = 0; c < columns; ++c)
        workbook.write(1, c + 1, model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString(), centred);

    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            workbook.write(r + 2, c + 1, model.data(model.index(r, c), Qt::DisplayRole).toString(), centred);
            if (isWideColumn(c))
                workbook.setColumnWidth(c + 1, WIDE_COLUMN_WIDTH);
        }
    }
    return workbook;
}
