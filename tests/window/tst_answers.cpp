// Answer reception end to end against the simulated CPE: wrong and ERROR
// answers, slow answers, answers split or merged on the way, and the AFE
// records, each read back from the part file.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "polling_rig.h"
#include "script_parser.h"

namespace {

QString address(int host)
{
    return QStringLiteral("127.0.4.%1").arg(host);
}

const QString kStates = QStringLiteral(",7,8,9,");

bool is_b(const SimRequest &r)
{
    return r.kind == SimRequest::CmvRead && r.group == 3 && r.address == 2;
}

// Two CMV reads: A (one word) and B (two words), with known contents.
void add_two_reads(PollingRig &rig)
{
    rig.cpe.setCmv(3, 1, {0xA1A1});
    rig.cpe.setCmv(3, 2, {0xB1B1, 0xB2B2});
    rig.add(new CMV(3, 1, 0, 1, kStates, false));
    rig.add(new CMV(3, 2, 0, 2, kStates, false));
}

QStringList state_records(bool korra = true)
{
    return {korra ? "c2.0:00070000" : "c2.0:0007", "t"};
}

QStringList whole_period(bool korra = true)
{
    return state_records(korra) + QStringList{"c3.1:a1a1", "c3.2:b1b1b2b2"};
}

// Every period but those listed in `except` is whole.
void verify_whole_periods(const QMap<int, QStringList> &byPeriod, int atLeast, bool korra = true,
                          const QList<int> &except = {})
{
    QVERIFY2(!byPeriod.contains(-1), qPrintable(byPeriod.value(-1).join(' ')));
    QVERIFY2(byPeriod.size() >= atLeast, qPrintable(QString::number(byPeriod.size())));
    for (auto it = byPeriod.begin(); it != byPeriod.end(); ++it) {
        if (!except.contains(it.key()))
            QCOMPARE(it.value(), whole_period(korra));
    }
}

} // namespace

class TestAnswers : public QObject
{
    Q_OBJECT

private slots:
    void wrongAnswers_data();
    void wrongAnswers();
    void errorAnswer();
    void slowAnswers_data();
    void slowAnswers();
    void splitAnswers_data();
    void splitAnswers();
    void restComingLate_data();
    void restComingLate();
    void mergedAnswers();
    void afeRecords();
    void completedRequestKeepsNothing();
    void recordsWithoutAnAddress_data();
    void recordsWithoutAnAddress();
};

void TestAnswers::wrongAnswers_data()
{
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("onStateRead");
    QTest::addColumn<int>("retries");
    QTest::addColumn<bool>("aborted");
    QTest::newRow("fourth still re-sent") << 4 << false << 4 << false;
    QTest::newRow("fifth aborts") << 5 << false << 4 << true;
    QTest::newRow("opening read never aborts") << 7 << true << 7 << false;
}

void TestAnswers::wrongAnswers()
{
    QFETCH(int, times);
    QFETCH(bool, onStateRead);
    QFETCH(int, retries);
    QFETCH(bool, aborted);
    static int host = 0;
    PollingRig rig(SimCpe::Korra, address(++host));
    QVERIFY(rig.open());
    add_two_reads(rig);
    QVERIFY(rig.start());
    rig.cpe.answerWrong(times,
                        onStateRead
                            ? RequestFilter([](const SimRequest &r) { return r.isStateRequest(); })
                            : RequestFilter(is_b));
    QVERIFY(rig.waitPeriods(3, 20000));
    QVERIFY(rig.stop());

    const QString log = rig.log();
    QCOMPARE(log.count(QLatin1String("WRONG message received --> Trying again...")), retries);
    QCOMPARE(log.count(QLatin1String(
                 "WRONG message received --> Aborting request and waiting for 2s...")),
             aborted ? 1 : 0);
    // The packet is sent once and then once per retry, all in a row.
    const QString wire = rig.wire();
    const QString sent = onStateRead
        ? QStringLiteral("s").repeated(retries + 1) + QStringLiteral("cc")
        : QStringLiteral("sc") + QStringLiteral("c").repeated(retries + 1);
    QVERIFY2(wire.startsWith(sent + QStringLiteral("s")), qPrintable(wire));

    const QMap<int, QStringList> byPeriod = rig.periods();
    if (aborted) {
        QCOMPARE(byPeriod.value(0), state_records() + QStringList{QStringLiteral("c3.1:a1a1")});
        verify_whole_periods(byPeriod, 3, true, {0});
    } else {
        verify_whole_periods(byPeriod, 3);
    }
}

void TestAnswers::errorAnswer()
{
    PollingRig rig(SimCpe::Korra, address(10));
    QVERIFY(rig.open());
    add_two_reads(rig);
    QVERIFY(rig.start());
    rig.cpe.answerError(1, is_b);
    QVERIFY(rig.waitPeriods(2, 10000));
    QVERIFY(rig.stop());

    QCOMPARE(rig.log().count(QLatin1String("ERROR message received --> Trying again in 1s...")), 1);
    QVERIFY(!rig.log().contains(QLatin1String("WRONG")));
    QList<SimRequest> bs;
    for (const SimRequest &r : rig.cpe.requests()) {
        if (is_b(r))
            bs << r;
    }
    QVERIFY(bs.size() >= 2);
    QCOMPARE(bs.at(1).bytes, bs.at(0).bytes);
    QVERIFY(bs.at(1).elapsedMs - bs.at(0).elapsedMs >= 990);
    verify_whole_periods(rig.periods(), 2);
}

void TestAnswers::slowAnswers_data()
{
    QTest::addColumn<bool>("korra");
    QTest::newRow("korra") << true;
    QTest::newRow("legacy") << false;
}

void TestAnswers::restComingLate_data()
{
    slowAnswers_data();
}

void TestAnswers::slowAnswers()
{
    QFETCH(bool, korra);
    PollingRig rig(korra ? SimCpe::Korra : SimCpe::Legacy, address(korra ? 11 : 12));
    QVERIFY(rig.open());
    add_two_reads(rig);
    QVERIFY(rig.start());
    // The opening state read is never slow; B is.
    rig.cpe.answerSlowly(600, 1, [](const SimRequest &r) { return r.isStateRequest(); });
    rig.cpe.answerSlowly(600, 1, is_b);
    QVERIFY(rig.waitPeriods(2, 10000));
    QVERIFY(rig.stop());

    const QString log = rig.log();
    QCOMPARE(log.count(QLatin1String("VERY SLOW response !!")), korra ? 1 : 0);
    QCOMPARE(log.count(QLatin1String("VERY SLOW response ! Waiting for 2s...")), korra ? 0 : 1);
    const QList<SimAnswer> answers = rig.cpe.answers();
    const QList<SimRequest> requests = rig.cpe.requests();
    for (int i = 0; i + 1 < requests.size(); ++i) {
        if (!is_b(requests.at(i)))
            continue;
        qint64 answered = -1;
        for (const SimAnswer &a : answers) {
            if (a.requestSeq == requests.at(i).seq)
                answered = a.elapsedMs;
        }
        // The legacy platform waits 2 s before it goes on.
        QVERIFY(answered >= 0);
        QVERIFY(requests.at(i + 1).elapsedMs - answered >= (korra ? 0 : 1990));
        break;
    }
    verify_whole_periods(rig.periods(), 2, korra);
}

void TestAnswers::splitAnswers_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("splitAt");
    QTest::newRow("korra, inside the header") << true << 5;
    QTest::newRow("korra, after the header") << true << 12;
    QTest::newRow("korra, inside the payload") << true << 14;
    QTest::newRow("legacy, inside the header") << false << 3;
    QTest::newRow("legacy, inside the payload") << false << 20;
}

void TestAnswers::splitAnswers()
{
    QFETCH(bool, korra);
    QFETCH(int, splitAt);
    static int host = 20;
    PollingRig rig(korra ? SimCpe::Korra : SimCpe::Legacy, address(++host));
    QVERIFY(rig.open());
    add_two_reads(rig);
    rig.cpe.splitAnswers(40, splitAt, -1);
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(3, 15000));
    QVERIFY(rig.stop());
    rig.cpe.clearFaults();

    QVERIFY(!rig.log().contains(QLatin1String("WRONG")));
    verify_whole_periods(rig.periods(), 3, korra);
}

void TestAnswers::restComingLate()
{
    QFETCH(bool, korra);
    PollingRig rig(korra ? SimCpe::Korra : SimCpe::Legacy, address(korra ? 30 : 31));
    QVERIFY(rig.open());
    add_two_reads(rig);
    QVERIFY(rig.start());
    // B's answer stops after the first data word; the rest comes after 1.5 s.
    const int splitAt = korra ? 14 : 10;
    rig.cpe.splitAnswers(1500, splitAt, 1, is_b);
    QVERIFY(rig.waitPeriods(4, 15000));
    QVERIFY(rig.stop());

    // After 1 s the fragment is taken as a short answer; its late rest is
    // not taken for the start of later answers.
    QVERIFY(!rig.log().contains(QLatin1String("WRONG")));
    const QMap<int, QStringList> byPeriod = rig.periods();
    const QStringList shortPeriod = state_records(korra)
        + QStringList {QStringLiteral("c3.1:a1a1"), QStringLiteral("c3.2:b1b1")};
    QCOMPARE(byPeriod.value(0), shortPeriod);
    verify_whole_periods(byPeriod, 4, korra, {0});
}

void TestAnswers::mergedAnswers()
{
    PollingRig rig(SimCpe::Korra, address(40));
    QVERIFY(rig.open());
    add_two_reads(rig);
    // The answer to a request of the outside polling is held back and goes
    // out in one piece with the answer to the opening state read.
    rig.cpe.clearLog();
    rig.cpe.mergeNextTwoAnswers();
    QVERIFY(rig.cpe.waitForRequests(1, 5000));
    rig.window->on_m_Bstart_clicked();
    QVERIFY(rig.waitPeriods(3, 15000));
    QVERIFY(rig.stop());
    QVERIFY(rig.cpe.answers().value(1).merged || rig.cpe.answers().value(0).merged);

    // Nothing of the held answer reaches a record.
    verify_whole_periods(rig.periods(), 3);
}

void TestAnswers::afeRecords()
{
    PollingRig rig(SimCpe::Korra, address(50));
    rig.cpe.setAfeRegister(0x12, 0x11223344);
    rig.cpe.setAfeRegister(0x34, 0x55667788);
    rig.cpe.setAfeRegister(0x56, 0x99AABBCC);
    QVERIFY(rig.open());
    // The second register's reads are skipped in showtime; a plain read of
    // the mailbox data word is no AFE read.
    for (const auto &[reg, states] : {std::pair<quint32, QString> {0x12, kStates},
                                      {0x34, QStringLiteral(",5,")},
                                      {0x56, kStates}}) {
        for (message *request : build_afe_requests(reg, states))
            rig.add(request);
        rig.window->m_afeRegisters << qint16(reg);
    }
    rig.add(new MEMORY(4, kAfeDataAddress, 1, kStates, false));
    QVERIFY(rig.start());
    QVERIFY(rig.waitPeriods(2, 10000));
    QVERIFY(rig.stop());

    const QMap<int, QStringList> byPeriod = rig.periods();
    QVERIFY(byPeriod.size() >= 2);
    for (const QStringList &period : byPeriod)
        QCOMPARE(period,
                 (state_records()
                  + QStringList {QStringLiteral("afe12:33441122"), QStringLiteral("afe56:bbcc99aa"),
                                 QStringLiteral("m2@20c6a4:bbcc99aa")}));
}

// Hands one answer to the processing of the window's platform, as the
// reception does once the answer is whole.
static void hand_over(Vemu &w, const QByteArray &answer)
{
    w.m_answer = answer;
    w.m_answerRead = 0;
    if (w.m_korraPlatform)
        w.process_korra_answer();
    else
        w.process_legacy_answer();
}

static QStringList buffered_records(Vemu &w)
{
    QList<ResultRecord> records;
    QString error;
    if (!read_result_records(w.m_iterationBuffer, &records, &error))
        return {error};
    QStringList described;
    for (const ResultRecord &r : records)
        described << describe(r);
    return described;
}

void TestAnswers::completedRequestKeepsNothing()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_periodActive = true;
    w.m_requests << new MEMORY(2, 0x1000, 2, kStates, false)
                 << new MEMORY(2, 0x2000, 1, kStates, false);

    // The first packet's data is gathered; the last packet's answer brings
    // none, and the request still ends with its record.
    w.m_requestIndex = 0;
    w.m_requestDone = false;
    w.m_lastRequest = QByteArray::fromHex("C00040200000000010000001");
    hand_over(w, QByteArray::fromHex("000040300000000010000001" "AAAA"));
    w.m_requestIndex = 1;
    w.m_requestDone = true;
    w.m_lastRequest = QByteArray::fromHex("C00040200000000010020001");
    hand_over(w, QByteArray::fromHex("000040300000000010020001"));
    QCOMPARE(buffered_records(w), QStringList{QStringLiteral("m1@1000:aaaa")});
    QVERIFY(w.m_requestPayload.isEmpty());

    // The next request's record holds its own data only.
    w.m_requestIndex = 2;
    w.m_lastRequest = QByteArray::fromHex("C00040200000000020000001");
    hand_over(w, QByteArray::fromHex("000040300000000020000001" "BBBB"));
    QCOMPARE(buffered_records(w),
             (QStringList {QStringLiteral("m1@1000:aaaa"), QStringLiteral("m1@2000:bbbb")}));
}

void TestAnswers::recordsWithoutAnAddress_data()
{
    QTest::addColumn<int>("requestIndex");
    QTest::addColumn<QString>("record");
    // A memory answer to the opening state read: no request was completed.
    QTest::newRow("before the first request") << 0 << QStringLiteral("m1@ffffffff:1234");
    // A memory answer to a CMV read: a CMV has no memory address.
    QTest::newRow("completing a CMV") << 1 << QStringLiteral("m1@ffffffff:1234");
    QTest::newRow("completing a memory read") << 2 << QStringLiteral("m1@3000:1234");
}

void TestAnswers::recordsWithoutAnAddress()
{
    QFETCH(int, requestIndex);
    QFETCH(QString, record);
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    w.m_korraPlatform = false;
    w.m_periodActive = true;
    w.m_requestDone = true;
    w.m_requestIndex = requestIndex;
    w.m_requests << new CMV(3, 1, 0, 1, kStates, false) << new MEMORY(2, 0x3000, 1, kStates, false);
    QByteArray frame = QByteArray::fromHex("0031000000000000" "1234");
    frame.resize(32);
    hand_over(w, frame);
    QCOMPARE(buffered_records(w), QStringList{record});
}

QTEST_MAIN(TestAnswers)
#include "tst_answers.moc"
