#ifndef ZELMORA_TABLEWORKBOOK_H
#define ZELMORA_TABLEWORKBOOK_H

#include "xlsxworkbook.h"

class QAbstractItemModel;

// The table as displayed, copied into a workbook: the horizontal header texts
// in row 1, the display text of every cell below, every cell a centred text,
// and the second and fifth columns (time and resistance of the live table)
// widened wherever the table has them. Reads the model and nothing else, so the
// window's export and the benchmark share it.
XlsxWorkbook workbookFromTable(const QAbstractItemModel &model);

#endif
