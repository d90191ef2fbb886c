#include "CViewFixture.h"

#include "CBumpleView.h"
#include "CMainFrame.h"
#include "CProfileStore.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

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
    m_pStore->OpenApplicationKey();
    m_app.m_pProfileStore = m_pStore.get();
    m_twins.emplace(&m_sockets, &m_tray, &m_framework);
    m_linksTwin.emplace(&m_links);
    m_notifierTwin.emplace(&m_notifier);
}

CViewFixture::~CViewFixture() {
    m_pFrame.reset();
    Pump();
    m_app.m_pProfileStore = nullptr;
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

std::unique_ptr<CViewFixture> CViewFixture::OnRealSockets(const QStringList& names, int ignore) {
    QStringList settings = {QStringLiteral("\"AutoStart\"=\"0\""),
                            QStringLiteral("\"Often\"=\"1\""),
                            QStringLiteral("\"Ignore\"=\"%1\"").arg(ignore)};
    for (int i = 0; i < names.size(); ++i)
        settings.append(QStringLiteral("\"ComboName%1\"=\"%2\"").arg(i).arg(names[i]));
    auto f = std::make_unique<CViewFixture>(settings);
    f->m_realSockets.emplace(nullptr, &f->m_tray, &f->m_framework);
    f->Create();
    return f;
}

bool CViewFixture::StartAndArm() {
    m_pView->OnStartOrApply();
    return QTest::qWaitFor([this] { return m_pView->m_staticNextLabel->isEnabled(); }, 10000);
}

bool CViewFixture::WaitFor(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    QTimer wake;
    wake.start(20);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
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

int CViewFixture::OpenDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

long CViewFixture::ResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
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
