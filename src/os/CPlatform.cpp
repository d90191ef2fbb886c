#include "CPlatform.h"

#include "CPosixWinsock.h"
#include "CProcLinkCounters.h"
#include "CQtFramework.h"
#include "CQtShellTray.h"

namespace {
CWinsock* g_pSockets = nullptr;
CShellTray* g_pTray = nullptr;
CFramework* g_pFramework = nullptr;
CLinkCounters* g_pLinks = nullptr;
QWidget* g_pMainWnd = nullptr;
MenuLoader g_menuLoader = nullptr;
} // namespace

CWinsock& CPlatform::Sockets() {
    static CPosixWinsock real;
    return g_pSockets != nullptr ? *g_pSockets : real;
}

CShellTray& CPlatform::Tray() {
    static CQtShellTray real;
    return g_pTray != nullptr ? *g_pTray : real;
}

CFramework& CPlatform::Framework() {
    static CQtFramework real;
    return g_pFramework != nullptr ? *g_pFramework : real;
}

void CPlatform::Install(CWinsock* pSockets, CShellTray* pTray, CFramework* pFramework) {
    g_pSockets = pSockets;
    g_pTray = pTray;
    g_pFramework = pFramework;
}

CLinkCounters& CPlatform::Links() {
    static CProcLinkCounters real;
    return g_pLinks != nullptr ? *g_pLinks : real;
}

void CPlatform::InstallLinks(CLinkCounters* pLinks) {
    g_pLinks = pLinks;
}

QWidget* CPlatform::MainWindow() {
    return g_pMainWnd;
}

void CPlatform::SetMainWindow(QWidget* pWnd) {
    g_pMainWnd = pWnd;
}

const std::vector<MenuResource>* CPlatform::LoadMenu(int id) {
    return g_menuLoader != nullptr ? g_menuLoader(id) : nullptr;
}

void CPlatform::SetMenuLoader(MenuLoader loader) {
    g_menuLoader = loader;
}
