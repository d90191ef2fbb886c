#pragma once

#include "CMessageTarget.h"
#include "WinTypes.h"

#include <QDialog>

class CDataExchange;
struct DialogTemplate;

// A dialog, modal to its owner window, built from a dialog template, with data exchange on opening
// and on OK. Escape and the close box are Cancel.
class CDialog : public QDialog, public CMessageTarget {
    Q_OBJECT
public:
    // Without a parent the main window owns the dialog. The template outlives the dialog;
    // without one the dialog stays empty.
    explicit CDialog(const DialogTemplate* pTemplate, QWidget* pParent = nullptr);

    int DoModal(); // IDOK or IDCANCEL
    // Builds the controls and runs OnInitDialog, as opening does; DoModal calls it.
    void Create();
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void EndDialog(int nResult);
    QWidget* GetDlgItem(int id) const;

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    // Commands from the dialog's buttons; true when handled.
    virtual bool OnCommand(int id);
    bool event(QEvent* pEvent) override;
    void reject() override;

private:
    const DialogTemplate* m_pTemplate;
    bool m_bCreated = false;
};
