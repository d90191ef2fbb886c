// The view's commands that open the Edit Names, Options and Statistics dialogs.

#include "CBumpleView.h"

#include "CEditNamesDlg.h"
#include "CHistoryWnd.h"
#include "COptionsDlg.h"
#include "CProfileStore.h"
#include "CStatisticsDlg.h"
#include "SettingsTable.h"

void CBumpleView::OnEditNames() {
    CEditNamesDlg dlg;
    dlg.m_strSelection = m_strName;
    if (dlg.DoModal() == IDOK)
        LoadNameList();
}

void CBumpleView::OnOptions() {
    COptionsDlg dlg;
    dlg.m_bIgnoreFailures = m_bIgnoreFailures;
    dlg.m_bRandomName = m_bRandomName;
    dlg.m_bRandomTime = m_bRandomTime;
    dlg.m_bAutoStart = m_bAutoStart;
    dlg.m_bIdleOnly = m_bIdleOnly;
    if (dlg.DoModal() != IDOK)
        return;
    // "IdleOnly" is written once it has been on, so that with the option never used the
    // writes stay the four above.
    const BOOL bWriteIdleOnly = m_bIdleOnly || dlg.m_bIdleOnly;
    m_bIgnoreFailures = dlg.m_bIgnoreFailures;
    m_bRandomName = dlg.m_bRandomName;
    m_bRandomTime = dlg.m_bRandomTime;
    m_bAutoStart = dlg.m_bAutoStart;
    m_bIdleOnly = dlg.m_bIdleOnly;
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
    store.EndWriteUnit();
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
    // One window: a second command brings it to the front.
    if (m_pHistoryWnd == nullptr)
        m_pHistoryWnd = new CHistoryWnd(&m_history, window());
    m_pHistoryWnd->show();
    m_pHistoryWnd->raise();
    m_pHistoryWnd->activateWindow();
}
