#include "shell/posix/x11_window_platform.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <cmath>

#include "core/corner_placement.h"
#include "shell/posix/taskbar_hints.h"

#ifdef KORAVEX_HAVE_XCB
#include <xcb/xcb.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>
#endif

namespace koravex {

#ifdef KORAVEX_HAVE_XCB

namespace {

struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

constexpr std::uint32_t kNorthWestGravity = 1;
constexpr std::uint32_t kStaticGravity = 10;
constexpr std::uint32_t kSizeHintsWinGravity = 1u << 9;  // PWinGravity in WM_NORMAL_HINTS
constexpr std::uint32_t kWmStateNormal = 1;
constexpr std::uint32_t kWmStateIconic = 3;

}  // namespace

struct X11WindowPlatform::X11 {
    explicit X11(xcb_connection_t* connection) : c(connection) {
        const char* const names[] = {
            "_NET_SUPPORTED", "_NET_FRAME_EXTENTS",   "_NET_REQUEST_FRAME_EXTENTS",
            "_NET_WORKAREA",  "_NET_CURRENT_DESKTOP", "_NET_MOVERESIZE_WINDOW",
            "WM_STATE"};
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (std::size_t i = 0; i < std::size(names); ++i)
            cookies[i] =
                xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(names[i])), names[i]);
        xcb_atom_t* const atoms[] = {&supported, &frameExtents,   &requestFrameExtents,
                                     &workArea,  &currentDesktop, &moveResize,
                                     &wmState};
        for (std::size_t i = 0; i < std::size(names); ++i) {
            const Reply<xcb_intern_atom_reply_t> reply(
                xcb_intern_atom_reply(c, cookies[i], nullptr));
            *atoms[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        }
    }

    // Reads a property of 32-bit items; empty when it is missing or of another type.
    std::vector<std::uint32_t> read32(xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                                      std::uint32_t items) const {
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, 0, w, property, type, 0, items), nullptr));
        if (!reply || reply->format != 32 || reply->type != type)
            return {};
        std::vector<std::uint32_t> items32(xcb_get_property_value_length(reply.get()) / 4);
        if (!items32.empty())
            std::memcpy(items32.data(), xcb_get_property_value(reply.get()), items32.size() * 4);
        return items32;
    }

    // The window manager names what it does in _NET_SUPPORTED; a manager replaced meanwhile
    // may name other things, so it is asked each time.
    bool managerSupports(xcb_atom_t what) const {
        if (what == XCB_ATOM_NONE || root == XCB_NONE)
            return false;
        const std::vector<std::uint32_t> atoms = read32(root, supported, XCB_ATOM_ATOM, 4096);
        return std::find(atoms.begin(), atoms.end(), what) != atoms.end();
    }

    std::optional<FrameExtents> extents() const {
        const std::vector<std::uint32_t> v = read32(window, frameExtents, XCB_ATOM_CARDINAL, 4);
        if (v.size() != 4)
            return std::nullopt;
        return FrameExtents{static_cast<int>(v[0]), static_cast<int>(v[1]), static_cast<int>(v[2]),
                            static_cast<int>(v[3])};
    }

    // The current desktop's _NET_WORKAREA within the window's screen, in device pixels; Qt's
    // available geometry where the manager publishes none.
    PixelRect workAreaOf(const QWidget& widget) const {
        const QScreen* screen = widget.screen();
        if (!screen)
            return {};
        // Qt keeps a screen's top-left corner and divides its size by the pixel ratio.
        const qreal ratio = screen->devicePixelRatio();
        const QRect logical = screen->geometry();
        const auto device = [&](const QRect& r) {
            return QRect(
                logical.topLeft() + (r.topLeft() - logical.topLeft()) * ratio,
                QSize(int(std::lround(r.width() * ratio)), int(std::lround(r.height() * ratio))));
        };
        const QRect native = device(logical);
        const std::vector<std::uint32_t> desktop =
            read32(root, currentDesktop, XCB_ATOM_CARDINAL, 1);
        const std::size_t index = desktop.empty() ? 0 : desktop[0];
        const std::vector<std::uint32_t> areas = read32(root, workArea, XCB_ATOM_CARDINAL, 4096);
        QRect area;
        if (areas.size() >= 4 * (index + 1)) {
            const std::uint32_t* a = &areas[4 * index];
            area = QRect(int(a[0]), int(a[1]), int(a[2]), int(a[3])) & native;
        }
        if (area.isEmpty())
            area = device(screen->availableGeometry());
        return {area.x(), area.y(), area.width(), area.height()};
    }

    PixelSize clientSize() const {
        const Reply<xcb_get_geometry_reply_t> reply(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        return reply ? PixelSize{reply->width, reply->height} : PixelSize{};
    }

    // Normal or iconic: the manager has the window and takes requests about it.
    bool managed() const {
        const std::vector<std::uint32_t> state = read32(window, wmState, wmState, 1);
        return !state.empty() && (state[0] == kWmStateNormal || state[0] == kWmStateIconic);
    }

    void sendToManager(xcb_atom_t type, const std::uint32_t (&data)[5]) const {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = type;
        std::copy(std::begin(data), std::end(data), event.data.data32);
        xcb_send_event(c, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    }

    void requestExtents() const {
        if (managerSupports(requestFrameExtents))
            sendToManager(requestFrameExtents, {0, 0, 0, 0, 0});
        xcb_flush(c);
    }

    // Asks for the frame's top-left corner to go to `origin`. A managed window is moved by the
    // manager with the gravity named in the request; before the map the window is configured
    // itself, and the manager reads the position by the gravity in WM_NORMAL_HINTS.
    void moveFrameTo(PixelPoint origin, const FrameExtents& frame) const {
        if (managed() && managerSupports(moveResize)) {
            // Gravity, x and y given, from a normal application.
            const std::uint32_t flags = kNorthWestGravity | (1u << 8) | (1u << 9) | (1u << 12);
            sendToManager(moveResize, {flags, static_cast<std::uint32_t>(origin.x),
                                       static_cast<std::uint32_t>(origin.y), 0, 0});
        } else {
            const std::vector<std::uint32_t> hints =
                read32(window, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, 18);
            const bool isStatic = hints.size() == 18 && (hints[0] & kSizeHintsWinGravity) &&
                                  hints[17] == kStaticGravity;
            const std::uint32_t xy[] = {
                static_cast<std::uint32_t>(origin.x + (isStatic ? frame.left : 0)),
                static_cast<std::uint32_t>(origin.y + (isStatic ? frame.top : 0))};
            xcb_configure_window(c, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, xy);
        }
        xcb_flush(c);
    }

    void apply(std::optional<PixelPoint> origin) const {
        if (origin && active)
            moveFrameTo(*origin, placement.frame());
    }

    // The window's native handle can be made anew by Qt: it is taken afresh at each entry.
    void take(QWidget& widget) {
        placedWidget = &widget;
        const auto w = static_cast<xcb_window_t>(widget.winId());
        if (w == window)
            return;
        window = w;
        const Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree)
            return;
        if (tree->root != root) {
            root = tree->root;
            // _NET_WORKAREA's changes come as the root window's PropertyNotify; Qt asks for
            // them too, and its mask is kept.
            const Reply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr));
            if (attributes && !(attributes->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
                const std::uint32_t mask =
                    attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
                xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
            }
        }
    }

    xcb_connection_t* c;
    xcb_atom_t supported, frameExtents, requestFrameExtents, workArea, currentDesktop, moveResize,
        wmState;
    xcb_window_t root = XCB_NONE;
    xcb_window_t window = XCB_NONE;
    QPointer<QWidget> placedWidget;  // the window last placed
    CornerPlacement placement;
    bool active = false;  // the last placement went by the manager's reports
};

X11WindowPlatform::X11WindowPlatform() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    x11_ = std::make_unique<X11>(x11->connection());
    qApp->installNativeEventFilter(this);
}

X11WindowPlatform::~X11WindowPlatform() {
    if (x11_ && qApp)
        qApp->removeNativeEventFilter(this);
}

void X11WindowPlatform::windowCreated(QWidget& window) {
    // The manager answers _NET_REQUEST_FRAME_EXTENTS while the rest of the start-up runs: by
    // the first mapping the extents are usually known, and the window is mapped in its place.
    if (!x11_)
        return;
    x11_->take(window);
    x11_->requestExtents();
}

void X11WindowPlatform::beforeMapping(QWidget& window) {
    askNoTaskbarEntry(&window);
    if (!x11_)
        return;
    x11_->take(window);
    // A manager may drop the extents when the window is withdrawn: asked again.
    x11_->requestExtents();
}

void X11WindowPlatform::placeBottomRight(QWidget& window) {
    if (!x11_ || !window.testAttribute(Qt::WA_WState_Created)) {
        WindowPlatform::placeBottomRight(window);
        return;
    }
    x11_->take(window);
    if (!x11_->managerSupports(x11_->frameExtents)) {
        // No manager, or one that does not say what its frame is: Qt's own frame geometry
        // (no frame without a manager).
        x11_->active = false;
        x11_->placement.withdrawn();
        WindowPlatform::placeBottomRight(window);
        return;
    }
    x11_->active = true;
    const PixelPoint origin =
        x11_->placement.place(x11_->workAreaOf(window), x11_->clientSize(), x11_->extents());
    x11_->moveFrameTo(origin, x11_->placement.frame());
}

void X11WindowPlatform::windowMoved(QWidget& window) {
    // Qt's frame geometry is not to be trusted here: the manager's reports are followed.
    if (!x11_ || !x11_->active)
        WindowPlatform::windowMoved(window);
}

void X11WindowPlatform::windowHidden(QWidget& window) {
    if (x11_)
        x11_->placement.withdrawn();
    WindowPlatform::windowHidden(window);
}

bool X11WindowPlatform::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!x11_ || x11_->window == XCB_NONE || eventType != "xcb_generic_event_t")
        return false;
    X11& x = *x11_;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (p->window == x.window && p->atom == x.frameExtents) {
                x.apply(x.placement.extentsChanged(x.extents()));
            } else if (p->window == x.root && x.placement.placed() &&
                       (p->atom == x.workArea || p->atom == x.currentDesktop)) {
                if (x.placedWidget)
                    x.apply(x.placement.workAreaChanged(x.workAreaOf(*x.placedWidget)));
            }
            break;
        }
        case XCB_MAP_NOTIFY: {
            const auto* m = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            if (m->window == x.window)
                x.apply(x.placement.mapped(x.extents()));
            break;
        }
        default:
            break;
    }
    return false;  // Qt handles every event as well
}

#else  // no xcb headers: Qt alone

struct X11WindowPlatform::X11 {};

X11WindowPlatform::X11WindowPlatform() = default;
X11WindowPlatform::~X11WindowPlatform() = default;
void X11WindowPlatform::windowCreated(QWidget& window) {
    WindowPlatform::windowCreated(window);
}
void X11WindowPlatform::beforeMapping(QWidget& window) {
    WindowPlatform::beforeMapping(window);
}
void X11WindowPlatform::placeBottomRight(QWidget& window) {
    WindowPlatform::placeBottomRight(window);
}
void X11WindowPlatform::windowMoved(QWidget& window) {
    WindowPlatform::windowMoved(window);
}
void X11WindowPlatform::windowHidden(QWidget& window) {
    WindowPlatform::windowHidden(window);
}
bool X11WindowPlatform::nativeEventFilter(const QByteArray&, void*, qintptr*) {
    return false;
}

#endif

}  // namespace koravex
