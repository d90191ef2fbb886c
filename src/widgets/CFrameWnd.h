#pragma once

#include "CMessageTarget.h"

#include <QMainWindow>

// The program's top-level window: it holds the active view and routes commands to it
// first, then handles them itself, then hands them to the application.
class CFrameWnd : public QMainWindow, public CMessageTarget {
    Q_OBJECT
public:
    explicit CFrameWnd(QWidget* pParent = nullptr);
    ~CFrameWnd() override;

    // The main window of the process (the first frame created), or null.
    static CFrameWnd* AfxGetMainWnd();

    QWidget* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(QWidget* pView) { m_pActiveView = pView; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    // Asks an X window manager for a caption and a thin border only: moving, but no
    // resizing, minimise, maximise or close (the Motif hints, which Qt cannot express).
    // Takes effect at the next map; elsewhere the window flags are all there is.
    void AskForCaptionOnly();
    // Commands that reach the frame after the view; true when handled.
    virtual bool OnCommand(int id);
    bool event(QEvent* pEvent) override;

private:
    QWidget* m_pActiveView = nullptr;
};
