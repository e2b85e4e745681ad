#include "tablesnapshot.h"

#include <QAbstractItemModel>

#include <algorithm>
#include <cstring>

namespace {
// Large enough that the blocks are few, small enough that the last one's
// unused tail does not matter.
constexpr std::size_t BLOCK_BYTES = 1 << 20;
} // namespace

TableSnapshot TableSnapshot::of(const QAbstractItemModel &model)
{
    TableSnapshot snapshot;
    const int rows = model.rowCount();
    snapshot.columns = model.columnCount();

    for (int c = 0; c < snapshot.columns; ++c) {
        QByteArray text = model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString().toUtf8();
        text.replace('\0', QByteArray());
        snapshot.header += text;
        snapshot.header += '\0';
    }

    snapshot.rowStarts.reserve(std::size_t(std::max(rows, 0)));
    for (int r = 0; r < rows; ++r) {
        snapshot.beginRow();
        for (int c = 0; c < snapshot.columns; ++c)
            snapshot.append(model.data(model.index(r, c), Qt::DisplayRole).toString().toUtf8());
    }
    return snapshot;
}

void TableSnapshot::texts(int row, std::vector<const char *> &out) const
{
    out.clear();
    const char *text = row < 0 ? header.constData() : rowStarts[std::size_t(row)];
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

void TableSnapshot::append(const QByteArray &utf8)
{
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
    blocks.push_back(std::make_unique<char[]>(size));
    held += size;
    char *block = blocks.back().get();
    if (rowSoFar > 0)
        std::memcpy(block, rowStart, rowSoFar);
    rowStart = block;
    if (!rowStarts.empty())
        rowStarts.back() = rowStart;
    cursor = block + rowSoFar;
    blockEnd = block + size;
    return cursor;
}
