#pragma once

#include <QByteArray>
#include <QtGui/qwindowdefs.h>

#include <cstdint>

// The few X11 requests Qt has no call for, on the display Qt's xcb platform opened. Off X11
// (Wayland, offscreen) they do nothing and report false.
class CX11Display {
public:
    // Whether the XEmbed tray selection of the display's default screen has an owner.
    static bool SystemTrayOwned();
    // Asks the window manager for a caption and a thin border only: moving, but no resizing,
    // minimise, maximise or close (the Motif hints, which Qt cannot express). Takes effect
    // at the window's next map.
    static void AskForCaptionOnly(WId window);

    // Tells the launcher that started this program with that startup id that the start is
    // over, as Qt does only when a window shows; nothing for an empty id.
    static void EndStartup(const QByteArray& startupId);

private:
    // The atom of that name, interned; 0 off X11 or on failure.
    static std::uint32_t InternAtom(const char* name);
};
