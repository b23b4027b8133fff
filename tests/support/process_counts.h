// Test support: what the process holds, for tests that check that a failed
// open leaves nothing behind.
#pragma once
#include <dirent.h>
#include <thread>

// The entries of a /proc directory such as "/proc/self/fd".
inline int count_entries(const char *dir)
{
    int n = 0;
    if (DIR *d = opendir(dir)) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

// The threads of the process. A thread started and joined first makes the
// sanitizers start their own helper threads, which would otherwise appear
// with the first thread the code under test starts.
inline int running_threads()
{
    std::thread([] {}).join();
    return count_entries("/proc/self/task");
}
