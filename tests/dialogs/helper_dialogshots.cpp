// Saves a picture of each dialog with representative contents, for the documentation:
// helper_dialogshots <folder>. Run it on a real display so fonts render as on a desktop.

#include "CAboutDlg.h"
#include "CBumpleApp.h"
#include "CBumpleView.h"
#include "CEditNamesDlg.h"
#include "CFrameWnd.h"
#include "COptionsDlg.h"
#include "CProfileStore.h"
#include "CRegistry.h"
#include "CStatisticsDlg.h"

#include <QApplication>
#include <QDir>
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
    QTemporaryDir config;
    qputenv("BUMPLE_CONFIG_DIR", config.path().toUtf8());

    CBumpleApp app;
    CProfileStore store;
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    if (store.SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE,
                     QStringLiteral("Software\\Quellmoor Software\\Bumple")))
        CRegistry::RegCloseKey(hKey);
    app.m_pProfileStore = &store;
    const QStringList names = {"www.example.com", "dialup.quellmoor.example", "192.0.2.80",
                               "news.example.org", "mail.example.net"};
    for (int i = 0; i < names.size(); ++i)
        store.WriteProfileString("Settings", QStringLiteral("ComboName%1").arg(i), names.at(i));

    CFrameWnd frame;
    auto* pView = new CBumpleView(&frame);
    frame.setCentralWidget(pView);
    frame.SetActiveView(pView);
    pView->LoadNameList();

    bool saved = true;
    CAboutDlg about;
    about.m_strAddress = QStringLiteral("192.0.2.17");
    about.m_strUptime = CAboutDlg::UptimeText(47 * 60 * 1000, 0);
    saved &= Save(about, folder, QStringLiteral("about.png"));

    COptionsDlg options;
    options.m_bAutoStart = options.m_bIgnoreFailures = TRUE;
    saved &= Save(options, folder, QStringLiteral("options.png"));

    CEditNamesDlg editNames;
    editNames.m_strSelection = names.at(1);
    saved &= Save(editNames, folder, QStringLiteral("editnames.png"));

    CStatisticsDlg statistics;
    statistics.m_strSuccesses = QStringLiteral("112");
    statistics.m_strHttpFailures = QStringLiteral("0");
    statistics.m_strDnsFailures = QStringLiteral("3");
    statistics.m_strSocketFailures = QStringLiteral("1");
    statistics.m_strProblemName = names.at(3);
    saved &= Save(statistics, folder, QStringLiteral("statistics.png"));

    app.m_pProfileStore = nullptr;
    return saved ? 0 : 1;
}
