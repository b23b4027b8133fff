// The system calls of the console and framebuffer-device code, behind one
// table. `rk_sys` points at the kernel's calls; a test installs a device of
// its own in memory that answers the same requests, because no framebuffer,
// Linux console or mouse device exists where the tests run.
#pragma once
#include <cstddef>
#include <cstdint>
#include <poll.h>
#include <sys/types.h>

struct SysDev {
    int (*open)(const char *path, int flags);
    int (*close)(int fd);
    int (*dup)(int fd);
    // arg is a pointer to the request's record, or an integer value cast to
    // a pointer for the requests that take a value (KDSKBMODE, KDSETMODE,
    // VT_ACTIVATE, VT_WAITACTIVE).
    int (*ioctl)(int fd, unsigned long request, void *arg);
    void *(*mmap)(std::size_t len, int prot, int flags, int fd, off_t offset);
    int (*munmap)(void *addr, std::size_t len);
    ssize_t (*read)(int fd, void *buf, std::size_t len);
    ssize_t (*write)(int fd, const void *buf, std::size_t len);
    int (*poll)(pollfd *fds, nfds_t count, int timeout_ms);
    int (*tcgetattr)(int fd, struct termios *t);
    int (*tcsetattr)(int fd, int when, const struct termios *t);
    // I/O ports of the VGA adapter.
    int (*ioperm)(unsigned long from, unsigned long count, int on);
    uint8_t (*inb)(uint16_t port);
    void (*outb)(uint8_t value, uint16_t port);
};

extern const SysDev rk_sys_kernel;
extern const SysDev *rk_sys;
