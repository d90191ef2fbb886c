#pragma once

#include "CBumpleApp.h"
#include "CMainFrame.h"
#include "CPlatform.h"
#include "CScriptedFramework.h"
#include "CScriptedShellTray.h"
#include "CScriptedWinsock.h"

#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

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

    // Constructs the view and runs its initial update.
    CBumpleView* Create();
    // Delivers every posted message.
    static void Pump();
    // One tick of the one-second timer.
    void Tick(int count = 1);
    QString HiveText() const;
    QString Setting(const QString& name) const;
    QString Status() const;

    QTemporaryDir m_dir;
    CScriptedWinsock m_sockets;
    CScriptedShellTray m_tray;
    CScriptedFramework m_framework;
    CBumpleApp m_app;
    std::unique_ptr<CProfileStore> m_pStore;
    std::unique_ptr<CMainFrame> m_pFrame;
    CBumpleView* m_pView = nullptr;
    QStringList m_statusLog;
};
