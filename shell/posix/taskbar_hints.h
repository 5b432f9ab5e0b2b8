#pragma once
// What the window asks of an X11 window manager besides Qt's own hints.
class QWidget;

namespace koravex {

// Asks for no task-bar and no pager entry (_NET_WM_STATE_SKIP_TASKBAR and
// _NET_WM_STATE_SKIP_PAGER in the window's _NET_WM_STATE, other states kept). A window manager
// reads the property when it maps the window and removes it when the window is withdrawn, so
// this is called before every mapping. Creates the native window if needed; does nothing
// outside X11.
void askNoTaskbarEntry(QWidget* window);

}  // namespace koravex
