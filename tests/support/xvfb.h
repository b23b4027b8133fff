// Test support: a private Xvfb server. Xvfb picks a free display number
// itself (-displayfd), so tests running in parallel never share a server.
#pragma once
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <X11/Xlib.h>

class Xvfb {
public:
    Xvfb() = default;
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;
    ~Xvfb() { stop(); }

    // Starts a server with one screen of `geometry` ("WxHxD"); with `tcp`
    // it also listens on TCP port 6000 + N; `without` names an extension the
    // server leaves out. Sets DISPLAY to ":N".
    bool start(const char *geometry, bool tcp = false, const char *without = nullptr)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid_ = fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);  // no server outlives a crashed test
            close(fds[0]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            std::string fd = std::to_string(fds[1]);
            const char *argv[] = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0", geometry,
                                  tcp ? "-listen" : "-nolisten", "tcp", "-ac", "-noreset",
                                  without ? "-extension" : nullptr, without, nullptr};
            execvp("Xvfb", const_cast<char **>(argv));
            _exit(127);
        }
        close(fds[1]);
        std::string digits;
        pollfd p{fds[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0) {
            char c;
            if (read(fds[0], &c, 1) != 1 || c == '\n')
                break;
            digits += c;
        }
        close(fds[0]);
        if (digits.empty()) {
            stop();
            return false;
        }
        number_ = std::atoi(digits.c_str());
        setenv("DISPLAY", name().c_str(), 1);
        return true;
    }

    // Stops the server with `sig` (SIGKILL: as if it crashed) and waits for it.
    void stop(int sig = SIGTERM)
    {
        if (pid_ > 0) {
            kill(pid_, sig);
            waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    std::string name() const
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, ":%d", number_);
        return buf;
    }
    int number() const { return number_; }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int number_ = -1;
};

// The viewable top-level window of w x h pixels on `dpy` (0 when none).
inline Window find_toplevel(Display *dpy, int w, int h)
{
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &count);
    for (unsigned k = 0; k < count; ++k) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy, children[k], &a) && a.map_state == IsViewable && a.width == w && a.height == h)
            found = children[k];
    }
    if (children)
        XFree(children);
    return found;
}

// The number of windows directly under the root of `dpy`.
inline int root_child_count(Display *dpy)
{
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n);
    if (children)
        XFree(children);
    return static_cast<int>(n);
}
