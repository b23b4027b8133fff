// A program on the runtime for the terminal tests. It runs on a pty as its
// controlling terminal, reads keys through the runtime, acts on them and
// reports on descriptor 3.
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <unistd.h>

#include "rt/console.h"
#include "rt/rt.h"
#include "rt/term.h"

static void report(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    vdprintf(3, format, args);
    va_end(args);
}

static void report_state(const char *what)
{
    pthread_mutex_lock(&__rk_con.mutex);
    report("%s %d %d %d %d %d %d\n", what, __rk_con.console_kind, __rk_con.term_type, __rk_con.rows, __rk_con.cols,
           __rk_con.cur_y, __rk_con.cur_x);
    pthread_mutex_unlock(&__rk_con.mutex);
}

// Runs on the fatal-signal path.
static void signal_restored()
{
    static const char text[] = "restored\n";
    ssize_t n = write(3, text, sizeof text - 1);
    (void)n;
}

// A keyboard poll that keeps the console mutex for good.
static void hold_mutex()
{
    report("held\n");
    for (;;)
        pause();
}

int main(int argc, char **argv)
{
    rk_Init(argc, argv, 0);
    rk_hAddSignalRestore(signal_restored);
    report_state("ready");
    for (;;) {
        int c = rk_Getkey();
        switch (c) {
        case 0:
            return 1;  // the input ended
        case 'q':
            return 0;
        case 'e':
            rk_End(3);
        case 'i':
            raise(SIGINT);
            break;
        case 't':
            raise(SIGTERM);
            break;
        case 'h':
            raise(SIGHUP);
            break;
        case 's':
            raise(SIGSEGV);
            break;
        case 'b':
            pthread_mutex_lock(&__rk_con.mutex);
            __rk_con.kbd_poll = hold_mutex;
            pthread_mutex_unlock(&__rk_con.mutex);
            break;
        case 'z':
            report_state("size");
            break;
        default:
            report("key %d\n", c);
        }
    }
}
