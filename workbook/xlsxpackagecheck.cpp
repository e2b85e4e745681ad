#include "xlsxpackagecheck.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <unzip.h>
#ifdef Q_OS_WIN
#include <iowin32.h>
#endif

#include <cstring>

namespace {

// Enough of the start to hold the XML declaration and the root's name, and of
// the end to hold the closing tag with trailing blanks.
constexpr int HEAD_BYTES = 512;
constexpr int TAIL_BYTES = 512;

unzFile openPackage(const QString &fileName)
{
#ifdef Q_OS_WIN
    // By its UTF-16 name, as the writer opened it: the folder may be named in any script.
    zlib_filefunc64_def functions;
    fill_win32_filefunc64W(&functions);
    const QString native = QDir::toNativeSeparators(fileName);
    return unzOpen2_64(native.utf16(), &functions);
#else
    return unzOpen64(QFile::encodeName(fileName).constData());
#endif
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

// Reads the member the package stands at to its end; `name` gets its name.
bool memberIsComplete(unzFile zip, QByteArray &name)
{
    // minizip terminates the name only when it fits the buffer, so the name is
    // read at the length the entry records (a zip name can take 65,535 bytes).
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    name = QByteArray(int(info.size_filename), '\0');
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0) != UNZ_OK)
        return false;
    if (unzOpenCurrentFile(zip) != UNZ_OK)
        return false;
    QByteArray head;
    QByteArray tail;
    ZPOS64_T total = 0;
    char piece[64 * 1024];
    int got;
    while ((got = unzReadCurrentFile(zip, piece, sizeof piece)) > 0) {
        total += ZPOS64_T(got);
        if (head.size() < HEAD_BYTES)
            head.append(piece, qMin(got, HEAD_BYTES - head.size()));
        const int last = qMin(got, TAIL_BYTES);
        tail.append(piece + got - last, last);
        if (tail.size() > TAIL_BYTES)
            tail.remove(0, tail.size() - TAIL_BYTES);
    }
    // minizip compares the CRC only when the member was read to its recorded
    // size, and a stream that ends early reads as a clean end: both are checked.
    const bool closed = unzCloseCurrentFile(zip) == UNZ_OK;
    if (got < 0 || !closed || total != info.uncompressed_size)
        return false;
    if (!isXmlPart(name))
        return true;
    const QByteArray root = rootName(head);
    return !root.isEmpty() && tail.trimmed().endsWith("</" + root + ">");
}

} // namespace

bool xlsxPackageFileIsComplete(const QString &fileName)
{
    unzFile zip = openPackage(fileName);
    if (!zip)
        return false;
    bool complete = true;
    bool hasContentTypes = false;
    int status = unzGoToFirstFile(zip);
    while (complete && status == UNZ_OK) {
        QByteArray name;
        complete = memberIsComplete(zip, name);
        hasContentTypes = hasContentTypes || name == "[Content_Types].xml";
        status = unzGoToNextFile(zip);
    }
    unzClose(zip);
    return complete && status == UNZ_END_OF_LIST_OF_FILE && hasContentTypes;
}
