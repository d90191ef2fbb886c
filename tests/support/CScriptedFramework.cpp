#include "CScriptedFramework.h"

#include "CWindowMessage.h"

#include <QApplication>

int CScriptedFramework::MessageBox(const QString& text, MessageIcon icon) {
    m_messages.append(text);
    m_icons.push_back(icon);
    if (m_onMessageBox) {
        ++m_nOpenBoxes;
        m_onMessageBox(text);
        --m_nOpenBoxes;
    }
    return IDOK;
}

int CScriptedFramework::Rand() {
    // Past the script the draws go on as a small generator, so no loop waits forever.
    if (m_draws.empty()) {
        m_nNextDraw = (m_nNextDraw * 1103515245 + 12345) & 0x7FFFFFFF;
        return m_nNextDraw;
    }
    const int r = m_draws.front();
    m_draws.pop_front();
    return r;
}

void CScriptedFramework::SetTimer(QObject*, UINT id, UINT ms) {
    m_timers[id] = ms;
    m_timerLog.append(QStringLiteral("set %1").arg(id));
}

void CScriptedFramework::KillTimer(QObject*, UINT id) {
    m_timers.erase(id);
    m_timerLog.append(QStringLiteral("kill %1").arg(id));
}

void CScriptedFramework::TrackPopupMenu(const MenuResource& popup, int defaultItem, QPoint pt,
                                        QObject* pWnd) {
    m_popups.push_back({&popup, defaultItem, pt, pWnd});
    if (m_nChosenCommand != 0)
        PostMessage(pWnd, WM_COMMAND, WPARAM(m_nChosenCommand), 0);
}

bool CScriptedFramework::EndMessageBox(const QString& text) {
    m_endedBoxes.append(text);
    return m_nOpenBoxes > 0;
}

void CScriptedFramework::ShellExecuteOpen(const QString& target, std::function<void(bool)> done) {
    m_opened.append(target);
    if (m_bHoldOpeners)
        m_openers.push_back(std::move(done));
    else
        done(m_bOpenSucceeds);
}

bool CScriptedFramework::ActivateModalWindow() {
    if (m_nOpenBoxes == 0 && QApplication::activeModalWidget() == nullptr)
        return false;
    ++m_nModalActivations;
    return true;
}
