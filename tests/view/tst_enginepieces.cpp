#include "CBumpleView.h"

#include <QTest>

// The pure pieces of the engine: period conversion, countdown text, request bytes.
class TestEnginePieces : public QObject {
    Q_OBJECT
private slots:
    void periodSeconds_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("debug");
        QTest::addColumn<int>("seconds"); // -1: rejected
        QTest::newRow("1") << "1" << 0 << 60;
        QTest::newRow("2.5") << "2.5" << 0 << 150;
        QTest::newRow("1.3 single precision") << "1.3" << 0 << 77;
        QTest::newRow("60.9") << "60.9" << 0 << 3654;
        QTest::newRow("60.5") << "60.5" << 0 << 3630;
        QTest::newRow("blanks and letters") << "  7 min" << 0 << 420;
        QTest::newRow("+3") << "+3" << 0 << 180;
        QTest::newRow("1e1") << "1e1" << 0 << 600;
        QTest::newRow("exponent without digits") << "2e" << 0 << 120;
        QTest::newRow("0.5") << "0.5" << 0 << -1;
        QTest::newRow("61") << "61" << 0 << -1;
        QTest::newRow("empty") << "" << 0 << -1;
        QTest::newRow("abc") << "abc" << 0 << -1;
        QTest::newRow("1e9") << "1e9" << 0 << -1;
        QTest::newRow("1e99") << "1e99" << 0 << -1;
        QTest::newRow("-5") << "-5" << 0 << -1;
        QTest::newRow("nan") << "nan" << 0 << -1;
        QTest::newRow("inf") << "inf" << 0 << -1;
        QTest::newRow("0x10") << "0x10" << 0 << -1;
        QTest::newRow("percent") << "%s%n" << 0 << -1;
        QTest::newRow("debug 0") << "0" << 1 << 15;
        QTest::newRow("debug 999") << "999" << 1 << 15;
        QTest::newRow("debug abc") << "abc" << 1 << 15;
    }
    void periodSeconds() {
        QFETCH(QString, text);
        QFETCH(int, debug);
        QFETCH(int, seconds);
        int result = -1;
        const bool accepted = CBumpleView::PeriodSeconds(text, debug, &result);
        QCOMPARE(accepted, seconds >= 0);
        if (accepted)
            QCOMPARE(result, seconds);
    }

    void timeLeft_data() {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("303") << 303 << " 5:03";
        QTest::newRow("59") << 59 << " 0:59";
        QTest::newRow("1") << 1 << " 0:01";
        QTest::newRow("3600") << 3600 << "60:00";
        QTest::newRow("3599") << 3599 << "59:59";
        QTest::newRow("610") << 610 << "10:10";
    }
    void timeLeft() {
        QFETCH(int, seconds);
        QFETCH(QString, text);
        QCOMPARE(CBumpleView::FormatTimeLeft(seconds), text);
    }

    void requestBytes() {
        const QByteArray request = CBumpleView::ProbeRequest(QStringLiteral("10.0.0.5"));
        QCOMPARE(request.size(), 130);
        QCOMPARE(request, QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\nUser-Agent: "
                                     "Mozilla/3.0 (Win95; I)\r\nHost: 10.0.0.5\r\nAccept: "
                                     "image/gif, image/jpeg, */*\r\n\r\n"));
        QCOMPARE(request.indexOf("Host: 10.0.0.5\r\n"), 76);
        QCOMPARE(CBumpleView::ProbeRequest(QString()).size(), 122);
    }
};

QTEST_APPLESS_MAIN(TestEnginePieces)
#include "tst_enginepieces.moc"
