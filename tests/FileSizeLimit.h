#pragma once

// A full disk for as long as it lives: no file of the test process may grow past the
// limit, so a write beyond it fails as on a full disk (with EFBIG rather than ENOSPC).
// Works for root too, unlike read-only permissions.

#include <csignal>
#include <sys/resource.h>

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        // The write past the limit must fail, not end the process.
        fOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &fOld);
        rlimit limit = fOld;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &fOld);
        std::signal(SIGXFSZ, fOldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit fOld{};
    void (*fOldHandler)(int) = nullptr;
};
