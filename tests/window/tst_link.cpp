// The CPE link, its reconnection and the line state, against the simulated CPE.

#include "rig.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"

#include <QMessageBox>
#include <QTcpSocket>
#include <QtTest>

namespace {

// A timer the window armed fires now, as at the end of its wait.
bool tick(QTimer *timer)
{
    const bool armed = timer->isActive();
    timer->stop();
    return armed && QMetaObject::invokeMethod(timer, "timeout");
}

// The CPE closes the link: the error, the disconnection and a reconnection in 5 s; a test it stopped ends after
// the link has gone, with Start off.
bool drop(Rig &rig, bool inTest)
{
    Vemu &w = *rig.window;
    const int from = rig.logEntries().size();
    // Going down empties every field the CPE filled: all line edits but the user's inputs and the ETR.
    const QStringList kept{"m_Eip", "m_EinputFile", "m_EsymbolFile", "m_EoutputFile", "m_GuiAutomation", "m_EETR"};
    const QList<QLineEdit *> fields = w.findChildren<QLineEdit *>(QRegularExpression("^m_"));
    for (QLineEdit *e : fields)
        e->setText(kept.contains(e->objectName()) && e != w.ui->m_EETR ? e->text() : "x");
    w.m_graphData->t0 = 1, w.m_wrongAnswers = 3;
    const auto cleared = [&] {
        return w.m_detectionPending && w.m_wrongAnswers == 0 && w.m_graphData->t0 < 0
               && !w.m_guiTimer->isActive() && w.ui->m_Eip->isEnabled() && w.ui->m_EETR->text() == "x"
               && std::all_of(fields.begin(), fields.end(), [&](QLineEdit *e) { return kept.contains(e->objectName()) != e->text().isEmpty(); });
    };
    rig.cpe.closeConnection();
    const QStringList lines{"red|S|SOCKET ERROR: Server connection is down !", "green|S|CPE disconnected",
                            "chocolate|S|Trying to reconnect in 5s..."};
    return wait_until([&] { return w.m_reconnecting && !w.m_connected; }, 5000) && cleared() && rig.logEntries().mid(from, 3) == lines
           && w.m_waitingTimer->interval() == 5000 && w.m_resumeAfterReconnect == inTest && tick(w.m_stopTimer) == inTest
           && rig.stopped() && !w.ui->m_Bstart->isEnabled() && w.ui->m_Bconnect->text() == "Connect";
}

// The link stands again (the CPE checks that each began with the platform query), the window follows the platform
// (both editions offer the pilot-tone graph with a Korra CPE), no reconnection is left, a stopped test runs again.
bool back(Rig &rig, bool inTest, bool korra)
{
    Vemu &w = *rig.window;
    if (!wait_until([&] { return rig.detected() && w.m_testRunning == inTest; }, 8000))
        return false;
    QStringList graphs;
    for (int i = 0; i < w.ui->m_liveGraphsSelection->count(); ++i)
        graphs << w.ui->m_liveGraphsSelection->itemText(i);
    const QStringList all{"None", "SNR", "State", "CRCs", "Bitswaps", "Net Rates", "Pilot Tone Constellation"};
    const QStringList legacy = QStringList{"None", "SNR", "State", "Net Rates"} + all.mid(graphs.contains(all[6]) ? 6 : 7);
    const auto cntr = [](const SimRequest &r) { return r.isCmvRead(10, 35); };
    return w.m_korraPlatform == korra && graphs == (korra ? all : legacy) && w.ui->m_CRCs->isHidden() != korra
           && (inTest || w.ui->m_R_Port_1->isEnabled() == korra) && w.ui->m_Bstart->isEnabled() && !w.m_reconnecting
           && rig.cpe.violations().isEmpty() && w.m_reconnectAttempts == 0 && !w.m_waitingTimer->isActive()
           && (!inTest || rig.cpe.waitForRequests(rig.cpe.requestCount(cntr) + 2, 8000, cntr));
}

} // namespace

class TestLink : public QObject
{
    Q_OBJECT

private slots:
    void link_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("mode");           // automation mode
        QTest::addColumn<bool>("inTest");        // a test runs when the link goes
        // The CPE before and after the drop: L legacy, K Korra, replying 31 bytes to the platform query, then 33.
        QTest::addColumn<QString>("platforms");
        QTest::addColumn<bool>("port1");         // chosen at start-up, confirmed
        QTest::newRow("CPE closes, idle") << "close" << 0 << false << "LL" << false;
        QTest::newRow("CPE closes, test resumed") << "close" << 0 << true << "KK" << true;
        QTest::newRow("CPE replaced, endless run resumed") << "close" << 2 << true << "LK" << false;
        QTest::newRow("CPE replaced, idle") << "close" << 0 << false << "KL" << false;
        QTest::newRow("ten failed attempts, test") << "give-up" << 0 << true << "LL" << false;
        QTest::newRow("link made by hand, idle") << "by hand" << 0 << false << "KK" << false;
        QTest::newRow("link made by hand, test resumed") << "by hand" << 0 << true << "LL" << false;
        QTest::newRow("link made by hand, endless run") << "by hand" << 2 << true << "KK" << false;
        QTest::newRow("port 1 declined, test resumed") << "declined" << 0 << true << "KK" << true;
        QTest::newRow("refused") << "refused" << 0 << false << "KK" << false;
        QTest::newRow("refused, unattended") << "refused" << 1 << false << "KK" << false;
    }

    void link()
    {
        QFETCH(QString, fault);
        QFETCH(int, mode);
        QFETCH(bool, inTest);
        QFETCH(QString, platforms);
        QFETCH(bool, port1);
        Rig rig{platforms[0] == 'K' ? SimCpe::Korra : SimCpe::Legacy};
        rig.cpe.setQueryReplySize(31);
        rig.folder.writeFile("script.txt", "cr CNTR 35 0 2\n");
        if (fault == "refused")
            rig.ip = "127.1.0.1";   // nothing listens there, nor does another test's CPE (a stopped one's address is free)
        rig.writeIni(QString("polling_time=0\noutput_file=out\ninput_file=script.txt\nautomation=%1\nport_ID=%2\n")
                         .arg(mode).arg(port1));
        if (fault == "declined")
            rig.answerer.preferred = {QMessageBox::No};
        QVERIFY(rig.open(mode == 0 && fault != "refused"));
        Vemu &w = *rig.window;
        if (fault == "declined") {
            // Port 0 stays, logged once; its slot empties the CPE fields whether it is checked or not.
            QVERIFY(w.ui->m_R_Port_0->isChecked() && rig.log().count("Port 0 is selected.") == 1 && !rig.log().contains("Port 1"));
            const QList<QLineEdit *> cpe{w.ui->m_Efirmware, w.ui->m_Eplateform, w.ui->m_EdslMode, w.ui->m_EcpeState, w.ui->m_EcpeStateStr};
            for (bool checked : {false, true}) {
                for (QLineEdit *e : cpe + QList<QLineEdit *>{w.ui->m_Eiteration})
                    e->setText("x");
                w.on_m_R_Port_0_toggled(checked);
                QVERIFY(w.ui->m_Eiteration->text() == "x" && std::all_of(cpe.begin(), cpe.end(), [](QLineEdit *e) { return e->text().isEmpty(); }));
            }
            // Declined again once the script is read: its requests go back to port 0.
            w.m_requests.first()->set_port(0xC1);
            const int from = rig.logEntries().size();
            w.ui->m_R_Port_1->setChecked(true);
            QVERIFY(w.ui->m_R_Port_0->isChecked() && rig.answerer.seen.size() == 2);
            QCOMPARE(rig.logEntries().mid(from), QStringList{"purple|S|Port 0 is selected."});
            rig.answerer.preferred = {QMessageBox::Yes};   // and a test without symbols, yes
        }
        if (fault == "refused") {
            if (mode == 0)
                w.on_m_Bconnect_clicked();
            w.socket_error(QAbstractSocket::HostNotFoundError);   // the texts of the other errors
            w.socket_error(QAbstractSocket::NetworkError);
            QCOMPARE(rig.logEntries().mid(rig.logEntries().size() - 4),
                     QStringList({"red|S|SOCKET ERROR: Server refuses the connexion, check IP and port number !",
                                  "red|S|Connection failure! (IP is: " + rig.ip + ")",
                                  "red|S|SOCKET ERROR: Server can not be found, please check IP and port number !",
                                  "red|S|SOCKET ERROR: " + w.m_socket->errorString() + "!"}));
            QVERIFY(!w.m_connected && w.isEnabled() && w.ui->m_Eip->isEnabled() && !w.ui->m_Bstart->isEnabled());
            QVERIFY(w.ui->m_Bconnect->text() == "Connect" && !w.m_reconnecting && !w.m_waitingTimer->isActive());
            return;
        }
        if (mode == 0 && inTest)
            w.on_m_Bstart_clicked();
        QVERIFY(back(rig, inTest, platforms[0] == 'K'));
        rig.cpe.setPlatform(platforms[1] == 'K' ? SimCpe::Korra : SimCpe::Legacy);
        rig.cpe.setQueryReplySize(33);
        w.m_resumeAfterReconnect = !inTest;   // the drop clears a resume pending while no test runs
        QVERIFY(drop(rig, inTest));
        if (fault == "give-up") {
            w.ui->m_Eip->setText("127.1.0.1");   // the CPE is gone
            for (int attempt = 1; attempt <= 10; ++attempt)
                QVERIFY(tick(w.m_waitingTimer) && w.m_waitingTimer->interval() == (attempt < 10 ? 5000 : 5));
            QVERIFY(tick(w.m_waitingTimer) && !w.m_reconnecting && !w.m_waitingTimer->isActive());
            const QString log = rig.log();   // the attempts' own errors are not reported
            QVERIFY(log.count("Connection failure!") == 10 && log.count("reconnect in 5s") == 10 && log.count("SOCKET") == 1);
            QVERIFY(rig.logEntries().last() == "blue|S|Aborting reconnection." && !w.ui->m_Bstart->isEnabled());
            w.ui->m_Eip->setText(rig.ip);   // back: a Connect by hand still resumes the test
        }
        QVERIFY(fault == "close" ? tick(w.m_waitingTimer) : (w.on_m_Bconnect_clicked(), true));   // or by hand
        QVERIFY(w.ui->m_Bconnect->text() == "Disconnect" && !w.ui->m_Bstart->isEnabled());   // no Start before the platform
        QVERIFY(back(rig, inTest, platforms[1] == 'K'));
        if (fault == "by hand") {
            // A drop before the next tick starts a reconnection of its own; a tick that finds the link up touches nothing.
            QVERIFY(drop(rig, inTest));
            w.on_m_Bconnect_clicked();
            QVERIFY(back(rig, inTest, platforms[1] == 'K'));
            const QString before = rig.log();
            w.waitingTimer();
            QVERIFY(rig.log() == before && back(rig, inTest, platforms[1] == 'K'));
        }
        for (const SimRequest &r : rig.cpe.requests())   // the port goes with every request, the fixed ones too
            QVERIFY(r.kind == SimRequest::PlatformQuery || !r.korra || r.port == (port1 && fault != "declined" ? 0xC1 : 0xC0));
    }

    void pollingOutsideTest()
    {
        Rig rig;
        // Until the platform is known nothing but its query goes out, whatever the polling's ticks.
        rig.cpe.answerSlowly(2500, 1, [](const SimRequest &r) { return r.kind == SimRequest::PlatformQuery; });
        QVERIFY(rig.open(false));
        Vemu &w = *rig.window;
        w.on_m_Bconnect_clicked();
        for (int i = 0; i < 3; ++i)
            w.gui_timer();
        QVERIFY(wait_until([&] { return rig.detected(); }, 10000) && rig.cpe.answers().value(0).requestSeq == 0);
        for (const SimRequest &r : rig.cpe.requests())
            QVERIFY(r.elapsedMs > rig.cpe.answers().at(0).elapsedMs || r.kind == SimRequest::PlatformQuery);
        // State and firmware reads alternate, each at least 1.5 s after the answer before it.
        QVERIFY(rig.cpe.waitForRequests(4, 12000) && rig.wire().left(4) == "?sfs" && rig.cpe.requests().at(2).count == 3);
        for (const SimAnswer &a : rig.cpe.answers())
            QVERIFY(a.requestSeq >= 3 || rig.cpe.requests().at(a.requestSeq + 1).elapsedMs - a.elapsedMs >= 1500);
        rig.cpe.setLineState(0);   // in Reset the firmware tick sends nothing, and re-arms the 1.5 s timer after its wait
        QVERIFY(wait_until([&] { return w.m_cpeState == 0 && w.m_guiToggle && w.m_guiTimer->isActive(); }, 8000));
        const int sent = rig.cpe.requests().size();
        QVERIFY(tick(w.m_guiTimer) && w.m_guiTimer->interval() == 1500);
        QCOMPARE(rig.logEntries().last(), QString("blue|S|Critical phase detected --> waiting for 3.5 s..."));
        QVERIFY(tick(w.m_guiTimer) && rig.cpe.waitForRequests(sent + 1, 5000) && rig.wire().mid(sent) == "s");
        // No wait of the window may end early: every timer of its own is precise.
        const QList<QTimer *> timers = w.findChildren<QTimer *>(QString(), Qt::FindDirectChildrenOnly);
        QVERIFY(timers.size() >= 6
                && std::all_of(timers.begin(), timers.end(), [](QTimer *t) { return t->timerType() == Qt::PreciseTimer; }));
    }

    void stateAnswers_data()
    {
        // platform, code held, state word, then "run": a test in period 3, list under way, or "tick": the polling's
        // next tick, which would read the firmware
        QTest::addColumn<QString>("answer");
        // shown=held, d link drop, s showtime entry, + switched, ! no state answer; w critical wait, f firmware read
        QTest::addColumn<QString>("result");
        const char *korra[] = {"Reset", "Ready", "Fail", "Diag Complete", "unknown", "Ghs", "Full Init", "Steady-State Tc Not Sync",
                               "Steady-State Tc Sync", "Diagnostic Mode", "unknown", "unknown", "SELT Mode", "SELT Complete"};
        const char *legacy[] = {"Reset", "Ready", "Fail", "Idle", "Reserved", "Ghs", "Full Init", "Showtime", "Kestra: TC Sync",
                                "Diagnostic Mode", "Short Initialization", "", "unknown", "unknown"};
        for (int n = 0; n < 14; ++n) {   // only the hundreds of the code held stay
            const int vdsl = n % 2 * 100;
            QTest::addRow("korra %d", n) << QString("K %1 %2").arg(vdsl + 50).arg(n) << QString("%1|%2=%3").arg(n).arg(korra[n]).arg(vdsl + n);
            if (n != 11)
                QTest::addRow("legacy %d", n) << QString("L 107 %1").arg(n) << QString("%1|%2=%1").arg(n).arg(legacy[n]);
        }
        QTest::newRow("vdsl hundred kept") << "K 106 8" << "8|Steady-State Tc Sync=108";
        QTest::newRow("pre fail held as fail") << "K 107 15" << "15|Pre Fail=102";
        QTest::newRow("sleep under vdsl") << "K 107 240" << "240|Sleep State=102";
        QTest::newRow("14 is full init") << "K 8 14" << "6|Full Init=6";
        QTest::newRow("showtime entry") << "K 106 7 run" << "7|Steady-State Tc Not Sync=109s+";
        QTest::newRow("7 to 8 is one showtime") << "K 107 8 run" << "8|Steady-State Tc Sync=108";
        QTest::newRow("7 to 9 switches") << "K 107 9 run" << "9|Diagnostic Mode=109+";
        QTest::newRow("drop") << "K 109 0 run" << "0|Reset=100d+";
        QTest::newRow("drop outside a test") << "K 7 0" << "0|Reset=0";
        QTest::newRow("legacy 11 held as 6") << "L 8 11" << "11|T.1413 Activation=6";
        QTest::newRow("legacy showtime entry") << "L 6 7 run" << "7|Showtime=9s+";
        QTest::newRow("legacy drop") << "L 9 0 run" << "0|Reset=0d+";
        QTest::newRow("16 is ghs") << "K 8 16" << "5|Ghs=5";
        QTest::newRow("vdsl 14") << "K 109 14" << "6|Full Init=106";
        QTest::newRow("vdsl 16") << "K 150 16" << "5|Ghs=105";
        QTest::newRow("unknown korra") << "K 108 17" << "17|unknown=117";
        QTest::newRow("vdsl reset waits") << "K 108 0 tick" << "0|Reset=100w";
        QTest::newRow("fail waits") << "K 7 2 tick" << "2|Fail=2w";
        QTest::newRow("pre fail waits") << "K 7 15 tick" << "15|Pre Fail=2w";
        QTest::newRow("sleep waits") << "K 7 240 tick" << "240|Sleep State=2w";
        QTest::newRow("showtime reads the firmware") << "K 6 8 tick" << "8|Steady-State Tc Sync=8f";
        QTest::newRow("ready reads the firmware") << "K 100 1 tick" << "1|Ready=101f";
        QTest::newRow("legacy reset waits") << "L 9 0 tick" << "0|Reset=0w";
        QTest::newRow("legacy fail waits") << "L 9 2 tick" << "2|Fail=2w";
        QTest::newRow("legacy 15 reads the firmware") << "L 9 15 tick" << "15|unknown=15f";
    }

    void stateAnswers()
    {
        QFETCH(QString, answer);
        QFETCH(QString, result);
        const QStringList in = answer.split(' ');
        Rig rig;
        QVERIFY(rig.open(false));
        Vemu &w = *rig.window;
        w.m_korraPlatform = in[0] == "K";
        w.m_testRunning = in.value(3) == "run";
        w.m_iteration = 3;
        w.m_requestIndex = 2;
        w.m_cpeState = w.m_previousCpeState = quint16(in[1].toInt());
        QByteArray header = QByteArray::fromHex(w.m_korraPlatform ? "000040100002000200000002" : "0001000200000000");
        QByteArray payload = be_words({quint16(in[2].toInt()), 0}) + QByteArray(20, '\0');
        w.m_korraPlatform ? w.handle_state_answer(header, payload) : w.handle_legacy_state_answer(header, payload);
        QString polled;
        if (in.value(3) == "tick") {   // the tick after the state read, as the timer would run it
            w.m_detectionPending = false, w.m_guiToggle = true, w.m_lastRequest.clear();
            QElapsedTimer clock;
            clock.start();
            w.gui_timer();
            polled = QString(rig.logEntries().last() == "blue|S|Critical phase detected --> waiting for 3.5 s..." && clock.elapsed() >= 2000
                             && w.m_guiTimer->isActive() && w.m_guiTimer->interval() == 1500 ? "w" : "")
                     + (w.m_lastRequest.isEmpty() ? "" : w.m_lastRequest.size() == (w.m_korraPlatform ? 12 : 32) ? "f" : "?");
        }
        QCOMPARE(w.ui->m_EcpeState->text() + "|" + w.ui->m_EcpeStateStr->text() + "=" + QString::number(w.m_cpeState)
                     + (w.m_linkDropped ? "d" : "") + (w.m_showtimeFlag ? "s" : "") + (w.m_iteration == 4 ? "+" : "")
                     + (w.m_stateAnswer && w.m_previousCpeState == w.m_cpeState ? "" : "!") + polled, result);
    }
};

QTEST_MAIN(TestLink)
#include "tst_link.moc"
