#pragma once

#include "CDialog.h"

#include <QApplication>
#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>

// Runs a step inside the modal loop of the next dialog that opens; a dialog the step leaves
// open is cancelled, so a test never waits on it. Create it just before the call that runs
// the dialog.
class CModalDriver : public QObject {
public:
    explicit CModalDriver(std::function<void(CDialog&)> step) : m_step(std::move(step)) { Poll(0); }

    bool m_bRan = false;
    bool m_bLeftOpen = false;

private:
    static constexpr int kMaxPolls = 50;

    void Poll(int nPoll) {
        QTimer::singleShot(0, this, [this, nPoll] {
            auto* pDlg = qobject_cast<CDialog*>(QApplication::activeModalWidget());
            if (pDlg == nullptr) {
                if (nPoll < kMaxPolls)
                    Poll(nPoll + 1);
                return;
            }
            m_bRan = true;
            m_step(*pDlg);
            if (pDlg->isVisible()) {
                m_bLeftOpen = true;
                pDlg->OnCancel();
            }
        });
    }

    std::function<void(CDialog&)> m_step;
};
