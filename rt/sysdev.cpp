#include "rt/sysdev.h"

#include <fcntl.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>

static int k_open(const char *path, int flags)
{
    return ::open(path, flags | O_CLOEXEC);
}

static int k_ioctl(int fd, unsigned long request, void *arg)
{
    return ::ioctl(fd, request, arg);
}

static void *k_mmap(std::size_t len, int prot, int flags, int fd, off_t offset)
{
    return ::mmap(nullptr, len, prot, flags, fd, offset);
}

static int k_poll(pollfd *fds, nfds_t count, int timeout_ms)
{
    return ::poll(fds, count, timeout_ms);
}

static uint8_t k_inb(uint16_t port)
{
    return ::inb(port);
}

static void k_outb(uint8_t value, uint16_t port)
{
    ::outb(value, port);
}

const SysDev rk_sys_kernel = {
    k_open, ::close, ::dup, k_ioctl, k_mmap, ::munmap, ::read, ::write, k_poll, ::tcgetattr, ::tcsetattr,
    ::ioperm, k_inb, k_outb,
};
const SysDev *rk_sys = &rk_sys_kernel;
