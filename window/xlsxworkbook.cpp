// The one place that talks to libxlsxwriter.
#include "xlsxworkbook.h"
#include "xlsxpackagecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <xlsxwriter.h>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cstdio>
#endif

namespace {

// Excel's limits of one worksheet.
constexpr int MAX_ROWS = 1048576;
constexpr int MAX_COLUMNS = 16384;

// libxlsxwriter turns the width it is given into pixels of a 7-pixel digit,
// adds 5 pixels of cell padding and stores the result back in characters.
constexpr double DIGIT_PIXELS = 7.0;
constexpr double PADDING_PIXELS = 5.0;

// The argument worksheet_set_column needs so that the file stores `width`:
// the inverse of libxlsxwriter's two conversions (it switches at an argument of 1).
double libxlsxwriterWidth(double width)
{
    const double narrowLimit = (DIGIT_PIXELS + PADDING_PIXELS) / DIGIT_PIXELS;
    if (width >= narrowLimit)
        return width - PADDING_PIXELS / DIGIT_PIXELS;
    return width * DIGIT_PIXELS / (DIGIT_PIXELS + PADDING_PIXELS);
}

QByteArray libraryFileName(const QString &fileName)
{
#ifdef Q_OS_WIN
    // libxlsxwriter widens the name from UTF-8 before opening it.
    return QDir::toNativeSeparators(fileName).toUtf8();
#else
    return QFile::encodeName(fileName);
#endif
}

// Replaces `target` by `source` in one step: whoever looks at `target` sees
// either the old file or the complete new one.
bool replaceFile(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    const QString from = QDir::toNativeSeparators(source);
    const QString to = QDir::toNativeSeparators(target);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(from.utf16()),
                       reinterpret_cast<const wchar_t *>(to.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(QFile::encodeName(source).constData(),
                       QFile::encodeName(target).constData()) == 0;
#endif
}

// Creates an empty file in the target's directory, so that the final rename
// stays within one file system, and returns its name; empty if the directory
// takes no new file (then libxlsxwriter is not even asked). The name is kept
// short: the target's own name may already be as long as the file system allows.
QString createFileBeside(const QString &target)
{
    const QString directory = QFileInfo(target).absolutePath();
    for (int attempt = 0; attempt < 16; ++attempt) {
        QFile candidate(directory + QStringLiteral("/.zelmora-")
                        + QString::number(QRandomGenerator::global()->generate64(), 16)
                        + QStringLiteral(".tmp"));
        if (candidate.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return candidate.fileName();
        if (!candidate.exists())
            return QString();
    }
    return QString();
}

lxw_format *libraryFormat(lxw_workbook *workbook, const XlsxFormat &format)
{
    if (format == XlsxFormat())
        return nullptr;
    lxw_format *made = workbook_add_format(workbook);
    switch (format.horizontalAlignment()) {
    case XlsxFormat::AlignHGeneral: break;
    case XlsxFormat::AlignLeft: format_set_align(made, LXW_ALIGN_LEFT); break;
    case XlsxFormat::AlignHCenter: format_set_align(made, LXW_ALIGN_CENTER); break;
    case XlsxFormat::AlignRight: format_set_align(made, LXW_ALIGN_RIGHT); break;
    }
    switch (format.verticalAlignment()) {
    case XlsxFormat::AlignVGeneral: break;
    case XlsxFormat::AlignTop: format_set_align(made, LXW_ALIGN_VERTICAL_TOP); break;
    case XlsxFormat::AlignVCenter: format_set_align(made, LXW_ALIGN_VERTICAL_CENTER); break;
    case XlsxFormat::AlignBottom: format_set_align(made, LXW_ALIGN_VERTICAL_BOTTOM); break;
    }
    return made;
}

} // namespace

bool XlsxWorkbook::write(int row, int column, const QString &text, const XlsxFormat &format)
{
    if (row < 1 || row > MAX_ROWS || column < 1 || column > MAX_COLUMNS)
        return false;
    cells.push_back(Cell{row, column, formatIndex(format), text});
    return true;
}

bool XlsxWorkbook::setColumnWidth(int column, double width)
{
    if (column < 1 || column > MAX_COLUMNS || !(width >= 0.0))
        return false;
    columnWidths[column] = width;
    return true;
}

int XlsxWorkbook::formatIndex(const XlsxFormat &format)
{
    for (size_t i = 0; i < formats.size(); ++i) {
        if (formats[i] == format)
            return int(i);
    }
    formats.push_back(format);
    return int(formats.size() - 1);
}

bool XlsxWorkbook::saveAs(const QString &name) const
{
    if (name.isEmpty())
        return false;
    // Through a link, the file it points to is the one to replace, not the link.
    const QFileInfo chosen(name);
    const QString targetName = chosen.isSymLink() ? chosen.symLinkTarget() : name;
    const QFileInfo target(targetName);
    // Renaming would replace even a read-only file; refuse as writing would.
    if (target.exists() && (target.isDir() || !target.isWritable()))
        return false;

    const QString temporary = createFileBeside(targetName);
    if (temporary.isEmpty())
        return false;
    // libxlsxwriter may call a truncated file a success (see xlsxpackagecheck.h).
    bool saved = writeFile(temporary) && xlsxPackageFileIsComplete(temporary);
    if (saved && target.exists())
        QFile::setPermissions(temporary, QFile::permissions(targetName));
    saved = saved && replaceFile(temporary, targetName);
    if (!saved)
        QFile::remove(temporary);
    return saved;
}

bool XlsxWorkbook::writeFile(const QString &fileName) const
{
    // Not constant_memory: that mode writes inline strings, and every cell
    // here is meant to be a shared string.
    lxw_workbook_options options = {};
    lxw_workbook *workbook = workbook_new_opt(libraryFileName(fileName).constData(), &options);
    if (!workbook)
        return false;

    lxw_worksheet *sheet = workbook_add_worksheet(workbook, nullptr);
    bool complete = sheet != nullptr;

    std::vector<lxw_format *> libraryFormats;
    libraryFormats.reserve(formats.size());
    for (const XlsxFormat &format : formats)
        libraryFormats.push_back(libraryFormat(workbook, format));

    for (const auto &[column, width] : columnWidths) {
        if (!complete)
            break;
        complete = worksheet_set_column(sheet, lxw_col_t(column - 1), lxw_col_t(column - 1),
                                        libxlsxwriterWidth(width), nullptr) == LXW_NO_ERROR;
    }

    QByteArray utf8;
    for (const Cell &cell : cells) {
        if (!complete)
            break;
        utf8 = cell.text.toUtf8();
        complete = worksheet_write_string(sheet, lxw_row_t(cell.row - 1), lxw_col_t(cell.column - 1),
                                          utf8.constData(), libraryFormats[size_t(cell.format)])
            == LXW_NO_ERROR;
    }

    // Closing writes the file and frees the workbook, whatever happened above.
    const lxw_error closed = workbook_close(workbook);
    return complete && closed == LXW_NO_ERROR;
}
