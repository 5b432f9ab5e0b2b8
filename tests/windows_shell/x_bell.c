/* x_bell SECONDS [ENOUGH]: counts the X keyboard bells rung on the display during SECONDS
   seconds (XkbBellNotify: what XBell and Wine's MessageBeep make) and prints the count; with
   ENOUGH, it ends as soon as that many have rung. */
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        fputs("usage: x_bell SECONDS [ENOUGH]\n", stderr);
        return 2;
    }
    int event_base = 0, error_base = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    int opcode = 0;
    Display* display = XkbOpenDisplay(NULL, &event_base, &error_base, &major, &minor, &opcode);
    if (display == NULL) {
        fputs("x_bell: no display with the keyboard extension\n", stderr);
        return 1;
    }
    XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    XSync(display, False);
    puts("ready");
    fflush(stdout);
    struct timespec now, end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    end.tv_sec += atoi(argv[1]);
    const int enough = argc == 3 ? atoi(argv[2]) : 0;
    int bells = 0;
    while (enough <= 0 || bells < enough) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == event_base &&
                ((XkbEvent*)&event)->any.xkb_type == XkbBellNotify) {
                ++bells;
            }
        }
        clock_gettime(CLOCK_MONOTONIC, &now);
        long left = (end.tv_sec - now.tv_sec) * 1000 + (end.tv_nsec - now.tv_nsec) / 1000000;
        if (left <= 0) {
            break;
        }
        struct pollfd fd = {ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, (int)(left < 100 ? left : 100));
    }
    printf("bells=%d\n", bells);
    XCloseDisplay(display);
    return 0;
}
