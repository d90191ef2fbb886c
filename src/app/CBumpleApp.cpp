#include "CBumpleApp.h"

#include "CAboutDlg.h"
#include "CBumpleDoc.h"
#include "CBumpleView.h"
#include "CCommandLineInfo.h"
#include "CConfigFolder.h"
#include "CFramework.h"
#include "CInstanceRequest.h"
#include "CMainFrame.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CRegistry.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {
CBumpleApp* g_pApp = nullptr;
}

CBumpleApp::CBumpleApp() {
    g_pApp = this;
}

CBumpleApp::~CBumpleApp() {
    delete m_pMainFrame;
    if (g_pApp == this)
        g_pApp = nullptr;
}

CBumpleApp* CBumpleApp::Instance() {
    return g_pApp;
}

QString CBumpleApp::HelpFilePath(const QString& executableDir) {
    return QDir::cleanPath(executableDir + QLatin1Char('/') +
                           QStringLiteral(BUMPLE_HELP_FROM_BINDIR));
}

bool CBumpleApp::InitInstance(const QStringList& arguments) {
    // The tray host that draws the icon's menu itself takes it from the resources.
    CPlatform::SetMenuLoader(&LoadMenuResource);
    m_pProfileStore = new CProfileStore;
    m_strHelpFilePath = HelpFilePath(QCoreApplication::applicationDirPath());
    m_pProfileStore->OpenApplicationKey();
    // Such a file is no settings file: it is left alone, and the user is told once.
    if (CRegistry::HiveTooLarge())
        CPlatform::Framework().MessageBox(
            QStringLiteral("Bumple: The settings file %1 is larger than 16 MiB, so it is not "
                           "read. Bumple runs on its default settings and leaves that file "
                           "unchanged.")
                .arg(QFile::decodeName(CConfigFolder::HivePath())));
    else if (const QString failure = CRegistry::ReadFailure(); !failure.isEmpty())
        CPlatform::Framework().MessageBox(
            QStringLiteral("Bumple: The settings file %1 cannot be read (%2), so Bumple runs on "
                           "its default settings.")
                .arg(QFile::decodeName(CConfigFolder::HivePath()), failure));

    m_pDocument = std::make_unique<CBumpleDoc>();
    m_pMainFrame = new CMainFrame;
    auto* pView = new CBumpleView(m_pMainFrame);
    m_pMainFrame->setCentralWidget(pView);
    m_pMainFrame->SetActiveView(pView);

    // No document: a new one, which keeps the window hidden. A document name opens that
    // document and shows the window as launched.
    CCommandLineInfo cmdInfo;
    cmdInfo.ParseCommandLine(arguments);
    if (!cmdInfo.m_unknownOptions.isEmpty())
        qWarning("bumple: unknown options ignored: %s",
                 qPrintable(cmdInfo.m_unknownOptions.join(QLatin1Char(' '))));
    bool showWindow = true;
    const bool opened = cmdInfo.m_nShellCommand == CCommandLineInfo::FileOpen
                            ? m_pDocument->OnOpenDocument(cmdInfo.m_strFileName)
                            : m_pDocument->OnNewDocument(&showWindow);
    if (!opened) {
        CPlatform::Framework().MessageBox(
            QStringLiteral("Bumple: Cannot open the document %1.").arg(cmdInfo.m_strFileName));
        return false;
    }
    pView->OnInitialUpdate();
    if (showWindow)
        m_pMainFrame->show();
    return true;
}

int CBumpleApp::ExitInstance() {
    // The frame and its view go first: the view stops the engine and removes its icon.
    delete m_pMainFrame;
    m_pMainFrame = nullptr;
    // A change that could not be saved is tried once more, as long as one save may take.
    if (m_pProfileStore != nullptr && !m_pProfileStore->SavePending())
        std::fprintf(stderr, "bumple: settings not saved to %s (%s); they are lost\n",
                     CConfigFolder::HivePath().constData(),
                     CRegistry::LastFailure().toLocal8Bit().constData());
    delete m_pProfileStore;
    m_pProfileStore = nullptr;
    return 0;
}

void CBumpleApp::OnAppAbout() {
    CAboutDlg dlg;
    const CFrameWnd* pFrame = CFrameWnd::AfxGetMainWnd();
    if (const auto* pView = qobject_cast<const CBumpleView*>(
            pFrame != nullptr ? pFrame->GetActiveView() : nullptr)) {
        dlg.m_strAddress = pView->m_strLocalAddress;
        dlg.m_strUptime =
            CAboutDlg::UptimeText(CPlatform::Framework().GetTickCount(), pView->m_dwLaunchTicks);
    }
    dlg.DoModal();
}

void CBumpleApp::OnRequest(CInstanceRequest* pRequest) {
    if (pRequest->GetKind() == CInstanceRequest::Kind::Show)
        OnSecondLaunch(pRequest);
    else
        m_remoteControl.OnRequest(pRequest,
                                  m_pMainFrame != nullptr
                                      ? qobject_cast<CBumpleView*>(m_pMainFrame->GetActiveView())
                                      : nullptr);
}

void CBumpleApp::OnSecondLaunch(CInstanceRequest* pRequest) {
    const QList<QByteArray> fields = pRequest->Payload().split('\0');
    const QString document = QFile::decodeName(fields.value(0));
    if (!document.isEmpty() && !CBumpleDoc::CanOpen(document)) {
        const QString text = QStringLiteral("Bumple: Cannot open the document %1.").arg(document);
        if (!pRequest->Refuse(text.toUtf8()) || m_bDocumentBoxOpen)
            return;
        m_bDocumentBoxOpen = true;
        CPlatform::Framework().MessageBox(text);
        m_bDocumentBoxOpen = false;
        return;
    }
    if (!pRequest->Accept())
        return;
    CPlatform::Framework().SetActivationToken(fields.value(1));
    // Before start-up is over the form does not exist yet: its message box comes forward.
    if (QWidget* pMainWnd = m_pMainFrame != nullptr ? CPlatform::MainWindow() : nullptr)
        PostMessage(pMainWnd, WM_COMMAND, ID_RESTORE, 0);
    else
        CPlatform::Framework().ActivateModalWindow();
}

bool CBumpleApp::OnCommand(int id) {
    if (id != ID_APP_ABOUT)
        return false;
    OnAppAbout();
    return true;
}
