#include "CFrameWnd.h"

#include "CWindowMessage.h"

namespace {
CFrameWnd* g_pMainWnd = nullptr;
}

CFrameWnd::CFrameWnd(QWidget* pParent) : QMainWindow(pParent) {
    if (g_pMainWnd == nullptr)
        g_pMainWnd = this;
}

CFrameWnd::~CFrameWnd() {
    if (g_pMainWnd == this)
        g_pMainWnd = nullptr;
}

CFrameWnd* CFrameWnd::AfxGetMainWnd() {
    return g_pMainWnd;
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
