#pragma once

#include "WinTypes.h"

#include <QString>
#include <QWidget>

// One direction of data exchange between a dialog's members and its controls.
class CDataExchange {
public:
    CDataExchange(QWidget* pDlgWnd, BOOL bSaveAndValidate)
        : m_pDlgWnd(pDlgWnd), m_bSaveAndValidate(bSaveAndValidate) {}

    QWidget* Control(int id) const;

    QWidget* m_pDlgWnd;
    BOOL m_bSaveAndValidate; // TRUE: controls to members
};

// A check box's state (0 or 1); a stored non-zero value shows as checked.
void DDX_Check(CDataExchange* pDX, int id, BOOL& value);
// The text of an edit field or a static.
void DDX_Text(CDataExchange* pDX, int id, QString& value);
// A list box's selected item text; loading selects the first item equal to the text.
void DDX_LBString(CDataExchange* pDX, int id, QString& value);

// Binds a control member to the control of that id.
template <class T> void DDX_Control(CDataExchange* pDX, int id, T*& pControl) {
    pControl = qobject_cast<T*>(pDX->Control(id));
}
