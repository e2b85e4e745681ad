#ifndef ZELMORA_TEST_EXPORT_FILESIZELIMIT_H
#define ZELMORA_TEST_EXPORT_FILESIZELIMIT_H

// A full disk, as far as this process can tell: while a FileSizeLimit lives,
// every write beyond `bytes` into any file fails (with EFBIG), even for root.

#include <csignal>
#include <sys/resource.h>

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
