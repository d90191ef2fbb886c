#include "CFrameWnd.h"

#include "CPlatform.h"
#include "CWindowMessage.h"
#include "CX11Display.h"

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
    CX11Display::AskForCaptionOnly(winId());
}
