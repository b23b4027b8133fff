// Test support: a program run on a pseudo-terminal the test opens, as the
// leader of its own session with the pty as its controlling terminal and
// standard input, output and error on the slave. Descriptor 3 of the program
// is a pipe the test reads its reports from.
#pragma once
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termcap.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

// The expansion of capability `name` (termcap name) of terminal type `term`
// from the system's terminal database; empty when it has none. Looked up in
// a child process: each entry the library loads stays allocated.
inline std::string terminal_capability(const char *term, const char *name)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        static int out;
        out = fds[1];
        const char *cap = tgetent(nullptr, term) == 1 ? tgetstr(name, nullptr) : nullptr;
        if (cap && cap != reinterpret_cast<char *>(-1))
            tputs(cap, 1, [](int c) {
                char b = static_cast<char>(c);
                return write(out, &b, 1) == 1 ? c : -1;
            });
        _exit(0);
    }
    close(fds[1]);
    std::string s;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        s.append(buf, static_cast<std::size_t>(n));
    close(fds[0]);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    return s;
}

// Whether the terminal database has an entry for `term` (asked in a child
// process, like terminal_capability).
inline bool terminal_known(const char *term)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(tgetent(nullptr, term) == 1 ? 0 : 1);
    int status = -1;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class PtyProgram {
public:
    int master = -1;
    int slave = -1;       // kept open, so the terminal outlives the program
    pid_t pid = -1;
    std::string output;   // everything the program wrote to the terminal
    std::string reports;  // everything it wrote to descriptor 3

    PtyProgram() = default;
    PtyProgram(const PtyProgram &) = delete;
    PtyProgram &operator=(const PtyProgram &) = delete;
    ~PtyProgram()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        for (int fd : {master, slave, report_fd})
            if (fd >= 0)
                close(fd);
    }

    // Opens the pty with a size (0 x 0: never sized) and, when given, the
    // slave's settings.
    bool open(unsigned short rows, unsigned short cols, const termios *settings = nullptr)
    {
        winsize ws{rows, cols, 0, 0};
        return openpty(&master, &slave, nullptr, settings, &ws) == 0;
    }

    // Starts argv[0] with the environment changed by `env` (a null value
    // unsets); with `stdout_path` standard output goes to that file; with
    // `dir` the program runs there.
    bool start(const std::vector<const char *> &argv, const std::vector<std::pair<const char *, const char *>> &env,
               const char *stdout_path = nullptr, const char *dir = nullptr)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return false;
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            // The program must not hold the master: closing it is a hang-up.
            // It goes first, as its number may be the one the report pipe
            // takes below.
            close(master);
            setsid();
            if ((dir && chdir(dir) != 0) || ioctl(slave, TIOCSCTTY, 0) != 0)
                _exit(125);
            int out = stdout_path ? ::open(stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0600) : slave;
            dup2(slave, 0);
            dup2(out, 1);
            dup2(slave, 2);
            dup2(fds[1], 3);
            if (out != slave && out > 3)
                close(out);
            if (slave > 3)
                close(slave);
            for (auto [name, value] : env)
                value ? setenv(name, value, 1) : unsetenv(name);
            // A clean start, whatever the test runner ignores or blocks.
            for (int sig = 1; sig < NSIG; ++sig)
                signal(sig, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            rlimit no_core{0, 0};
            setrlimit(RLIMIT_CORE, &no_core);
            std::vector<char *> args;
            for (const char *a : argv)
                args.push_back(const_cast<char *>(a));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        report_fd = fds[0];
        return true;
    }

    void type(const std::string &bytes)
    {
        ssize_t n = write(master, bytes.data(), bytes.size());
        (void)n;
    }

    // Collects terminal output and reports until `done` holds; false when
    // the time runs out first.
    template <class Done>
    bool wait_for(Done done, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pump(static_cast<int>(left.count() < 50 ? left.count() : 50));
        }
        return true;
    }

    // Waits for a report line beginning with `prefix` and returns it whole.
    std::string report_line(const std::string &prefix, std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        std::string line;
        wait_for(
            [&] {
                for (std::size_t at = 0; (at = reports.find(prefix, at)) != std::string::npos; ++at) {
                    if (at != 0 && reports[at - 1] != '\n')
                        continue;
                    std::size_t end = reports.find('\n', at);
                    if (end == std::string::npos)
                        return false;
                    line = reports.substr(at, end - at);
                    reports.erase(0, end + 1);
                    return true;
                }
                return false;
            },
            limit);
        return line;
    }

    // Waits for the program to end, collecting what it still writes; the
    // wait status, or -1 when it did not end in time.
    int finish(std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        int status = -1;
        bool ended = wait_for([&] { return waitpid(pid, &status, WNOHANG) == pid; }, limit);
        if (!ended)
            return -1;
        pid = -1;
        pump(0);
        return status;
    }

    // Closes the master: the terminal hangs up.
    void hang_up()
    {
        close(master);
        master = -1;
    }

private:
    int report_fd = -1;

    void pump(int timeout_ms)
    {
        pollfd p[2] = {{master, POLLIN, 0}, {report_fd, POLLIN, 0}};
        if (poll(p, 2, timeout_ms) <= 0)
            return;
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & POLLIN))
                continue;
            ssize_t n = read(p[i].fd, buf, sizeof buf);
            if (n > 0)
                (i == 0 ? output : reports).append(buf, static_cast<std::size_t>(n));
        }
    }
};
