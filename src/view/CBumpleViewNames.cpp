// The list of target names: the combo box's items are the data, kept in the store.

#include "CBumpleView.h"

#include "CComboBox.h"
#include "CProfileStore.h"
#include "SettingsTable.h"

void CBumpleView::LoadNameList() {
    CProfileStore& store = Store();
    m_comboName->ResetContent();
    for (int i = 0;; ++i) {
        const QString name =
            store.GetProfileString(SettingsTable::kSection, SettingsTable::ComboName(i));
        if (name.isEmpty())
            break;
        m_comboName->AddString(name);
    }
    if (m_comboName->GetCount() == 0)
        for (const QString& name : SettingsTable::kDefaultNames)
            m_comboName->AddString(name);

    int selection = store.GetProfileInt(SettingsTable::kSection, SettingsTable::kComboNameSel,
                                        SettingsTable::kComboNameSelDefault);
    if (selection < m_comboName->GetCount()) {
        m_comboName->SetCurSel(selection);
    } else {
        m_comboName->SetCurSel(0);
        selection = 0;
    }
    m_nNameSel = selection;
    m_strName = m_comboName->GetWindowText();
}
