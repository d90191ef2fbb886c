#include "CViewFixture.h"

#include "CBumpleView.h"
#include "CMainFrame.h"
#include "CProfileStore.h"
#include "CRegistry.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QTest>

CViewFixture::CViewFixture(const QStringList& settings) {
    qputenv("BUMPLE_CONFIG_DIR", m_dir.path().toUtf8());
    QFile hive(m_dir.filePath(QStringLiteral("registry.reg")));
    if (!settings.isEmpty() && hive.open(QIODevice::WriteOnly)) {
        hive.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple]\n\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Quellmoor Software\\Bumple\\Settings]\n");
        for (const QString& line : settings)
            hive.write(line.toUtf8() + '\n');
        hive.close();
    }
    m_pStore = std::make_unique<CProfileStore>();
    HKEY hKey = nullptr;
    DWORD disposition = 0;
    if (m_pStore->SetKey(&hKey, &disposition, HKEY_LOCAL_MACHINE,
                         QStringLiteral("Software\\Quellmoor Software\\Bumple")))
        CRegistry::RegCloseKey(hKey);
    m_app.m_pProfileStore = m_pStore.get();
    CPlatform::Install(&m_sockets, &m_tray, &m_framework);
}

CViewFixture::~CViewFixture() {
    m_pFrame.reset();
    Pump();
    m_app.m_pProfileStore = nullptr;
    CPlatform::Install(nullptr, nullptr, nullptr);
}

CBumpleView* CViewFixture::Create() {
    m_pFrame = std::make_unique<CMainFrame>();
    m_pView = new CBumpleView(m_pFrame.get());
    m_pFrame->setCentralWidget(m_pView);
    m_pFrame->SetActiveView(m_pView);
    QObject::connect(m_pView, &CBumpleView::StatusChanged,
                     [this](const QString& text) { m_statusLog.append(text); });
    m_pView->OnInitialUpdate();
    return m_pView;
}

void CViewFixture::Pump() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::sendPostedEvents();
}

void CViewFixture::Tick(int count) {
    for (int i = 0; i < count; ++i) {
        m_pView->OnTimer(101);
        Pump();
    }
}

QString CViewFixture::HiveText() const {
    QFile hive(m_dir.filePath(QStringLiteral("registry.reg")));
    return hive.open(QIODevice::ReadOnly) ? QString::fromUtf8(hive.readAll()) : QString();
}

QString CViewFixture::Setting(const QString& name) const {
    return m_pStore->GetProfileString(QStringLiteral("Settings"), name,
                                      QStringLiteral("<missing>"));
}

QString CViewFixture::Status() const {
    return m_pView->m_staticStatus->text();
}
