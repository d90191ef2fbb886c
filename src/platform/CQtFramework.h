#pragma once

#include "CFramework.h"

#include <QObject>

class QMenu;

#include <map>
#include <utility>

// The framework services on Qt and the C library.
class CQtFramework : public QObject, public CFramework {
    Q_OBJECT
public:
    CQtFramework();

    int MessageBox(const QString& text, MessageIcon icon) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void MessageBeep() override;
    DWORD GetTickCount() override;
    std::time_t Time() override;
    QString LocalTimeText() override;
    void Srand(unsigned int seed) override;
    int Rand() override;
    void Sleep(DWORD ms) override;
    void SetTimer(QObject* pWnd, UINT id, UINT ms) override;
    void KillTimer(QObject* pWnd, UINT id) override;
    QSize ScreenSize() override;
    QPoint GetCursorPos() override;
    void SetForegroundWindow(QObject* pWnd) override;
    void TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                        QObject* pWnd) override;
    bool ShellExecuteOpen(const QString& target) override;
    bool ActivateModalWindow() override;

    // Appends the popup's items to the menu, each action carrying its command id as data;
    // the item at defaultItem is the default action (-1: none).
    static void AppendMenuItems(QMenu& menu, const MenuResource& popup, int defaultItem);

protected:
    void timerEvent(QTimerEvent* pEvent) override;

private:
    void ForgetWindow(QObject* pWnd);

    // Qt timer id -> (window, window timer id)
    std::map<int, std::pair<QObject*, UINT>> m_timers;
};
