#pragma once

#include "CBumpleView.h"
#include "CComboBox.h"
#include "CEdit.h"

// Starts the engine on a one-minute period against a dotted loopback address, so the
// schedule is armed at once without a lookup.
inline void ArmLoopbackEngine(CBumpleView* pView) {
    pView->m_editPeriod->SetWindowText(QStringLiteral("1"));
    pView->m_comboName->SetWindowText(QStringLiteral("127.0.0.1"));
    pView->m_bLocalAddressKnown = TRUE;
    pView->OnStartOrApply();
}
