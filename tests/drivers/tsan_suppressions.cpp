// Under ThreadSanitizer only: once the connection to the server has broken,
// Xlib's XPending, XSync and XkbGetUpdatedMap (under XkbGetMap, the driver's
// keyboard fetch) release its internal display mutex on an error path that
// never took it in that thread. The report comes from inside Xlib,
// only in the tests whose connection breaks, and is no fault of the driver.
#if defined(__SANITIZE_THREAD__)
extern "C" const char *__tsan_default_suppressions();
extern "C" const char *__tsan_default_suppressions()
{
    return "mutex:XPending\nmutex:XSync\nmutex:XkbGetUpdatedMap\n";
}
#endif
