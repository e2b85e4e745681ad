// The one place that talks to libxlsxwriter.
#include "xlsxworkbook.h"
#include "xlsxpackagecheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <xlsxwriter.h>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

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

// How long a target held by another program is waited for: a scanner or a
// sync client lets go within a second, a workbook open in Excel does not.
constexpr int IN_USE_RETRIES = 25;
constexpr int IN_USE_RETRY_MS = 100;

enum class Replaced { Yes, InUse, No };

#ifdef Q_OS_WIN
const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// Whether some other handle on the file forbids deleting it: Windows then
// refuses to replace it, with "access denied" or a sharing violation.
bool isHeldOpen(const QString &nativeName)
{
    HANDLE probe = CreateFileW(wide(nativeName), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
}
#endif

// Replaces `target` by `source` in one step: whoever looks at `target` sees
// either the old file or the complete new one.
Replaced replaceFile(const QString &source, const QString &target)
{
#ifdef Q_OS_WIN
    const QString from = QDir::toNativeSeparators(source);
    const QString to = QDir::toNativeSeparators(target);
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Replaced::Yes;
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
        || (error == ERROR_ACCESS_DENIED && isHeldOpen(to)))
        return Replaced::InUse;
    return Replaced::No;
#else
    // Nothing on Linux keeps a file from being replaced while it is open.
    return std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0
        ? Replaced::Yes
        : Replaced::No;
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

} // namespace

XlsxWorkbook::XlsxWorkbook(const QString &target)
{
    if (target.isEmpty())
        return;
    const QFileInfo chosen(target);
    targetName = chosen.isSymLink() ? chosen.symLinkTarget() : target;
    const QFileInfo info(targetName);
    // Renaming would replace even a read-only file; refuse as writing would.
    if (info.exists() && (info.isDir() || !info.isWritable()))
        return;

    temporaryName = createFileBeside(targetName);
    if (temporaryName.isEmpty())
        return;
    // Named here rather than left to the library, which on Windows would
    // read the folder's name through the ANSI code page and fall back on the
    // working folder when the user's name does not fit it.
    const QByteArray scratchFolder = libraryFileName(QDir::tempPath());
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = const_cast<char *>(scratchFolder.constData());
    workbook = workbook_new_opt(libraryFileName(temporaryName).constData(), &options);
    if (!workbook)
        QFile::remove(temporaryName);
}

XlsxWorkbook::~XlsxWorkbook()
{
    abandon();
}

void XlsxWorkbook::abandon()
{
    if (!workbook)
        return;
    // Freeing a workbook writes nothing, but leaves each worksheet's scratch
    // file of rows open: only packing closes it. Unclosed, it would hold its
    // disk space (and on Windows stay in the temporary folder) until the
    // program ends.
    for (lxw_worksheet *begun : sheets) {
        if (begun->optimize_tmpfile)
            std::fclose(begun->optimize_tmpfile);
        begun->optimize_tmpfile = nullptr;
        begun->file = nullptr;
    }
    lxw_workbook_free(workbook);
    workbook = nullptr;
    sheet = nullptr;
    sheets.clear();
    QFile::remove(temporaryName);
}

bool XlsxWorkbook::addSheet()
{
    if (!workbook || failed)
        return false;
    lxw_worksheet *added = workbook_add_worksheet(workbook, nullptr);
    if (!added) {
        failed = true;
        return false;
    }
    sheet = added;
    sheets.push_back(added);
    rows = 0;
    return true;
}

bool XlsxWorkbook::setColumnWidth(int column, double width)
{
    if (!sheet || failed || rows > 0 || column < 1 || column > MAX_COLUMNS || !(width >= 0.0))
        return false;
    if (worksheet_set_column(sheet, lxw_col_t(column - 1), lxw_col_t(column - 1), libxlsxwriterWidth(width),
                             nullptr) != LXW_NO_ERROR) {
        failed = true;
        return false;
    }
    return true;
}

bool XlsxWorkbook::appendRow(const char *const *texts, int count, const XlsxFormat &format)
{
    if (!sheet || failed || rows >= MAX_ROWS || count < 0 || count > MAX_COLUMNS)
        return false;
    lxw_format *cellFormat = libraryFormat(format);
    for (int c = 0; c < count; ++c) {
        if (worksheet_write_string(sheet, lxw_row_t(rows), lxw_col_t(c), texts[c], cellFormat) != LXW_NO_ERROR) {
            failed = true;
            return false;
        }
    }
    ++rows;
    return true;
}

lxw_format *XlsxWorkbook::libraryFormat(const XlsxFormat &format)
{
    if (format == XlsxFormat())
        return nullptr;
    for (const auto &[known, made] : formats) {
        if (known == format)
            return made;
    }
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
    formats.emplace_back(format, made);
    return made;
}

bool XlsxWorkbook::save(const std::atomic<bool> *cancelled)
{
    if (!workbook)
        return false;
    if (failed) {
        abandon();
        return false;
    }
    // Closing writes the file and frees the workbook, whatever its result.
    const lxw_error closed = workbook_close(workbook);
    workbook = nullptr;
    sheet = nullptr;
    sheets.clear();
    // libxlsxwriter may call a truncated file a success (see xlsxpackagecheck.h).
    bool saved = closed == LXW_NO_ERROR && !(cancelled && cancelled->load())
        && xlsxPackageFileIsComplete(temporaryName);
    if (saved && QFileInfo::exists(targetName))
        QFile::setPermissions(temporaryName, QFile::permissions(targetName));
    Replaced replaced = Replaced::No;
    for (int attempt = 0; saved && !(cancelled && cancelled->load()); ++attempt) {
        replaced = replaceFile(temporaryName, targetName);
        if (replaced != Replaced::InUse || attempt == IN_USE_RETRIES)
            break;
        if (const auto gate = targetInUseGate.load())
            gate();
        QThread::msleep(IN_USE_RETRY_MS);
    }
    saved = saved && replaced == Replaced::Yes;
    targetInUse = !saved && replaced == Replaced::InUse;
    if (!saved)
        QFile::remove(temporaryName);
    return saved;
}
