#include "CPlatform.h"

#include "CDBusNotifier.h"
#include "CNetlinkLinkCounters.h"
#include "CPosixWinsock.h"
#include "CQtFramework.h"
#include "CQtShellTray.h"

#include <utility>

namespace {
CWinsock* g_pSockets = nullptr;
CShellTray* g_pTray = nullptr;
CFramework* g_pFramework = nullptr;
CLinkCounters* g_pLinks = nullptr;
CNotifier* g_pNotifier = nullptr;
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

CPlatform::Scope::Scope(CWinsock* pSockets, CShellTray* pTray, CFramework* pFramework)
    : m_pSockets(std::exchange(g_pSockets, pSockets)), m_pTray(std::exchange(g_pTray, pTray)),
      m_pFramework(std::exchange(g_pFramework, pFramework)) {}

CPlatform::Scope::~Scope() {
    g_pSockets = m_pSockets;
    g_pTray = m_pTray;
    g_pFramework = m_pFramework;
}

CLinkCounters& CPlatform::Links() {
    static CNetlinkLinkCounters real;
    return g_pLinks != nullptr ? *g_pLinks : real;
}

CNotifier& CPlatform::Notifier() {
    static CDBusNotifier real;
    return g_pNotifier != nullptr ? *g_pNotifier : real;
}

namespace {
// Where each further service's replacement is kept.
template <typename Service> Service*& Installed();
template <> CLinkCounters*& Installed() {
    return g_pLinks;
}
template <> CNotifier*& Installed() {
    return g_pNotifier;
}
} // namespace

template <typename Service>
CPlatform::ServiceScope<Service>::ServiceScope(Service* pService)
    : m_pReplaced(std::exchange(Installed<Service>(), pService)) {}

template <typename Service> CPlatform::ServiceScope<Service>::~ServiceScope() {
    Installed<Service>() = m_pReplaced;
}

template class CPlatform::ServiceScope<CLinkCounters>;
template class CPlatform::ServiceScope<CNotifier>;

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
