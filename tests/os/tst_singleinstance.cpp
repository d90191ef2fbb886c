#include "CSingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
using Kind = CInstanceRequest::Kind;

QByteArray ShowFrame(const QByteArray& payload, qint64 waitMs = 5000) {
    return CInstanceRequest::Encode(quint8(Kind::Show), payload,
                                    quint64(qint64(CInstanceRequest::MonotonicMs()) + waitMs));
}

// What the holder, served by this thread's event loop, sent back within 5 s: the answer's
// type, 0 for a connection closed unanswered, -1 for nothing.
int AnswerType(const CFileDescriptor& client) {
    QByteArray received;
    char buffer[4096];
    for (QDeadlineTimer bound(5000); !bound.hasExpired();) {
        bool bad = false;
        if (const auto frame =
                CInstanceRequest::Decode(received, CInstanceRequest::kMaxAnswer, bad))
            return frame->type;
        if (client.Poll(POLLIN, 0) <= 0) {
            QTest::qWait(10);
            continue;
        }
        const ssize_t n = client.ReadSome(buffer, sizeof buffer);
        if (bad || n <= 0)
            return n == 0 || errno == ECONNRESET ? 0 : -1;
        received.append(buffer, n);
    }
    return -1;
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
        else
            QCOMPARE(AnswerType(client), answer);
        QTRY_VERIFY(m_pHolder->findChildren<CInstanceRequest*>().isEmpty());
        QCOMPARE(m_nCarriedOut, answer);
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
        QCOMPARE(AnswerType(client), 1);
        QCOMPARE(m_nCarriedOut, 1);
    }

    void keyFollowsTheDisplay_data() {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QStringList>("one"); // environment's display, -display option
        QTest::addColumn<QStringList>("other");
        QTest::addColumn<bool>("same");
        const QString wayland = QStringLiteral("wayland");
        const QString xcb = QStringLiteral("xcb");
        QTest::newRow(":N.0 is :N")
            << xcb << QStringList{":7.0", ""} << QStringList{":7", ""} << true;
        QTest::newRow("unix:N is :N")
            << xcb << QStringList{"unix:7", ""} << QStringList{":7", ""} << true;
        QTest::newRow("-display counts")
            << xcb << QStringList{":7", ":8"} << QStringList{":7", ""} << false;
        QTest::newRow("-display wins")
            << xcb << QStringList{":7", ":8.0"} << QStringList{":8", ""} << true;
        QTest::newRow("another host")
            << xcb << QStringList{"far:7", ""} << QStringList{":7", ""} << false;
        QTest::newRow("a Wayland name is its path")
            << wayland << QStringList{"wayland-1", ""} << QStringList{"%R/wayland-1", ""} << true;
    }
    void keyFollowsTheDisplay() {
        QFETCH(QString, platform);
        QFETCH(QStringList, one);
        QFETCH(QStringList, other);
        QFETCH(bool, same);
        const auto key = [&](const QStringList& display) {
            qputenv(platform == QLatin1String("xcb") ? "DISPLAY" : "WAYLAND_DISPLAY",
                    QString(display[0]).replace(QLatin1String("%R"), m_runtime.path()).toUtf8());
            return CSingleInstance::Key(QFile::encodeName(m_runtime.path()), platform,
                                        display[1].toUtf8());
        };
        QCOMPARE(key(one) == key(other), same);
    }

    // A folder named through a link before it exists is the folder named by its real path.
    void keyFollowsTheFolder() {
        const QString real = m_runtime.filePath(QStringLiteral("real/settings"));
        const QString link = m_runtime.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(real, link));
        const QByteArray throughLink = CSingleInstance::Key(QFile::encodeName(link), {}, {});
        QVERIFY(QFileInfo(real).isDir());
        QCOMPARE(throughLink, CSingleInstance::Key(QFile::encodeName(real), {}, {}));
    }
};

QTEST_GUILESS_MAIN(tst_SingleInstance)
#include "tst_singleinstance.moc"
