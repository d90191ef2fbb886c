#pragma once

#include "CRemoteControl.h"
#include "WinTypes.h"

#include <QStringList>

#include <memory>

class CBumpleDoc;
class CInstanceRequest;
class CMainFrame;
class CProfileStore;

// The application object: the settings store, the document with its frame and view, and
// the state that outlives the dialogs.
class CBumpleApp {
public:
    CBumpleApp();
    ~CBumpleApp();

    // The one application object of the process.
    static CBumpleApp* Instance();
    // Where an installed program finds its help, the user manual in the doc folder.
    static QString HelpFilePath(const QString& executableDir);

    // False ends the program at once.
    bool InitInstance(const QStringList& arguments);
    int ExitInstance();
    void OnAppAbout();
    // A request of a later launch with the same settings: the hand-over is answered here,
    // the commands of scripts by the remote control.
    void OnRequest(CInstanceRequest* pRequest);
    // A later launch handed its document over (empty: none): the form shows, as "&Restore"
    // shows it, brought to the front with the launcher's activation token.
    void OnSecondLaunch(CInstanceRequest* pRequest);
    // Commands that reach the application after the view and the frame; true when handled.
    bool OnCommand(int id);

    CProfileStore* m_pProfileStore = nullptr;
    BOOL m_bEmailLinkVisited = 0;
    BOOL m_bWebLinkVisited = 0;
    // The help the Help menu opens; found beside the executable at start-up.
    QString m_strHelpFilePath;

private:
    std::unique_ptr<CBumpleDoc> m_pDocument;
    CMainFrame* m_pMainFrame = nullptr;
    // Hand-overs of unreadable documents show one message box at a time.
    bool m_bDocumentBoxOpen = false;
    CRemoteControl m_remoteControl;
};
