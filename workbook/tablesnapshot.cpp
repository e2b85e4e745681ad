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
            snapshot.append(model.data(model.index(r, c), Qt::DisplayRole).toString());
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

// Encoded straight into the block: a QByteArray per cell, made and freed
// again, would be a good part of the snapshot's time on a long log.
void TableSnapshot::append(const QString &text)
{
    const QChar *from = text.constData();
    const QChar *const end = from + text.size();
    char *to = room(std::size_t(text.size()) * 3 + 1);
    while (from < end) {
        char32_t code = from->unicode();
        ++from;
        if (QChar::isHighSurrogate(code) && from < end && from->isLowSurrogate()) {
            code = QChar::surrogateToUcs4(char16_t(code), from->unicode());
            ++from;
        } else if (QChar::isSurrogate(code)) {
            code = QChar::ReplacementCharacter; // half a pair is no character
        }
        if (code == 0)
            continue;
        if (code < 0x80) {
            *to++ = char(code);
        } else if (code < 0x800) {
            *to++ = char(0xC0 | code >> 6);
            *to++ = char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            *to++ = char(0xE0 | code >> 12);
            *to++ = char(0x80 | (code >> 6 & 0x3F));
            *to++ = char(0x80 | (code & 0x3F));
        } else {
            *to++ = char(0xF0 | code >> 18);
            *to++ = char(0x80 | (code >> 12 & 0x3F));
            *to++ = char(0x80 | (code >> 6 & 0x3F));
            *to++ = char(0x80 | (code & 0x3F));
        }
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
    if (!rowStarts.empty())
        rowStarts.back() = rowStart;
    cursor = block + rowSoFar;
    blockEnd = block + size;
    return cursor;
}
