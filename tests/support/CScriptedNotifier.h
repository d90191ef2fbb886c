#pragma once

#include "CNotifier.h"

#include <QString>
#include <QStringList>

// A desktop that records every notification: its title and text, a line apart.
class CScriptedNotifier : public CNotifier {
public:
    void Notify(const NOTIFYICONDATA&, UINT nCommand, const QString& strTitle,
                const QString& strText) override {
        m_nCommand = nCommand;
        m_notices.append(strTitle + QLatin1Char('\n') + strText);
    }

    QStringList m_notices;
    UINT m_nCommand = 0;
};
