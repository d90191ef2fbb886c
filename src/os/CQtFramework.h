#pragma once

#include "CFramework.h"

#include <QObject>

#include <map>
#include <vector>

class QMessageBox;
class QWidget;

// The framework services on Qt and the C library.
class CQtFramework : public QObject, public CFramework {
    Q_OBJECT
public:
    // How long a link's opener is waited for before it counts as having started a program.
    static constexpr int kOpenerWaitMs = 3000;

    CQtFramework();

    int MessageBox(const QString& text, MessageIcon icon) override;
    bool EndMessageBox(const QString& text) override;
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
    void SetActivationToken(const QByteArray& token) override;
    void TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                        QObject* pWnd) override;
    void ShellExecuteOpen(const QString& target, std::function<void(bool)> done) override;
    bool ActivateModalWindow() override;

protected:
    void timerEvent(QTimerEvent* pEvent) override;

private:
    struct Timer {
        QObject* pWnd;
        UINT id;
        UINT ms;
    };

    // Raises and activates a window, on Wayland too.
    static void BringToFront(QWidget* pWindow);
    void ForgetWindow(QObject* pWnd);
    // Calls done from the event loop, as an opener's report comes.
    void ReportLater(std::function<void(bool)> done, bool opened);
    void RearmRunningTimer();

    // Qt timer id -> window timer
    std::map<int, Timer> m_timers;
    // Qt id of the timer whose handler runs now (0: none)
    int m_nRunningTimer = 0;
    // The message boxes open now, innermost last
    std::vector<QMessageBox*> m_openBoxes;
};
