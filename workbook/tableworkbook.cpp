#include "tableworkbook.h"
#include "tablesnapshot.h"
#include "xlsxworkbook.h"

#include <vector>

namespace {
constexpr double WIDE_COLUMN_WIDTH = 20.0;
constexpr int WIDE_COLUMNS[] = {2, 5};

XlsxFormat centred()
{
    XlsxFormat format;
    format.setHorizontalAlignment(XlsxFormat::AlignHCenter);
    format.setVerticalAlignment(XlsxFormat::AlignVCenter);
    return format;
}

bool beginSheet(XlsxWorkbook &workbook, const TableSnapshot &table, const XlsxFormat &format,
                std::vector<const char *> &texts)
{
    if (!workbook.addSheet())
        return false;
    for (const int column : WIDE_COLUMNS) {
        if (column <= table.columnCount() && !workbook.setColumnWidth(column, WIDE_COLUMN_WIDTH))
            return false;
    }
    table.texts(-1, texts);
    return workbook.appendRow(texts.data(), int(texts.size()), format);
}
} // namespace

SaveOutcome saveTableWorkbook(const TableSnapshot &table, const QString &target, SaveProgress *progress)
{
    XlsxWorkbook workbook(target);
    const XlsxFormat format = centred();
    std::vector<const char *> texts;
    if (!beginSheet(workbook, table, format, texts))
        return SaveOutcome::Failed;

    for (int r = 0; r < table.rowCount(); ++r) {
        if (progress && progress->cancelRequested.load(std::memory_order_relaxed))
            return SaveOutcome::Cancelled;
        if (workbook.rowsOnSheet() == XlsxWorkbook::MAX_ROWS && !beginSheet(workbook, table, format, texts))
            return SaveOutcome::Failed;
        table.texts(r, texts);
        if (!workbook.appendRow(texts.data(), int(texts.size()), format))
            return SaveOutcome::Failed;
        if (progress)
            progress->rowsWritten.store(r + 1, std::memory_order_relaxed);
    }

    if (const auto gate = SaveProgress::packingGate.load())
        gate();
    if (workbook.save(progress ? &progress->cancelRequested : nullptr))
        return SaveOutcome::Saved;
    if (progress && progress->cancelRequested.load())
        return SaveOutcome::Cancelled;
    return workbook.targetWasInUse() ? SaveOutcome::TargetInUse : SaveOutcome::Failed;
}
