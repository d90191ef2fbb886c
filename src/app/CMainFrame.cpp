#include "CMainFrame.h"

#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CFramework.h"
#include "CMenu.h"
#include "CPlatform.h"
#include "CWindowMessage.h"
#include "Resources.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenuBar>
#include <QUrl>

CMainFrame::CMainFrame() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(QString::fromLatin1(kAppTitle));
    if (const QIcon* pIcon = LoadIconResource(IDI_NORMAL))
        setWindowIcon(*pIcon);
    setGeometry(PreCreateWindow(CPlatform::Framework().ScreenSize()));
}

QRect CMainFrame::PreCreateWindow(QSize screen) {
    const int width = int(float(screen.width()) * 0.25f);
    const int height = int(float(screen.height()) * 0.3f);
    return QRect((screen.width() - width) / 2, (screen.height() - height) / 2, width, height);
}

void CMainFrame::OnGetMinMaxInfo(MINMAXINFO* pInfo) const {
    const auto* pView = qobject_cast<const CBumpleView*>(GetActiveView());
    if (pView != nullptr && pView->m_bSizeKnown) {
        pInfo->ptMinTrackSize = pView->m_sizeFrame;
        pInfo->ptMaxTrackSize = pView->m_sizeFrame;
    }
}

void CMainFrame::CreateMenuBar() {
    if (const auto* pMenu = LoadMenuResource(IDR_MAINFRAME)) {
        for (const MenuResource& popup : *pMenu) {
            QMenu* pPopup = menuBar()->addMenu(QString::fromLatin1(popup.title));
            CMenu::AppendMenuItems(*pPopup, popup, -1);
            // F1 opens the manual, as the desktop's programs do.
            for (QAction* pAction : pPopup->actions())
                if (pAction->data().toInt() == ID_HELP_FINDER)
                    pAction->setShortcut(QKeySequence::HelpContents);
            connect(pPopup, &QMenu::triggered, this, [this](const QAction* pAction) {
                SendMessage(this, WM_COMMAND, WPARAM(pAction->data().toInt()), 0);
            });
        }
    }
}

void CMainFrame::setVisible(bool visible) {
    // The menu bar, the form's layout and the fitting wait until the frame is first wanted
    // on screen: a start that stays hidden needs none of them (the menu bar alone loads
    // the image format plugins for its scroll arrow).
    if (visible) {
        if (menuWidget() == nullptr)
            CreateMenuBar();
        if (auto* pView = qobject_cast<CBumpleView*>(GetActiveView()))
            pView->PrepareToShow();
    }
    CFrameWnd::setVisible(visible);
}

void CMainFrame::ApplySizeLimits() {
    MINMAXINFO info{QSize(0, 0), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)};
    OnGetMinMaxInfo(&info);
    if (minimumSize() != info.ptMinTrackSize)
        setMinimumSize(info.ptMinTrackSize);
    if (maximumSize() != info.ptMaxTrackSize)
        setMaximumSize(info.ptMaxTrackSize);
}

bool CMainFrame::event(QEvent* pEvent) {
    // The window system asks for the size limits whenever the frame is moved or sized.
    if (pEvent->type() == QEvent::Resize || pEvent->type() == QEvent::Show)
        ApplySizeLimits();
    // Qt asks for every function when the flags name no box; the hints go out before the map.
    if (pEvent->type() == QEvent::Show)
        AskForCaptionOnly();
    return CFrameWnd::event(pEvent);
}

bool CMainFrame::OnCommand(int id) {
    switch (id) {
    case ID_HELP_FINDER:
    case ID_DEFAULT_HELP:
    case ID_HELP:
    case ID_CONTEXT_HELP:
        OnHelpFinder();
        return true;
    default:
        return CBumpleApp::Instance() != nullptr && CBumpleApp::Instance()->OnCommand(id);
    }
}

void CMainFrame::OnHelpFinder() {
    // The help topics are the installed user manual; with none, or nothing to open it, a beep.
    const CBumpleApp* pApp = CBumpleApp::Instance();
    const QString help = pApp != nullptr ? pApp->m_strHelpFilePath : QString();
    if (!QFileInfo(help).isFile()) {
        CPlatform::Framework().MessageBeep();
        return;
    }
    CPlatform::Framework().ShellExecuteOpen(QUrl::fromLocalFile(help).toString(), [](bool opened) {
        if (!opened)
            CPlatform::Framework().MessageBeep();
    });
}

void CMainFrame::closeEvent(QCloseEvent* pEvent) {
    pEvent->accept();
    QCoreApplication::quit();
}
