// Asking an X server for an answer before Xlib opens it. XOpenDisplay waits
// without limit for the server's reply to the connection setup, so a server
// that accepts connections but never answers (stopped or hung) would hang
// the program at start. The probe connects to the local socket Xlib would
// use, sends a connection setup and waits a bounded time for the first bytes
// of any reply.
#pragma once

// How long a server has to answer before its display counts as not
// answering.
inline constexpr int RK_X11_ANSWER_WAIT_MS = 5000;

// Results of rk_hX11Probe.
inline constexpr int RK_X11_ANSWERS = 0;   // a reply (success, failure or authenticate) came
inline constexpr int RK_X11_SILENT = -1;   // connected (or still connecting), but no reply in time
inline constexpr int RK_X11_UNKNOWN = 1;   // name not understood, nothing reachable, or closed unanswered

// Probes the display `name` within `wait_ms` milliseconds. Only local
// displays (":N[.S]", "unix:N[.S]", "unix/:N[.S]") are probed, through the
// abstract socket and then the socket file as Xlib tries them; any other
// name, displays over TCP included, gives RK_X11_UNKNOWN. Leaves no
// descriptor open.
int rk_hX11Probe(const char *name, int wait_ms);

// Before XOpenDisplay(nullptr): 0 when the display named by DISPLAY answers
// or the probe cannot tell (Xlib then succeeds or fails quickly on its
// own); -1, with one line on standard error, when it does not answer within
// RK_X11_ANSWER_WAIT_MS.
int rk_hX11CheckDisplay();

// Driver selection opens the display several times over (each driver, with
// and without the refresh rate, windowed and full screen). Between begin and
// end a display found not answering is taken as not answering again at once
// instead of costing the wait each time. Per thread.
void rk_hX11CheckBegin();
void rk_hX11CheckEnd();
