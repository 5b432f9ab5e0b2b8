/* Small X11 helper for the footprint script:
 *   xprobe wait-map NAME -- CMD [ARGS...]  start CMD, print "<ms> <pid>" once a window named
 *                                          NAME is mapped (ms since just before the exec)
 *   xprobe wait-map NAME                   print "<ms>" once a window named NAME is mapped
 *   xprobe close NAME                      ask the viewable window named NAME to close
 *                                          (WM_DELETE_WINDOW)
 *   xprobe viewable NAME                   exit 0 when a window named NAME is viewable
 * Without a window manager the program's windows are children of the root window, so their
 * MapNotify events arrive on the root with SubstructureNotifyMask. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

static double nowMs(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec * 1000.0 + (double)ts.tv_nsec / 1e6;
}

static int hasName(Display* d, Window w, const char* name) {
    char* got = NULL;
    int match = 0;
    if (XFetchName(d, w, &got) && got) {
        match = strcmp(got, name) == 0;
        XFree(got);
    }
    return match;
}

static Window findNamed(Display* d, const char* name, int viewableOnly) {
    Window root = DefaultRootWindow(d), parent, *kids = NULL;
    unsigned n = 0;
    Window found = 0;
    if (!XQueryTree(d, root, &root, &parent, &kids, &n)) return 0;
    for (unsigned i = 0; i < n && !found; ++i) {
        if (!hasName(d, kids[i], name)) continue;
        XWindowAttributes a;
        if (viewableOnly && (!XGetWindowAttributes(d, kids[i], &a) || a.map_state != IsViewable))
            continue;
        found = kids[i];
    }
    if (kids) XFree(kids);
    return found;
}

static int ignoreErrors(Display* d, XErrorEvent* e) {
    (void)d;
    (void)e;
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: xprobe wait-map|close|viewable NAME [-- CMD ...]\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "xprobe: cannot open display\n");
        return 1;
    }
    XSetErrorHandler(ignoreErrors);
    const char* name = argv[2];
    if (strcmp(argv[1], "viewable") == 0) return findNamed(d, name, 1) ? 0 : 1;
    if (strcmp(argv[1], "close") == 0) {
        Window w = findNamed(d, name, 1);
        if (!w) return 1;
        XEvent ev;
        memset(&ev, 0, sizeof ev);
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = (long)XInternAtom(d, "WM_DELETE_WINDOW", False);
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, w, False, NoEventMask, &ev);
        XSync(d, False);
        return 0;
    }
    if (strcmp(argv[1], "wait-map") != 0) return 2;

    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    double start = nowMs();
    pid_t pid = 0;
    if (argc > 4 && strcmp(argv[3], "--") == 0) {
        start = nowMs();
        pid = fork();
        if (pid == 0) {
            execvp(argv[4], argv + 4);
            _exit(127);
        }
    }
    const int fd = ConnectionNumber(d);
    for (;;) {
        while (XPending(d)) {
            XEvent ev;
            XNextEvent(d, &ev);
            if (ev.type == MapNotify && hasName(d, ev.xmap.window, name)) {
                if (pid) printf("%.1f %d\n", nowMs() - start, (int)pid);
                else printf("%.1f\n", nowMs() - start);
                return 0;
            }
        }
        if (nowMs() - start > 30000) {
            fprintf(stderr, "xprobe: no window named %s within 30 s\n", name);
            return 1;
        }
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        struct timeval tv = {0, 100000};
        select(fd + 1, &fds, NULL, NULL, &tv);
    }
}
