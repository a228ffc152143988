// The polling cycle end to end against the simulated CPE: Start and Stop,
// the request sequence on the wire, periods, skipped requests, Reset and
// Fail, and the records read back from the part file.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "polling_rig.h"

#include <QMessageBox>

namespace {

QString address(int host)
{
    return QStringLiteral("127.0.3.%1").arg(host);
}

const QString kStates = QStringLiteral(",7,8,9,");

const QStringList kKorraState = {QStringLiteral("c2.0:00070000"), QStringLiteral("t")};

} // namespace

class TestPolling : public QObject
{
    Q_OBJECT

private slots:
    void startChecks();
    void wireAndRecords_data();
    void wireAndRecords();
    void skippedRequests_data();
    void skippedRequests();
    void resetEndsPeriod();
    void failPeriodWaits();
    void pollingTimeAndStopBetweenPeriods();
    void stopDuringPeriodFallsBack();
    void answerInFlightOpensFirstPeriod();
};

void TestPolling::startChecks()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    answerer.preferred = {QMessageBox::Ok, QMessageBox::No};
    Vemu w;
    w.ui->m_EinputFile->clear();
    w.on_m_Bstart_clicked();
    w.ui->m_EinputFile->setText(QStringLiteral("script.txt"));
    w.on_m_Bstart_clicked();
    w.m_requests << new CMV(2, 0, 0, 1, kStates, false);
    w.ui->m_EoutputFile->clear();
    w.on_m_Bstart_clicked();
    w.ui->m_EoutputFile->setText(QStringLiteral("x.bin"));
    // Declining the symbol question starts nothing.
    w.on_m_Bstart_clicked();
    QCOMPARE(
        answerer.seen,
        (QStringList {
            QStringLiteral("Error|Please select an input file before starting !"),
            QStringLiteral("Error|Please select a valid input file before starting !"),
            QStringLiteral("Error|Please select an output file before starting !"),
            QStringLiteral(
                "Information|No symbol file was selected, would you like to continue anyways ?")}));
    QVERIFY(!w.m_testRunning);
    QCOMPARE(w.ui->m_Bstart->text(), QStringLiteral("Start"));
}

void TestPolling::wireAndRecords_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("period");
    // Four requests after the state read, then the re-read; when the fifth
    // answer is that of a long read's first packet, the re-read waits for
    // its second (128 + 72 words, or 12 + 8).
    QTest::newRow("korra, one-packet reads") << true << 12 << QStringLiteral("scmwmsm");
    QTest::newRow("korra, long read") << true << 200 << QStringLiteral("scmwmmsm");
    QTest::newRow("legacy, one-packet reads") << false << 12 << QStringLiteral("scmwmsm");
    QTest::newRow("legacy, long read") << false << 20 << QStringLiteral("scmwmmsm");
}

void TestPolling::wireAndRecords()
{
    QFETCH(bool, korra);
    QFETCH(int, count);
    QFETCH(QString, period);
    static int host = 0;
    PollingRig rig(korra ? SimCpe::Korra : SimCpe::Legacy, address(++host));
    QByteArray memory16;
    for (int i = 0; i < count * 2; ++i)
        memory16.append(char(i * 7 + 1));
    rig.cpe.setCmv(3, 10, {0x1111, 0x2222, 0x3333});
    rig.cpe.setMemory(0x1000, memory16);
    rig.cpe.setMemory(0x2000, QByteArray::fromHex("A1B2C3"));
    rig.cpe.setMemory(0x3000, QByteArray::fromHex("0102030405060708"));
    QVERIFY(rig.open());
    QCOMPARE(rig.window->m_korraPlatform, korra);

    rig.add(new CMV(3, 10, 0, 3, kStates, false));
    rig.add(new MEMORY(1, 0x2000, 3, kStates, false));
    rig.add(new CMV(5, 7, 0, 0x1234, kStates, true));
    rig.add(new MEMORY(2, 0x1000, count, kStates, false));
    rig.add(new MEMORY(4, 0x3000, 2, kStates, false));
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(3, 15000));
    QVERIFY(rig.stop());

    QVERIFY2(rig.wire().startsWith(period.repeated(3)), qPrintable(rig.wire()));
    QVERIFY(rig.cpe.requestCount([](const SimRequest &r) {
        return r.kind == SimRequest::CmvWrite && r.value == 0x1234;
    }) >= 3);

    const QStringList expected = {korra ? "c2.0:00070000" : "c2.0:0007", "t", "c3.10:111122223333",
                                  "m3@2000:a1b2c3", "m1@1000:" + memory16.toHex(), "m2@3000:0102030405060708"};
    const int periods = rig.wholePeriods(expected);
    QVERIFY(periods >= 3);
    QCOMPARE(periods, int(rig.window->m_iteration));
    QVERIFY(!rig.log().contains(QLatin1String("WRONG")));
    QVERIFY(rig.cpe.violations().isEmpty());
}

void TestPolling::skippedRequests_data()
{
    QTest::addColumn<bool>("allSkipped");
    QTest::newRow("first skipped") << false;
    QTest::newRow("all skipped") << true;
}

void TestPolling::skippedRequests()
{
    QFETCH(bool, allSkipped);
    PollingRig rig(SimCpe::Korra, address(allSkipped ? 11 : 10));
    rig.cpe.setCmv(3, 1, {0xBEEF});
    QVERIFY(rig.open());
    // Far more skipped requests than a stack of calls would bear.
    for (int i = 0; i < 100000; ++i)
        rig.add(new CMV(3, 1, 0, 1, QStringLiteral(",5,"), false));
    if (!allSkipped)
        rig.add(new CMV(3, 1, 0, 1, kStates, false));
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(3, 15000));
    QVERIFY(rig.stop());

    QVERIFY(rig.wholePeriods(kKorraState + (allSkipped ? QStringList() : QStringList{"c3.1:beef"})) >= 3);
    const QString wire = rig.wire();
    QVERIFY2(wire.startsWith((allSkipped ? QStringLiteral("s") : QStringLiteral("sc")).repeated(3)),
             qPrintable(wire));
}

void TestPolling::resetEndsPeriod()
{
    PollingRig rig(SimCpe::Korra, address(12));
    QVERIFY(rig.open());
    rig.cpe.setLineState(0);
    QVERIFY(wait_until([&] { return rig.window->m_cpeState % 100 == 0; }, 5000));
    rig.add(new CMV(3, 1, 0, 1, QStringLiteral(",0,7,"), false));
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(3, 10000));
    QVERIFY(rig.stop());

    // In Reset no request of the list goes out, and each period holds the
    // state record and the time stamp written on its answer.
    QVERIFY2(rig.wire().startsWith(QStringLiteral("sss")), qPrintable(rig.wire()));
    QCOMPARE(rig.cpe.requestCount(SimRequest::CmvRead),
             rig.cpe.requestCount(
                 [](const SimRequest &r) { return r.isStateRequest() || r.isFirmwareRequest(); }));
    QVERIFY(rig.wholePeriods({"c2.0:00000000", "t"}) >= 3);
    QVERIFY(!rig.log().contains(QLatin1String("Critical phase detected --> waiting for 3s...")));
}

void TestPolling::failPeriodWaits()
{
    PollingRig rig(SimCpe::Korra, address(13));
    QVERIFY(rig.open());
    rig.cpe.setLineState(2);
    QVERIFY(wait_until([&] { return rig.window->m_cpeState % 100 == 2; }, 5000));
    rig.add(new CMV(3, 1, 0, 1, QStringLiteral(",2,"), false));
    rig.add(new CMV(3, 2, 0, 1, QStringLiteral(",2,"), false));
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(2, 12000));
    QVERIFY(rig.stop(8000));

    // The whole list is sent, then the 3 s wait before the next state read.
    QVERIFY2(rig.wire().startsWith(QStringLiteral("scc" "scc")), qPrintable(rig.wire()));
    const QList<SimRequest> requests = rig.cpe.requests();
    QVERIFY(requests.at(3).elapsedMs - requests.at(2).elapsedMs >= 2900);
    QVERIFY(rig.log().count(QLatin1String("Critical phase detected --> waiting for 3s...")) >= 2);
    QVERIFY(rig.wholePeriods({"c2.0:00020000", "t", "c3.1:0000", "c3.2:0000"}) >= 2);
}

void TestPolling::pollingTimeAndStopBetweenPeriods()
{
    PollingRig rig(SimCpe::Korra, address(14), 1);
    QVERIFY(rig.open());
    rig.add(new CMV(3, 1, 0, 1, kStates, false));
    QVERIFY(rig.start());
    QVERIFY(rig.log().contains(QLatin1String("Polling Time = 1s")));
    QVERIFY(rig.waitPeriods(2, 6000));
    QVERIFY(!rig.window->m_periodActive);

    // Between periods Stop ends the test at once, and no period follows.
    rig.window->on_m_Bstart_clicked();
    QVERIFY(rig.stopped());
    QVERIFY(rig.log().contains(QLatin1String("Test Stopped")));
    const int sent
        = rig.cpe.requestCount([](const SimRequest &r) { return r.group == 3 && r.address == 1; });
    QTest::qWait(2500);
    QCOMPARE(
        rig.cpe.requestCount([](const SimRequest &r) { return r.group == 3 && r.address == 1; }),
        sent);
    QVERIFY(!rig.window->m_periodActive);

    // Periods were a polling time apart.
    QList<qint64> starts;
    for (const SimRequest &r : rig.cpe.requests()) {
        if (r.isStateRequest())
            starts << r.elapsedMs;
    }
    QVERIFY(starts.size() >= 2);
    QVERIFY(starts.at(1) - starts.at(0) >= 900);
    QVERIFY(rig.window->ui->m_Bconnect->isEnabled());
    QVERIFY(rig.window->ui->m_SpollingTime->isEnabled());
}

void TestPolling::stopDuringPeriodFallsBack()
{
    PollingRig rig(SimCpe::Korra, address(15));
    QVERIFY(rig.open());
    rig.add(new CMV(3, 1, 0, 1, kStates, false));
    rig.add(new CMV(3, 2, 0, 1, kStates, false));
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(1, 5000));
    // The answer to the second request never comes: Stop ends the test after
    // 3 s, and the records of the unfinished period are those made so far.
    rig.cpe.staySilent(1, [](const SimRequest &r) { return r.group == 3 && r.address == 2; });
    const auto unanswered = [&] {
        const QList<SimRequest> requests = rig.cpe.requests();
        if (requests.isEmpty() || requests.last().address != 2)
            return false;
        for (const SimAnswer &a : rig.cpe.answers()) {
            if (a.requestSeq == requests.last().seq)
                return false;
        }
        return true;
    };
    QVERIFY(wait_until([&] { return unanswered() && (QTest::qWait(100), unanswered()); }, 5000));
    QElapsedTimer clock;
    clock.start();
    rig.window->on_m_Bstart_clicked();
    QVERIFY(!rig.window->ui->m_Bstart->isEnabled());
    QVERIFY(wait_until([&] { return rig.stopped(); }, 6000));
    // A coarse timer may fire up to 5 % early.
    QVERIFY(clock.elapsed() >= 2850);
    QVERIFY(!rig.window->m_periodActive);
    QVERIFY(rig.window->ui->m_Bstart->isEnabled());
    QString error;
    const QList<ResultRecord> records = rig.records(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(!records.isEmpty());
    QCOMPARE(records.last().kind, qint8(0));
    QCOMPARE(int(records.last().address8), 1);
}

void TestPolling::answerInFlightOpensFirstPeriod()
{
    PollingRig rig(SimCpe::Korra, address(16));
    QVERIFY(rig.open());
    rig.add(new CMV(3, 1, 0, 1, kStates, false));
    // A request of the outside polling is in flight when Start is pressed;
    // its answer opens the first period before the start delay is over,
    // and the delay then opens nothing more.
    rig.cpe.clearLog();
    rig.cpe.answerSlowly(300);
    QVERIFY(rig.cpe.waitForRequests(1, 5000));
    QElapsedTimer clock;
    clock.start();
    rig.window->on_m_Bstart_clicked();
    rig.cpe.clearLog();
    QVERIFY(wait_until([&] { return rig.window->m_periodActive; }, 2000));
    QVERIFY(clock.elapsed() < 700);
    QTest::qWait(1500);
    QVERIFY(rig.stop());
    QVERIFY(rig.window->m_iteration >= 3);
    QVERIFY(!rig.log().contains(QLatin1String("WRONG")));
    QVERIFY2(rig.wire().startsWith(QStringLiteral("sc").repeated(3)), qPrintable(rig.wire()));
    QVERIFY(rig.wholePeriods(kKorraState + QStringList{"c3.1:0000"}) >= 3);
}

QTEST_MAIN(TestPolling)
#include "tst_polling.moc"
