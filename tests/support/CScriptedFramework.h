#pragma once

#include "CFramework.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <vector>

class QObject;

// Framework services that record what the program asks for and answer from a script:
// message boxes are captured, not shown; time, ticks and random draws are set by the test.
class CScriptedFramework : public CFramework {
public:
    int MessageBox(const QString& text, MessageIcon icon) override;
    bool EndMessageBox(const QString& text) override;
    void BeginWaitCursor() override { ++m_nWaitCursor; }
    void EndWaitCursor() override { --m_nWaitCursor; }
    void MessageBeep() override { ++m_nBeeps; }
    DWORD GetTickCount() override { return m_dwTicks; }
    std::time_t Time() override { return m_time; }
    QString LocalTimeText() override { return m_strTime; }
    void Srand(unsigned int seed) override { m_seeds.push_back(seed); }
    int Rand() override;
    void Sleep(DWORD ms) override { m_sleeps.push_back(ms); }
    void SetTimer(QObject* pWnd, UINT id, UINT ms) override;
    void KillTimer(QObject* pWnd, UINT id) override;
    QSize ScreenSize() override { return m_screen; }
    QPoint GetCursorPos() override { return m_cursor; }
    void SetForegroundWindow(QObject* pWnd) override { m_foreground.push_back(pWnd); }
    void TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                        QObject* pWnd) override;
    void ShellExecuteOpen(const QString& target, std::function<void(bool)> done) override;
    // A box is "open" while m_onMessageBox runs; a real dialog while its modal loop runs.
    bool ActivateModalWindow() override;
    void SetActivationToken(const QByteArray&) override {}

    bool IsTimerSet(UINT id) const { return m_timers.count(id) != 0; }

    // What was asked for
    QStringList m_messages;
    std::vector<MessageIcon> m_icons;
    int m_nWaitCursor = 0;
    int m_nBeeps = 0;
    std::vector<unsigned int> m_seeds;
    std::vector<DWORD> m_sleeps;
    std::map<UINT, UINT> m_timers; // id -> interval
    QStringList m_timerLog;        // "set 101", "kill 103", ...
    std::vector<QObject*> m_foreground;
    struct Popup {
        const MenuResource* pMenu;
        int defaultItem;
        QPoint pt;
        QObject* pWnd;
    };
    std::vector<Popup> m_popups;
    QStringList m_opened;
    QStringList m_endedBoxes;
    int m_nOpenBoxes = 0;
    int m_nModalActivations = 0;

    // The script
    DWORD m_dwTicks = 0;
    std::time_t m_time = 1000;
    QString m_strTime = QStringLiteral("12:00:00");
    std::deque<int> m_draws; // returned by Rand() in turn
    QSize m_screen{1024, 768};
    QPoint m_cursor{500, 700};
    bool m_bOpenSucceeds = true;
    // Openers that have not reported yet, when the test holds their reports back.
    bool m_bHoldOpeners = false;
    std::vector<std::function<void(bool)>> m_openers;
    int m_nChosenCommand = 0; // posted by TrackPopupMenu when non-zero
    // Called while a message box is "open", e.g. to deliver ticks under it.
    std::function<void(const QString&)> m_onMessageBox;

private:
    int m_nNextDraw = 1;
};
