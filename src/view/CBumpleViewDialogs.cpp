// The view's commands that open the Edit Names, Options and Statistics dialogs.

#include "CBumpleView.h"

#include "CConfigFolder.h"
#include "CEditNamesDlg.h"
#include "CFramework.h"
#include "CHistoryWnd.h"
#include "COptionsDlg.h"
#include "CPlatform.h"
#include "CProfileStore.h"
#include "CRegistry.h"
#include "CStatisticsDlg.h"
#include "SettingsTable.h"

#include <QFile>

#include <algorithm>
#include <utility>

namespace {
constexpr int kFirstSaveRetrySeconds = 30;
constexpr int kLastSaveRetrySeconds = 480;
} // namespace

void CBumpleView::OnEditNames() {
    CEditNamesDlg dlg;
    dlg.m_strSelection = m_strName;
    if (dlg.DoModal() != IDOK)
        return;
    LoadNameList();
    SaveOutcome(true);
}

void CBumpleView::OnOptions() {
    COptionsDlg dlg;
    dlg.m_bIgnoreFailures = m_bIgnoreFailures;
    dlg.m_bRandomName = m_bRandomName;
    dlg.m_bRandomTime = m_bRandomTime;
    dlg.m_bAutoStart = m_bAutoStart;
    dlg.m_bIdleOnly = m_bIdleOnly;
    dlg.m_bNotify = m_bNotify;
    if (dlg.DoModal() != IDOK)
        return;
    // "IdleOnly" and "Notify" are written once they have been on, so that with the options
    // never used the writes stay the four below.
    const BOOL bWriteIdleOnly = m_bIdleOnly || dlg.m_bIdleOnly;
    const BOOL bWriteNotify = m_bNotify || dlg.m_bNotify;
    m_bIgnoreFailures = dlg.m_bIgnoreFailures;
    m_bRandomName = dlg.m_bRandomName;
    m_bRandomTime = dlg.m_bRandomTime;
    m_bAutoStart = dlg.m_bAutoStart;
    m_bIdleOnly = dlg.m_bIdleOnly;
    m_bNotify = dlg.m_bNotify;
    if (!m_bIdleOnly) {
        m_linkWatch.Forget();
        m_bLinkInUse = FALSE;
    }
    // New values take effect where the engine next reads them; nothing is restarted.
    CProfileStore& store = Store();
    using namespace SettingsTable;
    store.BeginWriteUnit();
    store.WriteProfileInt(kSection, kIgnore, m_bIgnoreFailures);
    store.WriteProfileInt(kSection, kAutoStart, m_bAutoStart);
    store.WriteProfileInt(kSection, kRandomName, m_bRandomName);
    store.WriteProfileInt(kSection, kRandomTime, m_bRandomTime);
    if (bWriteIdleOnly)
        store.WriteProfileInt(kSection, kIdleOnly, m_bIdleOnly);
    if (bWriteNotify)
        store.WriteProfileInt(kSection, kNotify, m_bNotify);
    store.EndWriteUnit();
    SaveOutcome(true);
}

void CBumpleView::SaveOutcome(bool bAsked) {
    CFramework& framework = CPlatform::Framework();
    if (!Store().HasPending()) {
        if (std::exchange(m_nSaveRetrySeconds, 0) != 0)
            framework.KillTimer(this, ID_TIMER_SAVE);
        return;
    }
    if (m_nSaveRetrySeconds == 0) {
        m_nSaveRetrySeconds = kFirstSaveRetrySeconds;
        framework.SetTimer(this, ID_TIMER_SAVE, UINT(m_nSaveRetrySeconds) * 1000);
    }
    if (bAsked)
        framework.MessageBox(
            QStringLiteral("Bumple: The settings could not be saved to %1 (%2). "
                           "Bumple keeps them and saves them as soon as it can.")
                .arg(QFile::decodeName(CConfigFolder::HivePath()), CRegistry::LastFailure()));
}

void CBumpleView::RetrySave() {
    CFramework& framework = CPlatform::Framework();
    framework.KillTimer(this, ID_TIMER_SAVE);
    if (Store().SavePending()) {
        m_nSaveRetrySeconds = 0;
        return;
    }
    // Backs off while the cause lasts, so a long outage costs few attempts.
    m_nSaveRetrySeconds = std::min(2 * m_nSaveRetrySeconds, kLastSaveRetrySeconds);
    framework.SetTimer(this, ID_TIMER_SAVE, UINT(m_nSaveRetrySeconds) * 1000);
}

void CBumpleView::OnStatistics() {
    CStatisticsDlg dlg;
    dlg.m_strDnsFailures = QString::number(m_nDnsFailures);
    dlg.m_strHttpFailures = QString::number(m_nHttpFailures);
    dlg.m_strSocketFailures = QString::number(m_nSocketFailures);
    dlg.m_strSuccesses = QString::number(m_nSuccesses);
    dlg.m_strProblemName = m_strProblemName;
    // Opening acknowledges the problems: the tray tip drops its hint at the next update.
    m_bProblemUnseen = FALSE;
    dlg.DoModal();
}

void CBumpleView::OnHistory() {
    // One window: a second command brings it to the front. A window of its own, not the
    // form's: the form can come in front of it.
    if (m_pHistoryWnd == nullptr)
        m_pHistoryWnd = new CHistoryWnd(&m_history);
    m_pHistoryWnd->ShowBeside(window());
    CPlatform::Framework().SetForegroundWindow(m_pHistoryWnd);
}
