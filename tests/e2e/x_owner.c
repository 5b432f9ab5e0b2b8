/* koravex-test-x-owner SELECTION: prints the window that owns an X selection (for example
   _NET_SYSTEM_TRAY_S0, the XEmbed tray of screen 0) and exits 0, or exits 1 when nobody owns
   it, so that a test can wait for a tray to be ready instead of for a time. */
#include <X11/Xlib.h>
#include <stdio.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s SELECTION\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "%s: cannot open the display\n", argv[0]);
        return 2;
    }
    const Window owner = XGetSelectionOwner(display, XInternAtom(display, argv[1], False));
    XCloseDisplay(display);
    if (owner == None) {
        return 1;
    }
    printf("0x%lx\n", (unsigned long)owner);
    return 0;
}
