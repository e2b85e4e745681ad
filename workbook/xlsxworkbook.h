#ifndef ZELMORA_XLSXWORKBOOK_H
#define ZELMORA_XLSXWORKBOOK_H

#include <QString>

#include <atomic>
#include <vector>

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

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

// A workbook of text cells streamed to a file row by row, so that memory
// holds one row, not the sheet (libxlsxwriter's constant-memory mode; its
// cells are inline strings).
//
// Nothing touches the target until save(): the workbook is written to a
// temporary file beside it, checked whole, and only then renamed over it. A
// workbook destroyed unsaved leaves the target as it was and nothing behind.
//
// Rows and columns are 1-based (row 1, column 1 is A1). Widths are in the
// usual unit of characters of the default font, stored in the file exactly
// as given for whole widths.
class XlsxWorkbook
{
public:
    static constexpr int MAX_ROWS = 1048576;
    static constexpr int MAX_COLUMNS = 16384;

    // Through a link, the file it points to is the one to be replaced.
    explicit XlsxWorkbook(const QString &target);
    ~XlsxWorkbook();
    XlsxWorkbook(const XlsxWorkbook &) = delete;
    XlsxWorkbook &operator=(const XlsxWorkbook &) = delete;

    // False when the target cannot be replaced (a directory, a read-only
    // file, a folder that takes no new file); then nothing else succeeds.
    bool isOpen() const { return workbook != nullptr; }

    // Begins the next worksheet, named as Excel names them: "Sheet1", "Sheet2", …
    bool addSheet();
    // On the current sheet, before its first row: written rows are gone from memory.
    bool setColumnWidth(int column, double width);
    // The next row of the current sheet: `count` UTF-8 texts from column 1 on,
    // every one a text cell (an empty text leaves a blank cell with the format).
    // False, and nothing written, when the sheet is full or the row too wide.
    bool appendRow(const char *const *texts, int count, const XlsxFormat &format);
    int rowsOnSheet() const { return rows; }

    // Completes the file and puts it in the target's place. False if anything
    // failed on the way, or if `cancelled` was set by the time the file was
    // packed (that takes a while and cannot be stopped); the target is then as
    // it was.
    // A target that another program holds open (Excel, a virus scanner, a
    // sync client) is tried again for a moment before the save gives up.
    bool save(const std::atomic<bool> *cancelled = nullptr);
    // After a failed save: whether it failed because another program held
    // the target, so that the user can be told to close it.
    bool targetWasInUse() const { return targetInUse; }

    // Run on the saving thread each time the target was found in use, before
    // the replace is tried again: where a test can let the target go. Unset
    // in the program.
    static inline std::atomic<void (*)()> targetInUseGate{nullptr};

private:
    lxw_format *libraryFormat(const XlsxFormat &format);
    void abandon();

    QString targetName;
    QString temporaryName;
    lxw_workbook *workbook = nullptr;
    lxw_worksheet *sheet = nullptr;
    std::vector<lxw_worksheet *> sheets;
    int rows = 0;
    bool failed = false;
    bool targetInUse = false;
    std::vector<std::pair<XlsxFormat, lxw_format *>> formats;
};

#endif
