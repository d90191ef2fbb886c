#include "CX11Display.h"

#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
xcb_connection_t* Connection() {
    const auto* pX11 = qGuiApp != nullptr
                           ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>()
                           : nullptr;
    return pX11 != nullptr ? pX11->connection() : nullptr;
}
} // namespace

std::uint32_t CX11Display::InternAtom(const char* name) {
    xcb_connection_t* pConnection = Connection();
    if (pConnection == nullptr)
        return XCB_ATOM_NONE;
    xcb_intern_atom_reply_t* pAtom = xcb_intern_atom_reply(
        pConnection, xcb_intern_atom(pConnection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = pAtom != nullptr ? pAtom->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(pAtom);
    return atom;
}

bool CX11Display::SystemTrayOwned() {
    const QByteArray display = qgetenv("DISPLAY");
    const qsizetype dot = display.lastIndexOf('.');
    const QByteArray screen = dot > display.lastIndexOf(':') ? display.mid(dot + 1) : "0";
    const xcb_atom_t atom = InternAtom(("_NET_SYSTEM_TRAY_S" + screen).constData());
    if (atom == XCB_ATOM_NONE)
        return false;
    xcb_connection_t* pConnection = Connection();
    xcb_get_selection_owner_reply_t* pOwner = xcb_get_selection_owner_reply(
        pConnection, xcb_get_selection_owner(pConnection, atom), nullptr);
    const bool owned = pOwner != nullptr && pOwner->owner != XCB_NONE;
    std::free(pOwner);
    return owned;
}

void CX11Display::AskForCaptionOnly(WId window) {
    const xcb_atom_t atom = InternAtom("_MOTIF_WM_HINTS");
    if (atom == XCB_ATOM_NONE)
        return;
    enum : uint32_t { HintFunctions = 1, HintDecorations = 2 };
    enum : uint32_t { FunctionMove = 4 };
    enum : uint32_t { DecorBorder = 2, DecorTitle = 8 };
    // flags, functions, decorations, input mode, status
    const uint32_t hints[5] = {HintFunctions | HintDecorations, FunctionMove,
                               DecorBorder | DecorTitle, 0, 0};
    xcb_connection_t* pConnection = Connection();
    xcb_change_property(pConnection, XCB_PROP_MODE_REPLACE, xcb_window_t(window), atom, atom, 32, 5,
                        hints);
    xcb_flush(pConnection);
}

void CX11Display::EndStartup(const QByteArray& startupId) {
    xcb_connection_t* pConnection = Connection();
    if (pConnection == nullptr || startupId.isEmpty())
        return;
    const xcb_atom_t begin = InternAtom("_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = InternAtom("_NET_STARTUP_INFO");
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(pConnection)).data->root;
    // The message goes out in pieces of 20 bytes from a window of the program's own.
    const xcb_window_t sender = xcb_generate_id(pConnection);
    xcb_create_window(pConnection, XCB_COPY_FROM_PARENT, sender, root, -100, -100, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const QByteArray message = "remove: ID=" + startupId + '\0';
    for (qsizetype at = 0; at < message.size(); at += 20) {
        xcb_client_message_event_t event = {};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 8;
        event.window = sender;
        event.type = at == 0 ? begin : more;
        std::memcpy(event.data.data8, message.constData() + at,
                    size_t(std::min<qsizetype>(20, message.size() - at)));
        xcb_send_event(pConnection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_destroy_window(pConnection, sender);
    xcb_flush(pConnection);
}
