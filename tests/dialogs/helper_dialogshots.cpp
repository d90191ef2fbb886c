// Saves a picture of the form and of each dialog with representative contents, for the
// documentation: helper_dialogshots <folder> [<name suffix>]. Run it on a real display so
// fonts render as on a desktop; QT_FONT_DPI sets the scale.

#include "CAboutDlg.h"
#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CComboBox.h"
#include "CEdit.h"
#include "CEditNamesDlg.h"
#include "CFrameWnd.h"
#include "COptionsDlg.h"
#include "CProfileStore.h"
#include "CStatisticsDlg.h"
#include "Resources.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTemporaryDir>

namespace {
bool Save(CDialog& dlg, const QDir& folder, const QString& name) {
    dlg.Create();
    dlg.show();
    QApplication::processEvents();
    const bool saved = dlg.grab().save(folder.filePath(name));
    dlg.hide();
    return saved;
}
} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    const QString suffix = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    const auto file = [&suffix](const char* name) {
        return QString::fromLatin1(name) + suffix + QStringLiteral(".png");
    };
    QTemporaryDir config;
    qputenv("BUMPLE_CONFIG_DIR", config.path().toUtf8());

    CBumpleApp app;
    CProfileStore store;
    store.OpenApplicationKey();
    app.m_pProfileStore = &store;
    const QStringList names = {"www.example.com", "dialup.quellmoor.example", "192.0.2.80",
                               "news.example.org", "mail.example.net"};
    for (int i = 0; i < names.size(); ++i)
        store.WriteProfileString("Settings", QStringLiteral("ComboName%1").arg(i), names.at(i));

    // The dialogs show their owner's icon.
    CFrameWnd frame;
    frame.setWindowIcon(*LoadIconResource(IDI_NORMAL));
    auto* pView = new CBumpleView(&frame);
    frame.setCentralWidget(pView);
    frame.SetActiveView(pView);
    pView->LoadNameList();
    pView->m_editPeriod->SetWindowText(QStringLiteral("25"));
    pView->PrepareToShow();
    // The widest status text, and a running countdown.
    pView->m_staticStatus->setText(QStringLiteral("Bumple completed at 23:59:59"));
    pView->m_staticNextLabel->setEnabled(true);
    pView->m_staticCountdown->setText(CBumpleView::FormatTimeLeft(13));
    frame.show();
    QApplication::processEvents();
    bool saved = pView->grab().save(folder.filePath(file("form")));
    frame.hide();

    CAboutDlg about;
    about.m_strAddress = QStringLiteral("192.0.2.17");
    about.m_strUptime = CAboutDlg::UptimeText(47 * 60 * 1000, 0);
    saved &= Save(about, folder, file("about"));

    COptionsDlg options;
    options.m_bAutoStart = options.m_bIgnoreFailures = TRUE;
    saved &= Save(options, folder, file("options"));

    CEditNamesDlg editNames;
    editNames.m_strSelection = names.at(1);
    saved &= Save(editNames, folder, file("editnames"));

    CStatisticsDlg statistics;
    statistics.m_strSuccesses = QStringLiteral("112");
    statistics.m_strHttpFailures = QStringLiteral("0");
    statistics.m_strDnsFailures = QStringLiteral("3");
    statistics.m_strSocketFailures = QStringLiteral("1");
    statistics.m_strProblemName = names.at(3);
    saved &= Save(statistics, folder, file("statistics"));

    app.m_pProfileStore = nullptr;
    return saved ? 0 : 1;
}
