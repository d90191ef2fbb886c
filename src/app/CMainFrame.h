#pragma once

#include "CFrameWnd.h"

#include <QSize>

// The minimum and maximum tracking sizes a frame asks for.
struct MINMAXINFO {
    QSize ptMinTrackSize;
    QSize ptMaxTrackSize;
};

// The program's only top-level window: titled "Bumple" for good, no close, minimise or
// maximise box, centred at first, then fixed at the size the form asks for.
class CMainFrame : public CFrameWnd {
    Q_OBJECT
public:
    CMainFrame();

    // The centred first placement for a screen of that size.
    static QRect PreCreateWindow(QSize screen);
    void OnGetMinMaxInfo(MINMAXINFO* pInfo) const;
    void setVisible(bool visible) override;

protected:
    bool OnCommand(int id) override;
    void closeEvent(QCloseEvent* pEvent) override;
    bool event(QEvent* pEvent) override;

private:
    void CreateMenuBar();
    void OnHelpFinder();
    void ApplySizeLimits();
};
