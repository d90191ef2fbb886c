#pragma once

#include <QSize>

class CMessageTarget;
class QObject;
class QWidget;
struct DialogTemplate;

// Creates a template's controls as children of a window, placed by dialog units of the
// window's font. Buttons send WM_COMMAND with their id to the owner when clicked.
class CDialogBuilder {
public:
    // Returns the template's size in pixels.
    static QSize Build(QWidget* pParent, const DialogTemplate& dlg, QObject* pOwner);
    // The control with that id, or null.
    static QWidget* GetDlgItem(const QWidget* pParent, int id);

private:
    static void KeepClearOfNeighbours(QWidget* pParent);
};
