#include "shell/posix/taskbar_hints.h"

#include <QGuiApplication>
#include <QWidget>

#ifdef KORAVEX_HAVE_XCB
#include <xcb/xcb.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#endif

namespace koravex {

#ifdef KORAVEX_HAVE_XCB
namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

xcb_connection_t* x11Connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

struct StateAtoms {
    xcb_atom_t state, skipTaskbar, skipPager;
};

// Interned once per run: the names never change their numbers on one display.
const StateAtoms& stateAtoms(xcb_connection_t* c) {
    static const StateAtoms atoms{atom(c, "_NET_WM_STATE"), atom(c, "_NET_WM_STATE_SKIP_TASKBAR"),
                                  atom(c, "_NET_WM_STATE_SKIP_PAGER")};
    return atoms;
}

std::vector<xcb_atom_t> readStates(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property) {
    const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, property, XCB_ATOM_ATOM, 0, 1024), nullptr));
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_ATOM)
        return {};
    const auto* data = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    return std::vector<xcb_atom_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

bool contains(const std::vector<xcb_atom_t>& atoms, xcb_atom_t a) {
    return std::find(atoms.begin(), atoms.end(), a) != atoms.end();
}

}  // namespace

void askNoTaskbarEntry(QWidget* window) {
    xcb_connection_t* c = x11Connection();
    if (!c || !window)
        return;
    const auto w = static_cast<xcb_window_t>(window->winId());
    const StateAtoms& a = stateAtoms(c);
    if (a.state == XCB_ATOM_NONE)
        return;
    std::vector<xcb_atom_t> states = readStates(c, w, a.state);
    bool changed = false;
    for (const xcb_atom_t wanted : {a.skipTaskbar, a.skipPager}) {
        if (wanted != XCB_ATOM_NONE && !contains(states, wanted)) {
            states.push_back(wanted);
            changed = true;
        }
    }
    if (!changed)
        return;
    // Qt's own states (above, hidden) are written by Qt when it maps the window; it keeps
    // the ones it does not know.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, a.state, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(states.size()), states.data());
    xcb_flush(c);
}

#else

void askNoTaskbarEntry(QWidget*) {}

#endif

}  // namespace koravex
