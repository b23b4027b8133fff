// Asking an X server for an answer before Xlib opens it. XOpenDisplay waits
// without limit for the server's reply to the connection setup, so a server
// that accepts connections but never answers (stopped, hung, a stale
// forwarded display) would hang the program at start. The probe connects to
// the endpoint Xlib would use, sends a connection setup and waits a bounded
// time for the first bytes of any reply.
#pragma once

// How long a server has to answer before its display counts as not
// answering.
inline constexpr int RK_X11_ANSWER_WAIT_MS = 5000;

// Results of rk_hX11Probe.
inline constexpr int RK_X11_ANSWERS = 0;   // a reply (success, failure or authenticate) came
inline constexpr int RK_X11_SILENT = -1;   // connected (or still connecting), but no reply in time
inline constexpr int RK_X11_UNKNOWN = 1;   // name not understood, nothing reachable, or closed unanswered

// Probes the display `name` ("[proto/][host]:N[.S]"; null or empty gives
// RK_X11_UNKNOWN) within `wait_ms` milliseconds. Local displays are tried
// as Xlib tries them: the abstract socket, the socket file, then (for an
// empty host without "unix") TCP on the loopback. Only numeric hosts and
// "localhost" are probed over TCP: a name lookup could itself block.
// Leaves no descriptor open.
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
