// Unix terminal layer: the runtime's start-up and shutdown, raw input on the
// controlling terminal, its restoration at exit and on fatal signals,
// terminal control output, and the console handler slots through which the
// console keyboard, the console mouse and a console graphics driver plug in
// from above. Below the console (rt/console.h), above the context record
// (rt/rt.h).
#pragma once
#include <cstdio>
#include <pthread.h>
#include <termios.h>

inline constexpr int RK_TERM_CAPS = 17;

// Codes of rk_hTermOut: 0..16 capabilities of the terminal database, 100..107
// fixed sequences.
enum RkTermCode : int {
    RK_TERM_CM = 0,   // cursor motion (column, row)
    RK_TERM_HO = 1,   // cursor home
    RK_TERM_CS = 2,   // scroll region (bottom, top)
    RK_TERM_CL = 3,   // clear screen
    RK_TERM_CE = 4,   // clear to end of line
    RK_TERM_WS = 5,   // set window size
    RK_TERM_BL = 6,   // bell
    RK_TERM_AF = 7,   // foreground colour
    RK_TERM_AB = 8,   // background colour
    RK_TERM_ME = 9,   // all attributes off
    RK_TERM_MD = 10,  // bold
    RK_TERM_SF = 11,  // scroll forward
    RK_TERM_VE = 12,  // normal cursor
    RK_TERM_VI = 13,  // invisible cursor
    RK_TERM_DC = 14,  // delete character
    RK_TERM_KS = 15,  // keypad transmit mode
    RK_TERM_KE = 16,  // keypad local mode
    RK_TERM_LINUX_DIRECT = 100,  // Linux console: direct character mapping
    RK_TERM_LINUX_DEFAULT = 101, // Linux console: default mapping
    RK_TERM_ASK_CURSOR = 102,    // ask for the cursor position
    RK_TERM_ASK_SIZE = 103,      // ask for the text area size
    RK_TERM_MOUSE_ON = 104,      // mouse reporting on (buttons, all motion)
    RK_TERM_MOUSE_OFF = 105,     // mouse reporting off
    RK_TERM_RESET_SCREEN = 106,  // home, clear, attributes off
    RK_TERM_ATTR = 107,          // set one attribute value (first argument)
};

// console_kind
inline constexpr int RK_CON_NONE = 0;
inline constexpr int RK_CON_LINUX = 1;
inline constexpr int RK_CON_OTHER = 2;

// The terminal record. Zeroed at start-up; console_kind 0 means no usable
// terminal, and then every terminal operation does nothing.
struct RkConsole {
    int console_kind;       // RK_CON_*
    int term_type;          // 2 TERM begins with "eterm" (any case), 1 "xterm", 0 other
    int out_fd;             // standard output
    int tty_fd;             // "/dev/tty"; -1 while not open
    FILE *out_file;         // standard output
    FILE *tty_file;         // "/dev/tty", opened "r+b"
    termios old_out_term;   // standard output's settings before start-up
    termios old_tty_term;   // the terminal's settings before start-up
    int new_fl;             // file status flags set on the terminal (old plus non-blocking)
    int old_fl;             // file status flags before start-up
    int text_fg;            // console foreground attribute, 7 at start
    int text_bg;            // console background attribute, 0 at start
    int cur_x;              // cursor column as reported (1-based)
    int cur_y;              // cursor row as reported (1-based)
    int rows;
    int cols;
    unsigned char *char_buf;  // rows x cols characters of the screen copy
    unsigned char *attr_buf;  // rows x cols attributes (second half of char_buf's block)
    pthread_t thread;         // the background thread, polling every 30 ms
    // Guards the handler slots and their state. Recursive: a handler called
    // under it may call back into the layer.
    pthread_mutex_t mutex;
    int has_port_access;      // 1 once access to I/O ports 0..0x3FF was granted
    const char *cap[RK_TERM_CAPS];  // capability strings by code (null: not available)

    // Handler slots (slot numbers are the record's field numbers).
    int (*getch)();           // 17: next input byte, -1 when there is none
    int (*kbd_init)();        // 18: start the console keyboard; 0 or -1
    void (*kbd_exit)();       // 19: stop it
    void (*kbd_poll)();       // 20: keyboard poll, background thread, mutex held
    int (*mouse_init)();      // 21: start the console mouse; 0 or -1
    void (*mouse_exit)();     // 22: stop it
    void (*mouse_poll)();     // 23: mouse poll, background thread, mutex held
    void (*mouse_feed)(const char *bytes, int len);  // 24: mouse report bytes from the input
    void (*gfx_exit)();       // 25: graphics-mode exit, called at normal exit
};
extern RkConsole __rk_con;

// Start-up nesting counter of rk_hRtInit / rk_hRtExit.
extern int __rk_is_inicnt;

// The runtime's start-up (counted) and shutdown, run by the static
// constructor and destructor of this layer; the outermost pair does the
// work: the context record is zeroed and the terminal set up, and at the end
// put back.
void rk_hRtInit();
void rk_hRtExit();

// Platform start-up and shutdown (called by rk_hRtInit / rk_hRtExit).
// rk_hEnd's flag is 1 when called from a fatal signal.
void rk_hInit();
void rk_hEnd(int from_signal);
void rk_unix_hInit();
void rk_unix_hEnd();

// Switch the terminal to raw input and back. 0 or -1.
int rk_hInitConsole();
void rk_hExitConsole();

// Terminal control output: 0 written, -1 not available.
int rk_hTermOut(int code, int a, int b);

// The console (rt/console.cpp) tells through `partial` whether its text view
// leaves rows of the terminal out; the terminal's scroll region is then
// reset at exit. Without it the view is the whole terminal.
void rk_hTermSetViewCheck(bool (*partial)());

// The console keyboard, registered by the module that provides it so this
// layer never calls up into the graphics drivers. start keeps save/restore
// for a console switch and reports every key to key_handler; 0 or -1.
struct RkConsoleKeyboardOps {
    int (*start)(void (*save)(), void (*restore)(), void (*key_handler)(int code));
    void (*stop)();
};
void rk_hConsoleSetKeyboard(const RkConsoleKeyboardOps *ops);

// Console graphics mode for a graphics driver on the Linux console. With an
// exit routine: the routine goes into slot 25, the console key and pause
// hooks are cleared, the console keyboard is started and the console is
// switched to KD_GRAPHICS. With a null routine: the console is switched back
// to KD_TEXT, the keyboard stopped and the screen cleared. 0 or -1.
int rk_hConsoleGfxMode(void (*exit_routine)(), void (*save)(), void (*restore)(),
                       void (*key_handler)(int code));

// Routines run by the fatal-signal path before the terminal is restored.
// They must only make async-signal-safe system calls (plain ioctl, write).
// Add returns 0, or -1 when the table is full; adding a routine twice keeps
// one entry.
int rk_hAddSignalRestore(void (*fn)());
void rk_hRemoveSignalRestore(void (*fn)());

// Device requests made beside the program's thread (a framebuffer driver's
// pass, a console switch) go between these, so that a fatal signal stops
// them before its routines restore the devices: Enter is false from the
// moment the fatal-signal path begins, which first waits for the requests
// already in progress. Leave only after an Enter that was true.
bool rk_hDeviceEnter();
void rk_hDeviceLeave();

// Asks for access to I/O ports 0..0x3FF (the 16-colour planar path of the
// framebuffer driver); sets has_port_access. 0 granted, -1 refused.
int rk_hRequestPortAccess();
