#include "CFrameWnd.h"

#include "CPlatform.h"
#include "CWindowMessage.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

CFrameWnd::CFrameWnd(QWidget* pParent) : QMainWindow(pParent) {
    if (CPlatform::MainWindow() == nullptr)
        CPlatform::SetMainWindow(this);
}

CFrameWnd::~CFrameWnd() {
    if (CPlatform::MainWindow() == this)
        CPlatform::SetMainWindow(nullptr);
}

CFrameWnd* CFrameWnd::AfxGetMainWnd() {
    return qobject_cast<CFrameWnd*>(CPlatform::MainWindow());
}

LRESULT CFrameWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_COMMAND)
        return 0;
    auto* pView = dynamic_cast<CMessageTarget*>(m_pActiveView);
    if (pView != nullptr && pView->WindowProc(message, wParam, lParam) != 0)
        return 1;
    return OnCommand(int(LOWORD(LPARAM(wParam)))) ? 1 : 0;
}

bool CFrameWnd::OnCommand(int) {
    return false;
}

bool CFrameWnd::event(QEvent* pEvent) {
    return DispatchMessage(pEvent) || QMainWindow::event(pEvent);
}

void CFrameWnd::AskForCaptionOnly() {
    const auto* pX11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* pConnection = pX11 != nullptr ? pX11->connection() : nullptr;
    if (pConnection == nullptr)
        return;
    static const char name[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* pAtom = xcb_intern_atom_reply(
        pConnection, xcb_intern_atom(pConnection, 0, sizeof name - 1, name), nullptr);
    if (pAtom == nullptr)
        return;
    enum : uint32_t { HintFunctions = 1, HintDecorations = 2 };
    enum : uint32_t { FunctionMove = 4 };
    enum : uint32_t { DecorBorder = 2, DecorTitle = 8 };
    // flags, functions, decorations, input mode, status
    const uint32_t hints[5] = {HintFunctions | HintDecorations, FunctionMove,
                               DecorBorder | DecorTitle, 0, 0};
    xcb_change_property(pConnection, XCB_PROP_MODE_REPLACE, xcb_window_t(winId()), pAtom->atom,
                        pAtom->atom, 32, 5, hints);
    xcb_flush(pConnection);
    std::free(pAtom);
}
