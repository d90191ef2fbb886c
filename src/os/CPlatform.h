#pragma once

#include "MenuResource.h"

class CFramework;
class CLinkCounters;
class CNotifier;
class CShellTray;
class CWinsock;
class QWidget;

// Where the system finds its platform services. The real ones are used unless a test
// installs scripted replacements. The application hands in what the services show of it:
// its main window and its menus.
class CPlatform {
public:
    static CWinsock& Sockets();
    static CShellTray& Tray();
    static CFramework& Framework();

    // Installs services for its lifetime (non-owning; a null pointer is the real service)
    // and puts back the ones it replaced when it ends, so no replacement outlives its scope.
    class Scope {
    public:
        Scope(CWinsock* pSockets, CShellTray* pTray, CFramework* pFramework);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        CWinsock* m_pSockets;
        CShellTray* m_pTray;
        CFramework* m_pFramework;
    };
    // Installs one more service for its lifetime, as Scope does the three above.
    template <typename Service> class ServiceScope {
    public:
        explicit ServiceScope(Service* pService);
        ~ServiceScope();
        ServiceScope(const ServiceScope&) = delete;
        ServiceScope& operator=(const ServiceScope&) = delete;

    private:
        Service* m_pReplaced;
    };

    // The network links' routes and byte counters; read only while "IdleOnly" is on.
    static CLinkCounters& Links();
    using LinksScope = ServiceScope<CLinkCounters>;
    // Desktop notifications; used only while "Notify" is on.
    static CNotifier& Notifier();
    using NotifierScope = ServiceScope<CNotifier>;

    // The owner of message boxes and dialogs, and the target of a quit signal; null for none.
    static QWidget* MainWindow();
    static void SetMainWindow(QWidget* pWnd);

    // The menus the tray host draws itself; null when the application handed in none.
    static const std::vector<MenuResource>* LoadMenu(int id);
    static void SetMenuLoader(MenuLoader loader);
};
