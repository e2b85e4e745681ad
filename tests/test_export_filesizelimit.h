#ifndef ZELMORA_TEST_EXPORT_FILESIZELIMIT_H
#define ZELMORA_TEST_EXPORT_FILESIZELIMIT_H

// Ways to make a save fail: a full disk, as far as this process can tell
// (while a FileSizeLimit lives, every write beyond `bytes` into any file fails
// with EFBIG, even for root), and a read-only file.

#include <QFile>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
// Windows has no per-process file-size limit.
inline bool fileSizeCanBeLimited() { return false; }
class FileSizeLimit
{
public:
    explicit FileSizeLimit(long long) {}
};
#else
#include <csignal>
#include <sys/resource.h>

inline bool fileSizeCanBeLimited() { return true; }
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit saved {};
    void (*previousHandler)(int) = nullptr;
};
#endif

// Root ignores a file's read-only mode, and so does Wine run by root (its
// read-only attribute is the Unix mode): ask the file system itself.
inline bool readOnlyFilesAreWritableHere()
{
    QTemporaryDir directory;
    const QString path = directory.filePath("probe");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner);
    QFile file(path);
    const bool writable = file.open(QIODevice::WriteOnly | QIODevice::Append);
    file.close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    return writable;
}

#endif
