#include "xlsxpackagecheck.h"

#include <QBuffer>
#include <QFile>

#include <zlib.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint32_t LOCAL_HEADER_SIGNATURE = 0x04034b50;
constexpr std::uint32_t CENTRAL_HEADER_SIGNATURE = 0x02014b50;
constexpr std::uint32_t END_OF_DIRECTORY_SIGNATURE = 0x06054b50;
constexpr int END_OF_DIRECTORY_SIZE = 22;
constexpr int CENTRAL_HEADER_SIZE = 46;
constexpr int LOCAL_HEADER_SIZE = 30;
constexpr int MAX_COMMENT_SIZE = 0xFFFF;
constexpr std::uint16_t STORED = 0;
constexpr std::uint16_t DEFLATED = 8;

// Enough of the start to hold the XML declaration and the root's name, and of
// the end to hold the closing tag with trailing blanks.
constexpr int HEAD_BYTES = 512;
constexpr int TAIL_BYTES = 512;

// Little-endian fields of a block of the package held in memory.
class Fields
{
public:
    explicit Fields(const QByteArray &bytes) : data(bytes) {}

    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset + length <= data.size();
    }
    std::uint16_t u16(qint64 offset) const
    {
        return std::uint16_t(byte(offset) | byte(offset + 1) << 8);
    }
    std::uint32_t u32(qint64 offset) const
    {
        return std::uint32_t(u16(offset)) | std::uint32_t(u16(offset + 2)) << 16;
    }
    QByteArray mid(qint64 offset, int length) const { return data.mid(int(offset), length); }

private:
    unsigned byte(qint64 offset) const { return static_cast<unsigned char>(data.at(int(offset))); }
    const QByteArray &data;
};

// The package is read a piece at a time: a long log's workbook is far larger
// than the memory the export may take.
class Package
{
public:
    explicit Package(QIODevice &device) : device(device), size(device.size()) {}

    qint64 length() const { return size; }
    QByteArray read(qint64 offset, qint64 length)
    {
        if (offset < 0 || length < 0 || offset + length > size || !device.seek(offset))
            return QByteArray();
        return device.read(length);
    }
    // Hands [offset, offset + length) to `take` in pieces; false if it cannot be read.
    template<typename Take>
    bool stream(qint64 offset, qint64 length, Take take)
    {
        if (offset < 0 || length < 0 || offset + length > size || !device.seek(offset))
            return false;
        char piece[64 * 1024];
        while (length > 0) {
            const qint64 got = device.read(piece, qMin<qint64>(length, sizeof piece));
            if (got <= 0 || !take(reinterpret_cast<const unsigned char *>(piece), std::size_t(got)))
                return false;
            length -= got;
        }
        return true;
    }

private:
    QIODevice &device;
    const qint64 size;
};

struct Member
{
    QByteArray name;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t size = 0;
    std::uint32_t localHeader = 0;
};

// Collects the first and last bytes of a member's content and its CRC while
// it streams past.
class ContentProbe
{
public:
    void take(const unsigned char *bytes, std::size_t length)
    {
        crc = crc32(crc, bytes, uInt(length));
        total += length;
        if (head.size() < HEAD_BYTES)
            head.append(reinterpret_cast<const char *>(bytes), int(qMin<std::size_t>(length, HEAD_BYTES - head.size())));
        const std::size_t last = qMin<std::size_t>(length, TAIL_BYTES);
        tail.append(reinterpret_cast<const char *>(bytes + length - last), int(last));
        if (tail.size() > TAIL_BYTES)
            tail.remove(0, tail.size() - TAIL_BYTES);
    }

    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t total = 0;
    QByteArray head;
    QByteArray tail;
};

bool inflateInto(Package &zip, qint64 offset, std::uint32_t length, ContentProbe &probe)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    unsigned char chunk[64 * 1024];
    int status = Z_OK;
    const bool read = zip.stream(offset, length, [&](const unsigned char *piece, std::size_t pieceLength) {
        stream.next_in = const_cast<unsigned char *>(piece);
        stream.avail_in = uInt(pieceLength);
        while (status == Z_OK && stream.avail_in > 0) {
            stream.next_out = chunk;
            stream.avail_out = sizeof chunk;
            status = inflate(&stream, Z_NO_FLUSH);
            if (status != Z_OK && status != Z_STREAM_END)
                return false;
            probe.take(chunk, sizeof chunk - stream.avail_out);
        }
        // Past the stream's end, whatever follows is not read.
        return true;
    });
    // Output still held back once all input is in: drain it.
    while (read && status == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        probe.take(chunk, sizeof chunk - stream.avail_out);
        if (status == Z_OK && stream.avail_out != 0)
            status = Z_DATA_ERROR; // the stream ends before its last block
    }
    inflateEnd(&stream);
    return read && status == Z_STREAM_END;
}

bool isXmlPart(const QByteArray &name)
{
    return name.endsWith(".xml") || name.endsWith(".rels");
}

// The root element's name: the first tag that is not a declaration or comment.
QByteArray rootName(const QByteArray &head)
{
    int from = 0;
    while ((from = head.indexOf('<', from)) >= 0) {
        const char next = from + 1 < head.size() ? head.at(from + 1) : '\0';
        if (next != '?' && next != '!') {
            int end = from + 1;
            while (end < head.size() && !std::strchr(" \t\r\n/>", head.at(end)))
                ++end;
            return end < head.size() ? head.mid(from + 1, end - from - 1) : QByteArray();
        }
        ++from;
    }
    return QByteArray();
}

bool xmlEndsWithItsRoot(const ContentProbe &probe)
{
    const QByteArray root = rootName(probe.head);
    return !root.isEmpty() && probe.tail.trimmed().endsWith("</" + root + ">");
}

bool memberIsComplete(Package &zip, const Member &member)
{
    const qint64 local = member.localHeader;
    const QByteArray header = zip.read(local, LOCAL_HEADER_SIZE);
    const Fields fields(header);
    if (!fields.has(0, LOCAL_HEADER_SIZE) || fields.u32(0) != LOCAL_HEADER_SIGNATURE)
        return false;
    const qint64 content = local + LOCAL_HEADER_SIZE + fields.u16(26) + fields.u16(28);
    if (content + member.compressedSize > zip.length())
        return false;

    ContentProbe probe;
    if (member.method == STORED) {
        if (member.compressedSize != member.size
            || !zip.stream(content, member.size, [&](const unsigned char *piece, std::size_t length) {
                   probe.take(piece, length);
                   return true;
               }))
            return false;
    } else if (member.method == DEFLATED) {
        if (!inflateInto(zip, content, member.compressedSize, probe))
            return false;
    } else {
        return false;
    }
    if (probe.total != member.size || probe.crc != member.crc)
        return false;
    return !isXmlPart(member.name) || xmlEndsWithItsRoot(probe);
}

bool packageIsComplete(QIODevice &device)
{
    Package zip(device);
    // The end-of-directory record sits in the last 22 bytes, or before a comment.
    const qint64 tailStart = qMax<qint64>(0, zip.length() - END_OF_DIRECTORY_SIZE - MAX_COMMENT_SIZE);
    const QByteArray tail = zip.read(tailStart, zip.length() - tailStart);
    const Fields end(tail);
    qint64 record = tail.size() - END_OF_DIRECTORY_SIZE;
    while (record >= 0 && end.u32(record) != END_OF_DIRECTORY_SIGNATURE)
        --record;
    if (record < 0)
        return false;

    const int count = end.u16(record + 10);
    const qint64 directoryStart = end.u32(record + 16);
    const qint64 directoryEnd = tailStart + record;
    const QByteArray directory = zip.read(directoryStart, directoryEnd - directoryStart);
    if (directory.size() != directoryEnd - directoryStart)
        return false;
    const Fields entries(directory);
    qint64 entry = 0;
    bool hasContentTypes = false;
    for (int i = 0; i < count; ++i) {
        if (!entries.has(entry, CENTRAL_HEADER_SIZE) || entries.u32(entry) != CENTRAL_HEADER_SIGNATURE)
            return false;
        Member member;
        member.method = entries.u16(entry + 10);
        member.crc = entries.u32(entry + 16);
        member.compressedSize = entries.u32(entry + 20);
        member.size = entries.u32(entry + 24);
        member.localHeader = entries.u32(entry + 42);
        const int nameLength = entries.u16(entry + 28);
        if (!entries.has(entry + CENTRAL_HEADER_SIZE, nameLength))
            return false;
        member.name = entries.mid(entry + CENTRAL_HEADER_SIZE, nameLength);
        if (!memberIsComplete(zip, member))
            return false;
        hasContentTypes = hasContentTypes || member.name == "[Content_Types].xml";
        entry += CENTRAL_HEADER_SIZE + nameLength + entries.u16(entry + 30) + entries.u16(entry + 32);
    }
    return hasContentTypes;
}

} // namespace

bool xlsxPackageIsComplete(const QByteArray &package)
{
    QBuffer buffer;
    buffer.setData(package);
    return buffer.open(QIODevice::ReadOnly) && packageIsComplete(buffer);
}

bool xlsxPackageFileIsComplete(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) && packageIsComplete(file);
}
