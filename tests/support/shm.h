// Test support: System V shared-memory segments as the kernel lists them.
#pragma once
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>

// The id of a segment created by process `pid`, or -1.
inline int shm_segment_of(pid_t pid)
{
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::istringstream f(line);
        long key, id, perms, size, cpid;
        if (f >> key >> id >> perms >> size >> cpid && cpid == pid)
            return static_cast<int>(id);
    }
    return -1;
}

inline bool shm_segment_exists(int id)
{
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::istringstream f(line);
        long key, sid;
        if (f >> key >> sid && sid == id)
            return true;
    }
    return false;
}
