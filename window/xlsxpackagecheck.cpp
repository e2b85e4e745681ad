#include "xlsxpackagecheck.h"

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

class Reader
{
public:
    explicit Reader(const QByteArray &bytes) : data(bytes) {}

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
    const unsigned char *at(qint64 offset) const
    {
        return reinterpret_cast<const unsigned char *>(data.constData()) + offset;
    }

private:
    unsigned byte(qint64 offset) const { return static_cast<unsigned char>(data.at(int(offset))); }
    const QByteArray &data;
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

bool inflateInto(const unsigned char *compressed, std::uint32_t length, ContentProbe &probe)
{
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = const_cast<unsigned char *>(compressed);
    stream.avail_in = length;
    unsigned char chunk[64 * 1024];
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = chunk;
        stream.avail_out = sizeof chunk;
        status = inflate(&stream, Z_NO_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END)
            break;
        probe.take(chunk, sizeof chunk - stream.avail_out);
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)
            status = Z_DATA_ERROR; // the stream ends before its last block
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
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

bool memberIsComplete(const Reader &zip, const Member &member)
{
    const qint64 local = member.localHeader;
    if (!zip.has(local, LOCAL_HEADER_SIZE) || zip.u32(local) != LOCAL_HEADER_SIGNATURE)
        return false;
    const qint64 content = local + LOCAL_HEADER_SIZE + zip.u16(local + 26) + zip.u16(local + 28);
    if (!zip.has(content, member.compressedSize))
        return false;

    ContentProbe probe;
    if (member.method == STORED) {
        if (member.compressedSize != member.size)
            return false;
        probe.take(zip.at(content), member.size);
    } else if (member.method == DEFLATED) {
        if (!inflateInto(zip.at(content), member.compressedSize, probe))
            return false;
    } else {
        return false;
    }
    if (probe.total != member.size || probe.crc != member.crc)
        return false;
    return !isXmlPart(member.name) || xmlEndsWithItsRoot(probe);
}

} // namespace

bool xlsxPackageIsComplete(const QByteArray &package)
{
    const Reader zip(package);
    qint64 end = package.size() - END_OF_DIRECTORY_SIZE;
    const qint64 lowest = qMax<qint64>(0, end - MAX_COMMENT_SIZE);
    while (end >= lowest && !(zip.has(end, 4) && zip.u32(end) == END_OF_DIRECTORY_SIGNATURE))
        --end;
    if (end < lowest)
        return false;

    const int count = zip.u16(end + 10);
    qint64 entry = zip.u32(end + 16);
    bool hasContentTypes = false;
    for (int i = 0; i < count; ++i) {
        if (!zip.has(entry, CENTRAL_HEADER_SIZE) || zip.u32(entry) != CENTRAL_HEADER_SIGNATURE)
            return false;
        Member member;
        member.method = zip.u16(entry + 10);
        member.crc = zip.u32(entry + 16);
        member.compressedSize = zip.u32(entry + 20);
        member.size = zip.u32(entry + 24);
        member.localHeader = zip.u32(entry + 42);
        const int nameLength = zip.u16(entry + 28);
        if (!zip.has(entry + CENTRAL_HEADER_SIZE, nameLength))
            return false;
        member.name = QByteArray(reinterpret_cast<const char *>(zip.at(entry + CENTRAL_HEADER_SIZE)), nameLength);
        if (!memberIsComplete(zip, member))
            return false;
        hasContentTypes = hasContentTypes || member.name == "[Content_Types].xml";
        entry += CENTRAL_HEADER_SIZE + nameLength + zip.u16(entry + 30) + zip.u16(entry + 32);
    }
    return hasContentTypes;
}

bool xlsxPackageFileIsComplete(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return xlsxPackageIsComplete(file.readAll());
}
