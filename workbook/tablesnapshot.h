#ifndef ZELMORA_TABLESNAPSHOT_H
#define ZELMORA_TABLESNAPSHOT_H

#include <QString>

#include <cstddef>
#include <memory>
#include <vector>

class QAbstractItemModel;

// The texts of a table as displayed at one moment: the horizontal header and
// the display text of every cell, in UTF-8, ready for the workbook writer.
//
// A weekend's log has millions of cells, so the texts are packed one after
// another into a few large blocks, each ending in a NUL byte, rather than kept
// as one object per cell: a row of the live table takes about 50 bytes here.
// A NUL inside a text would end it early, so NULs are left out.
class TableSnapshot
{
public:
    // Reads the model once, without returning to the event loop.
    static TableSnapshot of(const QAbstractItemModel &model);

    int rowCount() const { return int(rowStarts.size()) - 1; }
    int columnCount() const { return columns; }

    // The header's texts (row -1) or a row's, one per column, each NUL-terminated.
    // The pointers stay valid as long as the snapshot.
    void texts(int row, std::vector<const char *> &out) const;

private:
    TableSnapshot() = default;
    void beginRow();
    void append(const QString &text);
    char *room(std::size_t bytes);

    int columns = 0;
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<const char *> rowStarts;
    char *cursor = nullptr;
    char *blockEnd = nullptr;
    char *rowStart = nullptr;
};

#endif
