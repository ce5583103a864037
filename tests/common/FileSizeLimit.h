#pragma once

#include <csignal>
#include <sys/resource.h>

// Keeps every file this process writes below `bytes` while it lives, as a full disk would: a
// write past the limit fails with EFBIG.
struct FileSizeLimit
{
    rlimit old{};
    bool set = false;
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        if (getrlimit(RLIMIT_FSIZE, &old) == 0) {
            limit = old;
            limit.rlim_cur = bytes;
            set = setrlimit(RLIMIT_FSIZE, &limit) == 0;
        }
    }
    ~FileSizeLimit()
    {
        if (set)
            setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
};
