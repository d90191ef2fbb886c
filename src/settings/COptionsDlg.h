#pragma once

#include "CDialog.h"

// The engine options as check boxes; the view copies them in and out.
class COptionsDlg : public CDialog {
    Q_OBJECT
public:
    explicit COptionsDlg(QWidget* pParent = nullptr);

    BOOL m_bAutoStart = FALSE;
    BOOL m_bRandomName = FALSE;
    BOOL m_bRandomTime = FALSE;
    BOOL m_bIgnoreFailures = FALSE;
    BOOL m_bIdleOnly = FALSE;
    BOOL m_bNotify = FALSE;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
