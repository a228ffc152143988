// The CPE link and the line state against the simulated CPE: platform
// detection, ports, socket errors, reconnection, the polling outside a test
// and the line-state answers of both platforms.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "message.h"
#include "simcpe.h"
#include "test_support.h"

#include <QMessageBox>
#include <QTcpSocket>
#include <QtTest>

namespace {

QString address(int host)
{
    return QStringLiteral("127.0.1.%1").arg(host);
}

QStringList graph_items(Vemu &w)
{
    QStringList items;
    for (int i = 0; i < w.ui->m_liveGraphsSelection->count(); ++i)
        items << w.ui->m_liveGraphsSelection->itemText(i);
    return items;
}

// Connects the window to the simulated CPE and waits for the platform reply.
bool connect_and_detect(Vemu &w, const QString &ip)
{
    w.ui->m_Eip->setText(ip);
    w.on_m_Bconnect_clicked();
    return wait_until([&] { return !w.m_detectionPending; }, 5000);
}

QByteArray korra_state_header()
{
    return QByteArray::fromHex("000040100002000200000002");
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

    QScopedPointer<ScopedWorkFolder> m_folder;
    QScopedPointer<ModalAnswerer> m_answerer;

private slots:
    void init()
    {
        m_folder.reset(new ScopedWorkFolder);
        m_answerer.reset(new ModalAnswerer);
    }
    void cleanup()
    {
        m_answerer.reset();
        m_folder.reset();
    }
    void detection_data();
    void detection();
    void graphListFollowsPlatform();
    void fixedRequestsOnTheWire_data();
    void fixedRequestsOnTheWire();
    void portOne_data();
    void portOne();
    void refusedConnection();
    void errorTexts();
    void dropAndReconnect();
    void reconnectionGivesUp();
    void dropDuringTestResumesIt();
    void guiTimerAlternatesAndWaitsInReset();
    void korraStateMappings_data();
    void korraStateMappings();
    void legacyStateMappings();
    void dropAndShowtimeEntry();
};

void TestLink::detection_data()
{
    QTest::addColumn<int>("platform");
    QTest::addColumn<int>("replySize");
    QTest::addColumn<bool>("korra");
    QTest::newRow("legacy, 32 bytes") << int(SimCpe::Legacy) << 32 << false;
    QTest::newRow("korra, 14 bytes") << int(SimCpe::Korra) << 14 << true;
    QTest::newRow("korra, 31 bytes") << int(SimCpe::Korra) << 31 << true;
    QTest::newRow("korra, 33 bytes") << int(SimCpe::Korra) << 33 << true;
}

void TestLink::detection()
{
    QFETCH(int, platform);
    QFETCH(int, replySize);
    QFETCH(bool, korra);
    SimCpe cpe{SimCpe::Platform(platform)};
    cpe.setQueryReplySize(replySize);
    QVERIFY(cpe.start(QHostAddress(address(2))));
    Vemu w;
    w.m_korraPlatform = !korra;
    w.ui->m_Eip->setText(address(2));
    w.on_m_Bconnect_clicked();
    QVERIFY(w.m_connected);
    QCOMPARE(w.ui->m_Bconnect->text(), QString("Disconnect"));
    QVERIFY(!w.ui->m_Eip->isEnabled());
    // No Start before the platform is known: its packets would have no format.
    QVERIFY(!w.ui->m_Bstart->isEnabled());
    QVERIFY(w.m_detectionPending);
    QVERIFY(wait_until([&] { return !w.m_detectionPending; }, 5000));
    QCOMPARE(w.m_korraPlatform, korra);
    QVERIFY(w.ui->m_Bstart->isEnabled());
    QCOMPARE(w.ui->m_R_Port_1->isEnabled(), korra);
    QCOMPARE(w.ui->m_DSdatarate->isHidden(), !korra);
    QCOMPARE(w.ui->m_CRCs->isHidden(), !korra);
    QCOMPARE(w.ui->UBPO->isHidden(), !korra);
    QCOMPARE(w.minimumHeight(), korra ? 800 : 750);
    const QString log = log_text(&w);
    QVERIFY(log.contains("CPE connected (IP is: " + address(2) + ")"));
    // The first request is the platform query, exactly.
    QVERIFY(cpe.waitForRequests(1, 2000));
    QCOMPARE(cpe.requests().first().bytes.toHex(),
             QByteArray("c000400000" "0a" "000200000001") + QByteArray(40, '0'));
    QVERIFY(cpe.violations().isEmpty());

    w.on_m_Bconnect_clicked();
    QVERIFY(!w.m_connected);
    QVERIFY(w.m_detectionPending);
    QCOMPARE(w.ui->m_Bconnect->text(), QString("Connect"));
    QVERIFY(!w.ui->m_Bstart->isEnabled());
    QVERIFY(log_text(&w).endsWith("CPE disconnected "));
}

void TestLink::graphListFollowsPlatform()
{
    SimCpe cpe(SimCpe::Legacy);
    QVERIFY(cpe.start(QHostAddress(address(3))));
    Vemu w;
    const QStringList before = graph_items(w);

    QVERIFY(connect_and_detect(w, address(3)));
    QStringList legacy = before;
    legacy.removeAll("CRCs");
    legacy.removeAll("Bitswaps");
    QCOMPARE(graph_items(w), legacy);
    w.on_m_Bconnect_clicked();
    QVERIFY(connect_and_detect(w, address(3)));
    QCOMPARE(graph_items(w), legacy);

    w.on_m_Bconnect_clicked();
    cpe.setPlatform(SimCpe::Korra);
    QVERIFY(connect_and_detect(w, address(3)));
    // Both editions get the pilot-tone graph back with a Korra CPE.
    const QStringList korra{"None", "SNR", "State", "CRCs", "Bitswaps", "Net Rates",
                            "Pilot Tone Constellation"};
    QCOMPARE(graph_items(w), korra);
    w.on_m_Bconnect_clicked();
    QVERIFY(connect_and_detect(w, address(3)));
    QCOMPARE(graph_items(w), korra);
}

void TestLink::fixedRequestsOnTheWire_data()
{
    QTest::addColumn<int>("platform");
    QTest::addColumn<QByteArray>("state");
    QTest::addColumn<QByteArray>("firmware");
    QTest::newRow("korra") << int(SimCpe::Korra) << QByteArray("c00040000000000200000002")
                           << QByteArray("c00040000000360300000003");
    QTest::newRow("legacy") << int(SimCpe::Legacy)
                            << QByteArray("0001000200000000") + QByteArray(48, '0')
                            << QByteArray("0002000300360000") + QByteArray(48, '0');
}

void TestLink::fixedRequestsOnTheWire()
{
    QFETCH(int, platform);
    QFETCH(QByteArray, state);
    QFETCH(QByteArray, firmware);
    SimCpe cpe{SimCpe::Platform(platform)};
    QVERIFY(cpe.start(QHostAddress(address(4))));
    Vemu w;
    QVERIFY(connect_and_detect(w, address(4)));
    QVERIFY(cpe.waitForRequests(3, 8000));
    const QList<SimRequest> requests = cpe.requests();
    QCOMPARE(requests.at(1).bytes.toHex(), state);
    QCOMPARE(requests.at(2).bytes.toHex(), firmware);
    QVERIFY(cpe.violations().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(w.ui->m_EcpeState->text(), QString("7"), 3000);
}

void TestLink::portOne_data()
{
    QTest::addColumn<bool>("confirmed");
    QTest::newRow("confirmed") << true;
    QTest::newRow("declined") << false;
}

void TestLink::portOne()
{
    QFETCH(bool, confirmed);
    m_answerer->preferred = {confirmed ? QMessageBox::Yes : QMessageBox::No};
    SimCpe cpe(SimCpe::Korra);
    Vemu w;
    w.m_requests << new CMV(2, 5, 0, 1, ",7,", false) << new MEMORY(2, 0x100, 1, ",7,", false);
    w.ui->m_R_Port_0->setChecked(true);
    w.ui->m_EcpeState->setText("7");
    w.ui->m_R_Port_1->setChecked(true);
    QCOMPARE(m_answerer->seen.size(), 1);
    QVERIFY(m_answerer->seen.first().startsWith(
        "Warning|You are about to connect to the port 1 (Bonding CPEs). Are you sure you want to "
        "continue ?\nIf you do not know what this is, then please click on \"No\"."));
    QCOMPARE(w.ui->m_R_Port_0->isChecked(), !confirmed);
    const QString log = log_text(&w);
    // Once for port 0 at the start, once more when it is taken back.
    QCOMPARE(log.count("Port 0 is selected."), confirmed ? 1 : 2);
    QCOMPARE(log.count("Port 1 is selected."), confirmed ? 1 : 0);
    QVERIFY(log.endsWith(confirmed ? "Port 1 is selected." : "Port 0 is selected."));
    // Port 0's slot ran with false first and cleared the CPE fields.
    QVERIFY(w.ui->m_EcpeState->text().isEmpty());
    quint16 state = 7;
    bool done = true;
    for (message *request : w.m_requests)
        QCOMPARE(quint8(request->buildPacket(&done, &state).at(0)), quint8(confirmed ? 0xC1 : 0xC0));
    if (!confirmed)
        return;
    QVERIFY(cpe.start(QHostAddress(address(5))));
    QVERIFY(connect_and_detect(w, address(5)));
    QVERIFY(cpe.waitForRequests(1, 4000, [](const SimRequest &r) { return r.isStateRequest(); }));
    for (const SimRequest &r : cpe.requests()) {
        if (r.kind != SimRequest::PlatformQuery)
            QCOMPARE(int(r.port), 0xC1);
    }
}

void TestLink::refusedConnection()
{
    Vemu w;
    w.m_automationMode = 2;
    w.setEnabled(false);
    w.ui->m_Eip->setText(address(250));
    w.on_m_Bconnect_clicked();
    const QString log = log_text(&w);
    QVERIFY(log.contains("SOCKET ERROR: Server refuses the connexion, check IP and port number !"));
    QVERIFY(log.contains("Connection failure! (IP is: " + address(250) + ")"));
    QVERIFY(!w.m_connected);
    QVERIFY(w.isEnabled());
    QVERIFY(w.ui->m_Eip->isEnabled());
    QCOMPARE(w.ui->m_Bconnect->text(), QString("Connect"));
    // A refused connection never starts a reconnection.
    QVERIFY(!w.m_reconnecting);
    QVERIFY(!w.m_waitingTimer->isActive());
}

void TestLink::errorTexts()
{
    Vemu w;
    w.m_resumeAfterReconnect = true;
    w.socket_error(QAbstractSocket::HostNotFoundError);
    QVERIFY(log_text(&w).endsWith(
        "SOCKET ERROR: Server can not be found, please check IP and port number !"));
    // An error while no test runs drops a pending resume.
    QVERIFY(!w.m_resumeAfterReconnect);
    QVERIFY(!w.m_reconnecting);
    w.socket_error(QAbstractSocket::NetworkError);
    QVERIFY(log_text(&w).endsWith("SOCKET ERROR: " + w.m_socket->errorString() + "!"));
    QVERIFY(!w.m_waitingTimer->isActive());
    // While an error is being handled further errors are ignored.
    w.m_reconnecting = true;
    const QString before = log_text(&w);
    w.socket_error(QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(log_text(&w), before);
}

void TestLink::dropAndReconnect()
{
    SimCpe cpe(SimCpe::Korra);
    QVERIFY(cpe.start(QHostAddress(address(6))));
    Vemu w;
    QVERIFY(connect_and_detect(w, address(6)));
    const int before = log_text(&w).size();
    cpe.closeConnection();
    QVERIFY(wait_until([&] { return w.m_reconnecting; }, 3000));
    const QString drop = log_text(&w).mid(before);
    const int down = drop.indexOf("SOCKET ERROR: Server connection is down !");
    const int disconnected = drop.indexOf("CPE disconnected ");
    const int trying = drop.indexOf("Trying to reconnect in 5s...");
    QVERIFY(down >= 0 && down < disconnected && disconnected < trying);
    QVERIFY(!w.m_connected);
    QVERIFY(w.m_waitingTimer->isActive());

    // One attempt 5 s later finds the CPE again and detects its platform anew.
    QVERIFY(cpe.waitForConnections(2, 9000));
    QVERIFY(wait_until([&] { return w.m_connected && !w.m_detectionPending; }, 5000));
    QVERIFY(!w.m_reconnecting);
    QCOMPARE(int(w.m_reconnectAttempts), 0);
    QCOMPARE(log_text(&w).count("CPE connected (IP is: "), 2);
}

void TestLink::dropDuringTestResumesIt()
{
    SimCpe cpe(SimCpe::Korra);
    QVERIFY(cpe.start(QHostAddress(address(9))));
    Vemu w;
    w.ui->m_EinputFile->setText("script.txt");
    w.m_requests << new CMV(2, 5, 0, 2, ",7,8,9,", false);
    QVERIFY(connect_and_detect(w, address(9)));
    w.on_m_Bstart_clicked();
    QVERIFY(w.m_testRunning);
    QVERIFY(wait_until([&] { return w.m_iteration >= 2; }, 10000));

    cpe.closeConnection();
    QVERIFY(wait_until([&] { return !w.m_testRunning && w.m_resumeAfterReconnect; }, 5000));
    QVERIFY(wait_until([&] { return log_text(&w).contains("Test Stopped"); }, 5000));
    // The next detection, after the reconnection 5 s later, starts it again.
    QVERIFY(wait_until([&] { return w.m_testRunning; }, 12000));
    QVERIFY(!w.m_resumeAfterReconnect);
    QCOMPARE(log_text(&w).count("Test Started"), 2);
    const int before = cpe.requestCount([](const SimRequest &r) { return r.isCmvRead(2, 5); });
    QVERIFY(cpe.waitForRequests(before + 2, 8000, [](const SimRequest &r) { return r.isCmvRead(2, 5); }));
    QVERIFY(cpe.violations().isEmpty());
}

void TestLink::reconnectionGivesUp()
{
    SimCpe cpe(SimCpe::Korra);
    QVERIFY(cpe.start(QHostAddress(address(7))));
    Vemu w;
    QVERIFY(connect_and_detect(w, address(7)));
    cpe.stopListening();
    cpe.closeConnection();
    QVERIFY(wait_until([&] { return log_text(&w).contains("Aborting reconnection."); }, 70000));
    const QString log = log_text(&w);
    QCOMPARE(log.count("Connection failure! (IP is: " + address(7) + ")"), 10);
    QCOMPARE(log.count("Trying to reconnect in 5s..."), 10);
    QCOMPARE(log.count("Aborting reconnection."), 1);
    QVERIFY(log.endsWith("Aborting reconnection."));
    QVERIFY(!w.m_reconnecting);
    QCOMPARE(int(w.m_reconnectAttempts), 0);
    QTest::qWait(6000);
    QCOMPARE(log_text(&w).count("Connection failure!"), 10);
}

void TestLink::guiTimerAlternatesAndWaitsInReset()
{
    SimCpe cpe(SimCpe::Korra);
    QVERIFY(cpe.start(QHostAddress(address(8))));
    Vemu w;
    QVERIFY(connect_and_detect(w, address(8)));
    QVERIFY(cpe.waitForRequests(5, 12000));
    QList<SimRequest> requests = cpe.requests().mid(1, 4);
    QVERIFY(requests.at(0).isStateRequest());
    QVERIFY(requests.at(1).isFirmwareRequest());
    QVERIFY(requests.at(2).isStateRequest());
    QVERIFY(requests.at(3).isFirmwareRequest());
    // Each request follows the previous answer by the timer's 1.5 s.
    for (int i = 1; i < requests.size(); ++i)
        QVERIFY(requests.at(i).elapsedMs - requests.at(i - 1).elapsedMs >= 1400);

    cpe.setLineState(0);
    QVERIFY(wait_until([&] { return w.m_cpeState % 100 == 0; }, 5000));
    cpe.clearLog();
    QVERIFY(cpe.waitForRequests(3, 15000));
    requests = cpe.requests();
    for (const SimRequest &r : requests)
        QVERIFY(r.isStateRequest());
    QVERIFY(requests.at(2).elapsedMs - requests.at(1).elapsedMs >= 3400);
    QVERIFY(log_text(&w).contains("Critical phase detected --> waiting for 3.5 s..."));
    QVERIFY(w.ui->m_Tlog->toHtml().contains("<span style=\" font-style:italic;"));
}

void TestLink::korraStateMappings_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("held");
    QTest::newRow("showtime") << 8 << 7 << "7" << "Steady-State Tc Not Sync" << 7;
    QTest::newRow("vdsl hundred kept") << 106 << 8 << "8" << "Steady-State Tc Sync" << 108;
    QTest::newRow("pre fail held as fail") << 8 << 15 << "15" << "Pre Fail" << 2;
    QTest::newRow("pre fail under vdsl") << 107 << 15 << "15" << "Pre Fail" << 102;
    QTest::newRow("sleep") << 8 << 240 << "240" << "Sleep State" << 2;
    QTest::newRow("sleep under vdsl") << 107 << 240 << "240" << "Sleep State" << 102;
    QTest::newRow("14 is full init") << 8 << 14 << "6" << "Full Init" << 6;
    QTest::newRow("16 is ghs") << 8 << 16 << "5" << "Ghs" << 5;
    QTest::newRow("unknown") << 8 << 4 << "4" << "unknown" << 4;
}

void TestLink::korraStateMappings()
{
    QFETCH(int, before);
    QFETCH(int, word);
    QFETCH(QString, shown);
    QFETCH(QString, name);
    QFETCH(int, held);
    Vemu w;
    w.m_cpeState = w.m_previousCpeState = quint16(before);
    QByteArray header = korra_state_header();
    QByteArray payload = be_words({quint16(word), 0});
    w.handle_state_answer(header, payload);
    QVERIFY(w.m_stateAnswer);
    QCOMPARE(w.ui->m_EcpeState->text(), shown);
    QCOMPARE(w.ui->m_EcpeStateStr->text(), name);
    QCOMPARE(int(w.m_cpeState), held);
    QCOMPARE(int(w.m_previousCpeState), held);

    // Another variable, or a short header, is no state answer.
    QByteArray other = QByteArray::fromHex("000040100002010200000002");
    w.handle_state_answer(other, payload);
    QVERIFY(!w.m_stateAnswer);
    QByteArray shortHeader = korra_state_header().left(11);
    w.handle_state_answer(shortHeader, payload);
    QVERIFY(!w.m_stateAnswer);
    QCOMPARE(int(w.m_cpeState), held);
}

void TestLink::legacyStateMappings()
{
    Vemu w;
    QByteArray header = QByteArray::fromHex("0001000200000000");
    QByteArray payload = be_words({11}) + QByteArray(22, '\0');
    w.handle_legacy_state_answer(header, payload);
    QCOMPARE(w.ui->m_EcpeState->text(), QString("11"));
    QCOMPARE(w.ui->m_EcpeStateStr->text(), QString("T.1413 Activation"));
    QCOMPARE(int(w.m_cpeState), 6);
    payload = be_words({8}) + QByteArray(22, '\0');
    w.handle_legacy_state_answer(header, payload);
    QCOMPARE(w.ui->m_EcpeStateStr->text(), QString("Kestra: TC Sync"));
    QCOMPARE(int(w.m_cpeState), 8);
    // A short header reads its missing bytes as 0 and is still STAT 0.
    QByteArray shortHeader = QByteArray::fromHex("00010002");
    payload = be_words({12});
    w.handle_legacy_state_answer(shortHeader, payload);
    QVERIFY(w.m_stateAnswer);
    QCOMPARE(w.ui->m_EcpeStateStr->text(), QString("unknown"));
    QByteArray info = QByteArray::fromHex("0002000300360000");
    w.handle_legacy_state_answer(info, payload);
    QVERIFY(!w.m_stateAnswer);
}

void TestLink::dropAndShowtimeEntry()
{
    Vemu w;
    QByteArray header = korra_state_header();
    auto answer = [&](quint16 state) {
        QByteArray payload = be_words({state, 0});
        w.handle_state_answer(header, payload);
    };
    w.m_testRunning = true;
    w.m_iteration = 3;
    w.m_requestIndex = 2;

    // Showtime entry: the period is switched and requests go out as for state 9.
    w.m_cpeState = w.m_previousCpeState = 106;
    answer(7);
    QVERIFY(w.m_showtimeFlag);
    QCOMPARE(int(w.m_cpeState), 109);
    QCOMPARE(int(w.m_iteration), 4);
    QVERIFY(!w.m_linkDropped);

    // 7 and 8 are one showtime: no switch between them.
    w.m_showtimeFlag = false;
    w.m_requestIndex = 2;
    w.m_cpeState = w.m_previousCpeState = 107;
    answer(8);
    QCOMPARE(int(w.m_iteration), 4);
    answer(9);
    QCOMPARE(int(w.m_iteration), 5);

    // Leaving showtime during a test marks the link drop.
    w.m_requestIndex = 2;
    answer(0);
    QVERIFY(w.m_linkDropped);
    QCOMPARE(int(w.m_cpeState), 100);

    // Outside a test only the code follows.
    w.m_testRunning = false;
    w.m_linkDropped = false;
    w.m_cpeState = w.m_previousCpeState = 7;
    answer(0);
    QVERIFY(!w.m_linkDropped);
    QCOMPARE(int(w.m_cpeState), 0);
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
