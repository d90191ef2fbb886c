#pragma once

#include <QRect>
#include <QSize>

class CMessageTarget;
class QObject;
class QWidget;
struct DialogTemplate;

// Creates a template's controls as children of a window, placed by dialog units of the
// window's font. Buttons send WM_COMMAND with their id to the owner when clicked.
class CDialogBuilder {
public:
    // Create, then Place; returns the template's size in pixels.
    static QSize Build(QWidget* pParent, const DialogTemplate& dlg, QObject* pOwner);
    // The controls with their texts, ids and states, not yet placed: nothing here measures
    // a text, so the font database stays unloaded.
    static void Create(QWidget* pParent, const DialogTemplate& dlg, QObject* pOwner);
    // Places the controls made by Create; returns the template's size in pixels.
    static QSize Place(QWidget* pParent, const DialogTemplate& dlg);
    // The control with that id, or null.
    static QWidget* GetDlgItem(const QWidget* pParent, int id);
    // Tells assistive technology that the static with the template text label names the
    // control with that id: the static becomes the control's buddy (its "labelled by"
    // relation), and a control with an edit field also takes the label as its name.
    static void SetLabel(QWidget* pParent, int id, const char* label);

private:
    static void KeepClearOfNeighbours(QWidget* pParent, const QRect& bounds);
};
