/* traywatch: start-up timing against an XEmbed system tray.
 *
 *   traywatch --wait-tray TIMEOUT_MS
 *       exits 0 as soon as a system tray owns the _NET_SYSTEM_TRAY_S<screen> selection
 *       (what Qt's QSystemTrayIcon::isSystemTrayAvailable() asks on X11), 1 on timeout.
 *
 *   traywatch TIMEOUT_MS PROGRAM [ARGS...]
 *       starts PROGRAM and prints "PID MS" where MS is the time from just before the fork
 *       to the moment the tray embedded a window of PROGRAM: the ReparentNotify, seen on
 *       the root window, of a top-level window whose _NET_WM_PID is the child's pid into a
 *       window other than the root (XEmbed trays reparent the icon window into themselves).
 *       The program is left running; on timeout "PID -1" is printed and the exit code is 1.
 *
 * The watch is event driven (no polling of the window tree), so it adds no load while the
 * program starts, and the clock is read in the same process that forks the program.
 */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static Atom tray_atom(Display* d) {
    char name[64];
    snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", DefaultScreen(d));
    return XInternAtom(d, name, False);
}

static long window_pid(Display* d, Window w) {
    static Atom pidAtom = None;
    if (pidAtom == None)
        pidAtom = XInternAtom(d, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = NULL;
    long pid = -1;
    if (XGetWindowProperty(d, w, pidAtom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data != NULL && n == 1 && format == 32)
        pid = (long)*(unsigned long*)data;
    if (data != NULL)
        XFree(data);
    return pid;
}

static int ignore_errors(Display* d, XErrorEvent* e) {
    (void)d;
    (void)e; /* a window may vanish between the event and the property read */
    return 0;
}

/* Waits up to ms for an event; returns 1 when one is queued. */
static int wait_event(Display* d, double deadline) {
    while (XPending(d) == 0) {
        const double left = deadline - now_ms();
        if (left <= 0)
            return 0;
        struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, left > 50 ? 50 : (int)left + 1);
    }
    return 1;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: traywatch --wait-tray MS | traywatch MS PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (d == NULL) {
        fprintf(stderr, "traywatch: cannot open display\n");
        return 2;
    }
    XSetErrorHandler(ignore_errors);
    const Window root = DefaultRootWindow(d);

    if (strcmp(argv[1], "--wait-tray") == 0) {
        const double deadline = now_ms() + atof(argv[2]);
        const Atom sel = tray_atom(d);
        while (now_ms() < deadline) {
            if (XGetSelectionOwner(d, sel) != None)
                return 0;
            usleep(20000);
        }
        return 1;
    }

    const double timeout = atof(argv[1]);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);
    const double t0 = now_ms();
    const pid_t child = fork();
    if (child < 0)
        return 2;
    if (child == 0) {
        close(ConnectionNumber(d));
        dup2(2, 1); /* the report on stdout is this program's alone */
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    const double deadline = t0 + timeout;
    while (wait_event(d, deadline)) {
        XEvent ev;
        XNextEvent(d, &ev);
        if (ev.type != ReparentNotify || ev.xreparent.parent == root)
            continue;
        if (window_pid(d, ev.xreparent.window) == (long)child) {
            printf("%d %.1f\n", (int)child, now_ms() - t0);
            fflush(stdout);
            return 0;
        }
    }
    printf("%d -1\n", (int)child);
    return 1;
}
