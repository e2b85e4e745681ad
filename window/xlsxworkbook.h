#ifndef ZELMORA_XLSXWORKBOOK_H
#define ZELMORA_XLSXWORKBOOK_H

#include <QString>

#include <map>
#include <vector>

// The look of a cell. Only alignment is offered: the export needs nothing else.
class XlsxFormat
{
public:
    enum HorizontalAlignment { AlignHGeneral, AlignLeft, AlignHCenter, AlignRight };
    enum VerticalAlignment { AlignVGeneral, AlignTop, AlignVCenter, AlignBottom };

    void setHorizontalAlignment(HorizontalAlignment alignment) { horizontal = alignment; }
    void setVerticalAlignment(VerticalAlignment alignment) { vertical = alignment; }
    HorizontalAlignment horizontalAlignment() const { return horizontal; }
    VerticalAlignment verticalAlignment() const { return vertical; }

    bool operator==(const XlsxFormat &other) const
    {
        return horizontal == other.horizontal && vertical == other.vertical;
    }

private:
    HorizontalAlignment horizontal = AlignHGeneral;
    VerticalAlignment vertical = AlignVGeneral;
};

// A one-sheet workbook ("Sheet1") of text cells, kept in memory until saveAs.
//
// libxlsxwriter needs the file name before the first cell, but the name is
// only known after the table has been copied; so the cells wait here and the
// file is written in one go by saveAs. The texts are copies: changing the table
// afterwards does not change what is saved.
//
// Rows and columns are 1-based (row 1, column 1 is A1). Widths are in the
// usual unit of characters of the default font, stored in the file exactly
// as given for whole widths.
class XlsxWorkbook
{
public:
    // Every value becomes a shared-string cell, never a number or a formula
    // (an empty text leaves a blank cell with the format). False, and nothing
    // stored, when the cell lies outside a worksheet.
    bool write(int row, int column, const QString &text, const XlsxFormat &format);
    bool setColumnWidth(int column, double width);

    // Writes the workbook to a temporary file beside `name` and renames it over
    // `name` only once complete, so a failed save leaves an existing file as it
    // was. False if the file could not be written.
    bool saveAs(const QString &name) const;

    // Room for this many cells, for a caller that knows the table's size.
    void reserve(int cellCount) { cells.reserve(size_t(qMax(0, cellCount))); }
    int cellCount() const { return int(cells.size()); }

private:
    struct Cell
    {
        int row;
        int column;
        int format;
        QString text;
    };

    int formatIndex(const XlsxFormat &format);
    bool writeFile(const QString &fileName) const;

    std::vector<Cell> cells;
    std::vector<XlsxFormat> formats;
    std::map<int, double> columnWidths;
};

#endif
