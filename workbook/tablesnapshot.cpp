#include "tablesnapshot.h"

#include <QAbstractItemModel>

#include <algorithm>
#include <cstring>

namespace {
// A day's log at 100 ms fits in a handful of blocks. Left uninitialised, the
// unused tail of the last block takes address space but no memory.
constexpr std::size_t BLOCK_BYTES = 8 << 20;
} // namespace

TableSnapshot TableSnapshot::of(const QAbstractItemModel &model)
{
    TableSnapshot snapshot;
    const int rows = model.rowCount();
    snapshot.columns = model.columnCount();
    snapshot.rowStarts.reserve(std::size_t(std::max(rows, 0)) + 1);

    // The header is packed as the first row.
    snapshot.beginRow();
    for (int c = 0; c < snapshot.columns; ++c)
        snapshot.append(model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString());

    for (int r = 0; r < rows; ++r) {
        snapshot.beginRow();
        for (int c = 0; c < snapshot.columns; ++c)
            snapshot.append(model.data(model.index(r, c), Qt::DisplayRole).toString());
    }
    return snapshot;
}

void TableSnapshot::texts(int row, std::vector<const char *> &out) const
{
    out.clear();
    const char *text = rowStarts[std::size_t(row + 1)];
    for (int c = 0; c < columns; ++c) {
        out.push_back(text);
        text += std::strlen(text) + 1;
    }
}

void TableSnapshot::beginRow()
{
    rowStart = cursor;
    rowStarts.push_back(rowStart);
}

void TableSnapshot::append(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    char *to = room(std::size_t(utf8.size()) + 1);
    for (const char byte : utf8) {
        if (byte != '\0')
            *to++ = byte;
    }
    *to++ = '\0';
    cursor = to;
}

// Room for `bytes` more after the current row's texts so far. A row never
// spans two blocks, so when the block is full the row so far moves to a new one.
char *TableSnapshot::room(std::size_t bytes)
{
    if (cursor && std::size_t(blockEnd - cursor) >= bytes)
        return cursor;
    const std::size_t rowSoFar = cursor ? std::size_t(cursor - rowStart) : 0;
    const std::size_t size = std::max(BLOCK_BYTES, rowSoFar + bytes);
    blocks.emplace_back(new char[size]);
    char *block = blocks.back().get();
    if (rowSoFar > 0)
        std::memcpy(block, rowStart, rowSoFar);
    rowStart = block;
    rowStarts.back() = rowStart;
    cursor = block + rowSoFar;
    blockEnd = block + size;
    return cursor;
}
