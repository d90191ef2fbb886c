#pragma once

#include "CDialog.h"

#include <QString>

class QLabel;

// A snapshot of the engine's counters and the name of the last problem.
class CStatisticsDlg : public CDialog {
    Q_OBJECT
public:
    explicit CStatisticsDlg(QWidget* pParent = nullptr);

    BOOL OnInitDialog() override;

    QLabel* m_ctlProblemName = nullptr;
    QLabel* m_ctlProblemLabel = nullptr;
    QString m_strDnsFailures;
    QString m_strHttpFailures;
    QString m_strSuccesses;
    QString m_strSocketFailures;
    QString m_strProblemName;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
