#pragma once

#include "CBumpleApp.h"
#include "CMainFrame.h"
#include "CPlatform.h"
#include "CScriptedFramework.h"
#include "CScriptedLinkCounters.h"
#include "CScriptedNotifier.h"
#include "CScriptedShellTray.h"
#include "CScriptedWinsock.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

class CBumpleView;
class CMainFrame;
class CProfileStore;

// A view on the scripted platform with its own configuration folder and store, and a log
// of every status text it shows.
class CViewFixture {
public:
    // settings: lines of the "Settings" key written before the view is made, such as
    // "\"AutoStart\"=\"0\"".
    explicit CViewFixture(const QStringList& settings = {});
    ~CViewFixture();

    // A view on the real sockets (and the scripted tray and framework) whose list holds
    // names; only for tests inside a private network namespace.
    static std::unique_ptr<CViewFixture> OnRealSockets(const QStringList& names, int ignore = 1);

    // Constructs the view and runs its initial update.
    CBumpleView* Create();
    // Starts the engine and waits, bounded, until the schedule is armed.
    bool StartAndArm();
    // Delivers every posted message.
    static void Pump();
    // Runs the event loop until done() holds, at most ms milliseconds; sleeps only while
    // no event is due, so a round trip on loopback costs no more than it takes.
    static bool WaitFor(const std::function<bool()>& done, int ms = 5000);
    // One tick of the one-second timer.
    void Tick(int count = 1);
    QString HiveText() const;
    // What the process holds now: open descriptors and resident memory.
    static int OpenDescriptors();
    static long ResidentKiB();
    QString Setting(const QString& name) const;
    QString Status() const;

    QTemporaryDir m_dir;
    CScriptedWinsock m_sockets;
    CScriptedShellTray m_tray;
    CScriptedFramework m_framework;
    CScriptedLinkCounters m_links;
    CScriptedNotifier m_notifier;
    CBumpleApp m_app;
    std::unique_ptr<CProfileStore> m_pStore;
    std::unique_ptr<CMainFrame> m_pFrame;
    CBumpleView* m_pView = nullptr;
    QStringList m_statusLog;
    // The twins above in place of the real services while the fixture lives.
    std::optional<CPlatform::Scope> m_twins;
    std::optional<CPlatform::Scope> m_realSockets;
    std::optional<CPlatform::LinksScope> m_linksTwin;
    std::optional<CPlatform::NotifierScope> m_notifierTwin;
};
