#include "CConfigFolder.h"
#include "CSingleInstance.h"

#include <QDir>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {
using Kind = CInstanceRequest::Kind;

QByteArray ShowFrame(const QByteArray& payload, qint64 waitMs = 5000) {
    return CInstanceRequest::Encode(quint8(Kind::Show), payload,
                                    quint64(qint64(CInstanceRequest::MonotonicMs()) + waitMs));
}

} // namespace

// The single instance on real sockets in a private runtime folder: what a later start, a
// broken one and a hostile one get from the Bumple that runs.
class tst_SingleInstance : public QObject {
    Q_OBJECT
    QTemporaryDir m_runtime;
    std::unique_ptr<CSingleInstance> m_pHolder;
    int m_nCarriedOut = 0;

    CFileDescriptor Connect() const {
        const QString name =
            QDir(m_runtime.path()).entryList({QStringLiteral("*.socket")}, QDir::System).value(0);
        const QByteArray path = QFile::encodeName(m_runtime.filePath(name));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        CFileDescriptor client(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (::connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0)
            client.Close();
        return client;
    }

private slots:
    void init() {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        m_pHolder = std::make_unique<CSingleInstance>("key");
        QCOMPARE(m_pHolder->Claim(Kind::Show, {}), CSingleInstance::Outcome::First);
        m_pHolder->Listen();
        m_nCarriedOut = 0;
        connect(m_pHolder.get(), &CSingleInstance::Received, this,
                [this](CInstanceRequest* pRequest) { m_nCarriedOut += pRequest->Accept(); });
    }
    void cleanup() { m_pHolder.reset(); }

    void requestsAreBoundedAndAnswered_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("givesUp");
        QTest::addColumn<int>("answer"); // 1 carried out, 0 closed unanswered
        QTest::newRow("a request") << ShowFrame("") << false << 1;
        QTest::newRow("garbage") << QByteArray("GET / HTTP/1.0\r\n\r\n") << false << 0;
        QTest::newRow("an oversized request")
            << ShowFrame(QByteArray(CInstanceRequest::kMaxRequest + 1, 'x')) << false << 0;
        QTest::newRow("a slow request") << ShowFrame("doc").left(22) << false << 0;
        QTest::newRow("a client that gives up") << ShowFrame("") << true << 0;
        QTest::newRow("a request from the backlog of a start that gave up")
            << ShowFrame("", 0) << false << 0;
    }
    void requestsAreBoundedAndAnswered() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, givesUp);
        QFETCH(int, answer);
        CFileDescriptor client = Connect();
        QVERIFY(client.IsOpen());
        client.SendAll(bytes);
        if (givesUp)
            client.Close();
        // A request after it: once both are done, the holder has judged this one.
        CFileDescriptor after = Connect();
        after.SendAll(ShowFrame(""));
        QTRY_VERIFY(m_nCarriedOut > 0 && m_pHolder->findChildren<CInstanceRequest*>().isEmpty());
        QCOMPARE(m_nCarriedOut, answer + 1);
        char reply[64] = {};
        if (!givesUp && client.Poll(POLLIN, 0) > 0 && client.ReadSome(reply, sizeof reply) > 0)
            QCOMPARE(int(reply[5]), answer);
        else
            QVERIFY(givesUp || answer == 0);
    }

    // Out of descriptors the listener rests instead of spinning, and takes the start later.
    void descriptorsRunOut() {
        CFileDescriptor client = Connect();
        rlimit saved{};
        getrlimit(RLIMIT_NOFILE, &saved);
        const int lowestFree = dup(0);
        close(lowestFree);
        rlimit none = saved;
        none.rlim_cur = rlim_t(lowestFree);
        setrlimit(RLIMIT_NOFILE, &none);
        auto* pListener = m_pHolder->findChild<QSocketNotifier*>();
        QTRY_VERIFY(!pListener->isEnabled());
        setrlimit(RLIMIT_NOFILE, &saved);
        client.SendAll(ShowFrame(""));
        QTRY_COMPARE(m_nCarriedOut, 1);
    }

    void keyFollowsTheDisplay_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("one"); // the environment's display|the -display option
        QTest::addColumn<QString>("other");
        QTest::addColumn<bool>("same");
        const auto row = [](const char* name, const char* platform, const char* one,
                            const char* other, bool same) {
            QTest::newRow(name) << QString(platform) << QString(one) << QString(other) << same;
        };
        row(":N.0 is :N", "xcb", ":7.0|", ":7|", true);
        row("unix:N is :N", "xcb", "unix:7|", ":7|", true);
        row("-display counts", "xcb", ":7|:8", ":7|", false);
        row("-display wins", "xcb", ":7|:8.0", ":8|", true);
        row("another host", "xcb", "far:7|", ":7|", false);
        row("a Wayland name is its path", "wayland", "wayland-1|", "%R/wayland-1|", true);
    }
    void keyFollowsTheDisplay() {
        QFETCH(QString, platform);
        QFETCH(QString, one);
        QFETCH(QString, other);
        QFETCH(bool, same);
        const auto key = [&](QString display) {
            display.replace(QLatin1String("%R"), m_runtime.path());
            qputenv(platform == QLatin1String("xcb") ? "DISPLAY" : "WAYLAND_DISPLAY",
                    display.section(QLatin1Char('|'), 0, 0).toUtf8());
            return CSingleInstance::Key(QFile::encodeName(m_runtime.path()), platform,
                                        display.section(QLatin1Char('|'), 1).toUtf8());
        };
        QCOMPARE(key(one) == key(other), same);
    }

    // A folder named through a link before it exists is the folder named by its real path,
    // and asking for the key makes nothing.
    void keyFollowsTheFolder() {
        const QString real = m_runtime.filePath(QStringLiteral("real/settings"));
        const QString link = m_runtime.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(real, link));
        const auto key = [](const QString& folder) {
            return CSingleInstance::Key(CConfigFolder::RealPath(QFile::encodeName(folder)), {}, {});
        };
        const QByteArray throughLink = key(link);
        QVERIFY(!QFileInfo::exists(m_runtime.filePath(QStringLiteral("real"))));
        QVERIFY(QDir().mkpath(real));
        QCOMPARE(throughLink, key(real));
        QCOMPARE(throughLink, key(link));
    }
};

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
