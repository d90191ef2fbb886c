#pragma once

class CFramework;
class CShellTray;
class CWinsock;

// Where the system finds its platform services. The real ones are used unless a test
// installs scripted replacements.
class CPlatform {
public:
    static CWinsock& Sockets();
    static CShellTray& Tray();
    static CFramework& Framework();

    // Non-owning; a null pointer puts the real service back.
    static void Install(CWinsock* pSockets, CShellTray* pTray, CFramework* pFramework);
};
