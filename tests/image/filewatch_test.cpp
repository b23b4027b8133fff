// The watched status of a small file is what stat() says after every kind
// of change to the file or to the path that leads to it, in this process,
// in a child and across a mount.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/magic.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "gfx/image/filewatch.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path &p, const std::string &bytes)
{
    const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << p;
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

void overwrite(const fs::path &p, const std::string &bytes)
{
    const int fd = open(p.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0) << p;
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// The watched answer against stat() at this moment: both fail, or both
// name the same file in the same state.
::testing::AssertionResult as_stat_says(const fs::path &p)
{
    struct stat watched = {}, now = {};
    const bool got = rk_hFileWatchStat(p.c_str(), &watched), found = stat(p.c_str(), &now) == 0;
    if (got != found)
        return ::testing::AssertionFailure() << p << (got ? " still answered, but is gone" : " not answered");
    if (got && (watched.st_dev != now.st_dev || watched.st_ino != now.st_ino || watched.st_size != now.st_size ||
                watched.st_mode != now.st_mode || watched.st_mtim.tv_nsec != now.st_mtim.tv_nsec ||
                watched.st_mtim.tv_sec != now.st_mtim.tv_sec || watched.st_ctim.tv_nsec != now.st_ctim.tv_nsec ||
                watched.st_ctim.tv_sec != now.st_ctim.tv_sec))
        return ::testing::AssertionFailure() << p << " answered with an old status";
    return ::testing::AssertionSuccess();
}

// A user and mount namespace of its own, this process's user and group
// mapped to themselves in it.
bool own_user_namespace()
{
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
        return false;
    auto say = [](const char *file, const std::string &text) {
        const int fd = open(file, O_WRONLY);
        const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0)
            close(fd);
        return ok;
    };
    return say("/proc/self/setgroups", "deny") && say("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") &&
           say("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
}

class FileWatch : public ::testing::Test {
protected:
    fs::path dir;
    bool watchable = false;  // the temporary directory's file system raises events for every change

    void SetUp() override
    {
        char tmpl[] = "/tmp/malwerk-watch-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        struct statfs f;
        ASSERT_EQ(statfs(tmpl, &f), 0);
        for (unsigned long t : std::initializer_list<unsigned long>{EXT4_SUPER_MAGIC, XFS_SUPER_MAGIC, BTRFS_SUPER_MAGIC, TMPFS_MAGIC, OVERLAYFS_SUPER_MAGIC})
            watchable |= static_cast<unsigned long>(f.f_type) == t;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    // A settled file: its times must lie two seconds back before it is watched.
    fs::path icon(const std::string &name, char fill = 'a')
    {
        fs::create_directories((dir / name).parent_path());
        put(dir / name, std::string(300, fill));
        return dir / name;
    }
    static void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

    // The first look starts the watch, the second is answered by it.
    void watch(const fs::path &p)
    {
        const int before = rk_hFileWatchCount();
        ASSERT_TRUE(as_stat_says(p));
        if (watchable) {
            ASSERT_EQ(rk_hFileWatchCount(), std::min(before + 1, 32)) << p;  // 32 at most
        }
        ASSERT_TRUE(as_stat_says(p));
    }
};

TEST_F(FileWatch, EveryChangeAlongThePathIsSeen)
{
    struct Case {
        const char *what;
        std::function<void(const fs::path &case_dir, const fs::path &file)> change;
    };
    const std::vector<Case> cases = {
        {"rewritten in place, same size", [](auto &, auto &f) { overwrite(f, std::string(300, 'b')); }},
        {"rewritten, times set back",
         [](auto &, auto &f) {
             struct stat st;
             ASSERT_EQ(stat(f.c_str(), &st), 0);
             overwrite(f, "z");
             const timespec times[2] = {st.st_atim, st.st_mtim};
             ASSERT_EQ(utimensat(AT_FDCWD, f.c_str(), times, 0), 0);
         }},
        {"truncated", [](auto &, auto &f) { ASSERT_EQ(truncate(f.c_str(), 10), 0); }},
        {"permissions changed", [](auto &, auto &f) { ASSERT_EQ(chmod(f.c_str(), 0600), 0); }},
        {"replaced by a rename", [](auto &d, auto &f) { put(d / "sub/new", std::string(300, 'c')), fs::rename(d / "sub/new", f); }},
        {"removed", [](auto &, auto &f) { fs::remove(f); }},
        {"written through another link", [](auto &d, auto &) { overwrite(d / "other/link.bmp", "y"); }},
        {"directory above renamed and made anew",
         [](auto &d, auto &f) {
             fs::rename(d / "sub", d / "old");
             fs::create_directory(d / "sub");
             put(f, std::string(300, 'd'));
         }},
        {"directory above exchanged with another",
         [](auto &d, auto &) {
             ASSERT_EQ(renameat2(AT_FDCWD, (d / "sub").c_str(), AT_FDCWD, (d / "alt").c_str(), RENAME_EXCHANGE), 0);
         }},
        {"directory above replaced by a symbolic link",
         [](auto &d, auto &) {
             fs::rename(d / "sub", d / "old");
             fs::create_directory_symlink("alt", d / "sub");
         }},
    };
    std::vector<fs::path> files;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const fs::path d = dir / ("case" + std::to_string(i));
        files.push_back(icon("case" + std::to_string(i) + "/sub/f.bmp"));
        icon("case" + std::to_string(i) + "/alt/f.bmp", 'e');
        fs::create_directories(d / "other");
        fs::create_hard_link(files.back(), d / "other/link.bmp");
    }
    settle();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        watch(files[i]);
        cases[i].change(files[i].parent_path().parent_path(), files[i]);
        EXPECT_TRUE(as_stat_says(files[i]));
        EXPECT_TRUE(as_stat_says(files[i]));
    }

    // A path that does not lead straight to a settled small file is
    // answered by stat() alone.
    const int watched = rk_hFileWatchCount();
    fs::create_directory_symlink("case0/sub", dir / "link");
    put(dir / "big.bmp", std::string(70000, 'f'));
    settle();
    put(dir / "fresh.bmp", "g");
    for (const fs::path &p : {dir / "link/f.bmp", dir / "case1/sub/../sub/f.bmp", dir / "big.bmp",
                              dir / "fresh.bmp", dir / "missing.bmp", fs::path("relative.bmp")})
        EXPECT_TRUE(as_stat_says(p)) << p;
    EXPECT_EQ(rk_hFileWatchCount(), watched);
}

TEST_F(FileWatch, BoundedAndRightWhenFilesTakeTurns)
{
    std::vector<fs::path> files;
    for (int i = 0; i < 40; ++i)
        files.push_back(icon("many/" + std::to_string(i) + ".bmp"));
    settle();
    for (int round = 0; round < 3; ++round)
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (round == 2 && i % 3 == 0)
                overwrite(files[i], "h");
            ASSERT_TRUE(as_stat_says(files[i])) << "round " << round;
            ASSERT_LE(rk_hFileWatchCount(), 32);
        }
    if (watchable) {
        EXPECT_GT(rk_hFileWatchCount(), 0);
    }
    // The kernel's watches of the files no longer watched were given back:
    // at most the 32 files and the directories above them ("/", "/tmp", the
    // test's directory and "many").
    int kernel_watches = 0;
    for (const auto &fd : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(fd.path(), ec).string() != "anon_inode:inotify")
            continue;
        std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
        for (std::string line; std::getline(info, line);)
            kernel_watches += line.rfind("inotify wd:", 0) == 0;
    }
    EXPECT_LE(kernel_watches, 32 + 4);
}

// A child shares the parent's inotify descriptor: had it kept the parent's
// watches, the event of its own change would be read by it and lost to the
// parent.
TEST_F(FileWatch, ChildOfForkLeavesTheParentsEvents)
{
    const fs::path f = icon("f.bmp");
    settle();
    watch(f);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        overwrite(f, "i");
        _exit(as_stat_says(f) && rk_hFileWatchCount() == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(as_stat_says(f));
}

// A file system mounted over a directory on the path raises no inotify
// event; the mount table tells of it. Needs a mount namespace of its own,
// which a user namespace gives without privileges where the system allows.
TEST_F(FileWatch, MountOverTheDirectoryIsSeen)
{
    const fs::path f = icon("sub/f.bmp");
    settle();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 && !own_user_namespace())
            _exit(77);
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            _exit(77);
        struct stat st;
        if (!rk_hFileWatchStat(f.c_str(), &st) || rk_hFileWatchCount() != (watchable ? 1 : 0))
            _exit(2);
        if (mount("none", (dir / "sub").c_str(), "tmpfs", 0, nullptr) != 0)
            _exit(77);
        const int fd = open(f.c_str(), O_WRONLY | O_CREAT, 0644);
        if (fd < 0 || write(fd, "j", 1) != 1)
            _exit(3);
        close(fd);
        _exit(as_stat_says(f) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "no mount namespace can be made here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
