#pragma once

#include "MenuResource.h"

class CFramework;
class CLinkCounters;
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

    // Non-owning; a null pointer puts the real service back.
    static void Install(CWinsock* pSockets, CShellTray* pTray, CFramework* pFramework);
    // The network links' routes and byte counters; read only while "IdleOnly" is on.
    static CLinkCounters& Links();
    static void InstallLinks(CLinkCounters* pLinks);

    // The owner of message boxes and dialogs, and the target of a quit signal; null for none.
    static QWidget* MainWindow();
    static void SetMainWindow(QWidget* pWnd);

    // The menus the tray host draws itself; null when the application handed in none.
    static const std::vector<MenuResource>* LoadMenu(int id);
    static void SetMenuLoader(MenuLoader loader);
};
