#pragma once

#include "CDialog.h"

#include <QString>

class CDragListBox;

// Reorders, deletes or restores the target names; only OK stores them.
class CEditNamesDlg : public CDialog {
    Q_OBJECT
public:
    explicit CEditNamesDlg(QWidget* pParent = nullptr);

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnDeleteSelection();
    void OnRestoreDefault();

    CDragListBox* m_listNames = nullptr;
    QString m_strSelection;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnCommand(int id) override;
};
