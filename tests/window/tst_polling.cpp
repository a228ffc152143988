// Polling and answers end to end against the simulated CPE, one row per
// platform, line state and fault. One oracle for all: the wire carries what
// the script asks, every answered read is in exactly one record, in order,
// and the test logs the row's error and critical-phase lines, no other.

#include "ui_Vemu.h"

#include "rig.h"
#include "script_parser.h"

#include <QMessageBox>
#include <QtTest>

namespace {

const QString kStates = QStringLiteral(",0,2,7,8,9,");
// One period of the script below: a re-read of the state after every five
// answers, held until the long read is complete; legacy memory writes are
// never sent.
const QString kKorraPeriod = QStringLiteral("sccwmsmmxxsmm");
const QString kLegacyPeriod = QStringLiteral("sccwmsmmmms");
const QString kWrong = QStringLiteral("WRONG message received --> Trying again...");
const QByteArray kWords = QByteArrayLiteral("0123456789abcdefghijklmnopqrstuvwxyz").repeated(12);

// The requests a fault hits, by the place of their record in a period (0
// the state read, 1 the time stamp); the CMV write and the firmware read of
// the polling outside a test have none.
const int kState = 0, kB = 3, kByteRead = 4, kLongRead = 5, kMailbox = 7, kWrite = -1, kFirmware = -2;

RequestFilter hits(int target)
{
    return [target](const SimRequest &r) {
        const bool read = r.kind == SimRequest::MemoryRead;
        switch (target) {
        case kState: return r.isStateRequest();
        case kB: return r.isCmvRead(3, 2);
        case kByteRead: return read && r.address == 0x2000;
        case kLongRead: return read && r.address > 0x1000 && r.address < 0x2000; // its last packet
        case kMailbox: return read && r.address == kAfeDataAddress;
        case kWrite: return r.kind == SimRequest::CmvWrite;
        default: return r.isFirmwareRequest();
        }
    };
}

void add_script(Rig &rig, bool korra)
{
    rig.cpe.setCmv(3, 1, {0xA1A1});
    rig.cpe.setCmv(3, 2, {0xB1B1, 0xB2B2});
    rig.cpe.setMemory(0x1000, kWords);
    rig.cpe.setMemory(0x2000, QByteArray::fromHex("A1B2C3"));
    rig.cpe.setAfeRegister(0x12, 0x11223344);
    rig.cpe.setMemory32(SimCpe::AfeSelectAddress, 0x12); // as the AFE read leaves it
    rig.add(new CMV(3, 1, 0, 1, kStates, false));
    rig.add(new CMV(3, 2, 0, 2, kStates, false));
    rig.add(new CMV(5, 7, 0, 0x1234, kStates, true));
    rig.add(new MEMORY(1, 0x2000, 3, kStates, false));
    rig.add(new MEMORY(2, 0x1000, korra ? 200 : 20, kStates, false));
    for (message *request : build_afe_requests(0x12, kStates))
        rig.add(request);
    rig.add(new MEMORY(4, kAfeDataAddress, 1, kStates, false)); // a plain read of the AFE data word
}

QStringList repeated(const QString &line, int times)
{
    return QVector<QString>(times, line).toList();
}

// How many of the first `inTest` requests of the CPE's log the tool may have
// found slow to answer, on a machine as busy as it was: any but the opening
// read of a period (`openings`, places in the log) for which more than 400 ms
// passed, by the CPE's clock, from the earliest the tool can have written it
// to the latest it can have read the answer (the CPE's receipt of the request
// after, or now). The earliest is the CPE's sending of the answer before, plus
// the wait that answer certainly brought (1 s after ERROR, 2 s after a legacy
// answer the CPE itself held back past 400 ms); or, when that answer went out
// late in parts, held back or not at all, the CPE's receipt of the request.
int possibly_slow(const SimCpe &cpe, const QSet<int> &openings, int inTest, bool korra)
{
    const QList<SimRequest> requests = cpe.requests();
    QHash<int, SimAnswer> answerTo;
    for (const SimAnswer &answer : cpe.answers())
        answerTo.insert(answer.requestSeq, answer);
    int count = 0;
    for (int i = 1; i < qMin(inTest, requests.size()); ++i) {
        const SimRequest &before = requests.at(i - 1);
        const auto answer = answerTo.constFind(before.seq);
        qint64 written = before.elapsedMs;
        if (answer != answerTo.cend() && !answer->split && !answer->merged) {
            const bool heldBack = answer->elapsedMs - before.elapsedMs > 400 && !openings.contains(i - 1);
            written = answer->elapsedMs + (answer->error ? 1000 : heldBack && !korra ? 2000 : 0);
        }
        const qint64 read = i + 1 < requests.size() ? requests.at(i + 1).elapsedMs : cpe.elapsedMs();
        count += !openings.contains(i) && read - written > 400;
    }
    return count;
}

struct Scenario
{
    bool korra;
    int state;         // the CPE's line state
    QString fault;
    int param;         // times, or where an answer is cut
    int target;        // the requests the fault hits
    QString first;     // period 0 on the wire, when not the usual
    QString record;    // the target's record in period 0: "=" the usual, "" none, or this
    QStringList lines; // the red and blue lines of the test, in order (in Fail, once per period)
    int gap;           // ms from a request of the target to the next: > 0 at least; < 0 less, counted from its
                       // answer's sending (from Start, for a request in flight at Start)
};

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestPolling : public QObject
{
    Q_OBJECT

private slots:
    void startChecks();
    void scenario_data();
    void scenario();
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
    QCOMPARE(answerer.seen,
             (QStringList {"Error|Please select an input file before starting !",
                           "Error|Please select a valid input file before starting !",
                           "Error|Please select an output file before starting !",
                           "Information|No symbol file was selected, would you like to continue anyways ?"}));
    QVERIFY(!w.m_testRunning);
}

void TestPolling::scenario_data()
{
    QTest::addColumn<Scenario>("row");
    QTest::newRow("korra") << Scenario{true, 7, "", 0, kB, "", "=", {}, 0};
    QTest::newRow("legacy") << Scenario{false, 7, "", 0, kB, "", "=", {}, 0};
    QTest::newRow("wrong: fourth still re-sent") << Scenario{true, 7, "wrong", 4, kB, "sccccccwmsmmxxsmm", "=", repeated(kWrong, 4), -1000};
    QTest::newRow("wrong: fifth aborts") << Scenario{true, 7, "wrong", 5, kB, "sccccccwmmmsxxmms", "",
        repeated(kWrong, 4) << "WRONG message received --> Aborting request and waiting for 2s...", 1990};
    QTest::newRow("wrong: opening read never aborts") << Scenario{true, 7, "wrong", 7, kState, "ssssssssccwmsmmxxsmm", "=", repeated(kWrong, 7), 0};
    QTest::newRow("ERROR") << Scenario{true, 7, "ERROR", 1, kB, "scccwmsmmxxsmm", "=", {"ERROR message received --> Trying again in 1s..."}, 990};
    QTest::newRow("korra slow") << Scenario{true, 7, "slow", 0, kB, "", "=", {"VERY SLOW response !!"}, -2000};
    QTest::newRow("legacy slow") << Scenario{false, 7, "slow", 0, kB, "", "=", {"VERY SLOW response ! Waiting for 2s..."}, 2590};
    QTest::newRow("korra split in the header") << Scenario{true, 7, "split", 5, kB, "", "=", {}, 0};
    QTest::newRow("korra split in the payload") << Scenario{true, 7, "split", 14, kB, "", "=", {}, 0};
    QTest::newRow("legacy split") << Scenario{false, 7, "split", 20, kB, "", "=", {}, 0};
    // The polling outside a test has a request in flight at Start.
    QTest::newRow("outside answer opens the test") << Scenario{true, 7, "in flight", 0, kFirmware, "sf" + kKorraPeriod, "=", {}, -800};
    QTest::newRow("outside answer merged with the opening one") << Scenario{true, 7, "merged", 0, kFirmware, "sfs" + kKorraPeriod, "=", {kWrong}, 0};
    QTest::newRow("korra lost rest") << Scenario{true, 7, "lost rest", 14, kB, "", "c3.2:b1b1", {}, 0};
    QTest::newRow("korra lost payload, last packet") << Scenario{true, 7, "lost rest", 12, kLongRead, "", "m1@1000:" + kWords.left(256).toHex(), {}, 0};
    QTest::newRow("legacy lost rest") << Scenario{false, 7, "lost rest", 10, kB, "", "c3.2:b1b1", {}, 0};
    // The answer after a late rest comes behind it: slow.
    QTest::newRow("korra late rest") << Scenario{true, 7, "late rest", 14, kB, "", "c3.2:b1b1", {"VERY SLOW response !!"}, 0};
    QTest::newRow("legacy late rest") << Scenario{false, 7, "late rest", 10, kB, "", "c3.2:b1b1", {"VERY SLOW response ! Waiting for 2s..."}, 0};
    QTest::newRow("short: ack 0x51 with a count") << Scenario{true, 7, "ack 0x51", 0, kWrite, "", "=", {}, -1000};
    QTest::newRow("short: no pad byte") << Scenario{true, 7, "no pad", 0, kByteRead, "", "m3@2000:a1b200", {}, -1000};
    QTest::newRow("legacy answer of another kind") << Scenario{false, 7, "kind", 0, kB, "", "m1@ffffffff:b1b1b2b2", {}, 0};
    QTest::newRow("silent, Stop after 3 s") << Scenario{true, 7, "silent", 0, kB, "scc", "", {}, 0};
    QTest::newRow("Reset") << Scenario{true, 0, "", 0, kB, "", "=", {}, 0};
    QTest::newRow("Fail") << Scenario{true, 2, "", 0, kMailbox, "", "=", {"Critical phase detected --> waiting for 3s..."}, 2900};
    QTest::newRow("every request skipped") << Scenario{false, 5, "", 0, kB, "", "=", {}, 0};
    QTest::newRow("100000 skipped first") << Scenario{true, 7, "skipped", 0, kB, "", "=", {}, 0};
    QTest::newRow("polling time, Stop between periods") << Scenario{true, 7, "polling", 0, kMailbox, "", "=", {}, 1000};
}

void TestPolling::scenario()
{
    SKIP_ROW_OF_OTHER_SHARD();
    QFETCH(Scenario, row);
    Rig rig(row.korra ? SimCpe::Korra : SimCpe::Legacy);
    rig.writeIni(QStringLiteral("polling_time=%1\noutput_file=out\n").arg(row.fault == "polling" ? 1 : 0));
    rig.cpe.setLineState(quint16(row.state));
    QVERIFY(rig.open());
    // Showtime is what the window takes for granted before the first state answer.
    QVERIFY(row.state == 7 || wait_until([&] { return rig.window->m_cpeState % 100 == row.state; }, 5000));
    add_script(rig, row.korra);
    // In Reset, and in a state that no request names, a period is the state read alone.
    const bool idle = row.state == 0 || row.state == 5;
    const QStringList usual = rig.expectedPeriod().mid(0, idle ? 2 : -1);
    for (int i = 0; row.fault == "skipped" && i < 100000; ++i)
        rig.window->m_requests.prepend(new CMV(3, 1, 0, 1, QStringLiteral(",5,"), false));

    const RequestFilter hit = hits(row.target);
    qint64 pressed = 0; // Start, by the CPE's clock
    if (row.target == kFirmware) {
        // The polling outside a test reads the state, then the firmware.
        rig.cpe.clearLog();
        row.fault == "merged" ? rig.cpe.mergeNextTwoAnswers(hit) : rig.cpe.answerSlowly(300, 1, hit);
        QVERIFY(rig.cpe.waitForRequests(1, 5000, hit));
        pressed = rig.cpe.elapsedMs();
        rig.window->on_m_Bstart_clicked();
    } else {
        QVERIFY(rig.start());
    }
    if (row.fault == "wrong")
        rig.cpe.answerWrong(row.param, hit);
    else if (row.fault == "ERROR")
        rig.cpe.answerError(row.param, hit);
    else if (row.fault == "slow") // the opening state read is never slow
        rig.cpe.answerSlowly(600, 2, [hit](const SimRequest &r) { return r.isStateRequest() || hit(r); });
    else if (row.fault == "split" || row.fault == "late rest")
        rig.cpe.splitAnswers(row.fault == "split" ? 40 : 1800, row.param, row.fault == "split" ? -1 : 1, hit);
    else if (row.fault == "lost rest")
        rig.cpe.editAnswers([keep = row.param](const QByteArray &a) { return a.left(keep); }, 1, hit);
    else if (row.fault == "ack 0x51")
        rig.cpe.editAnswers([](QByteArray a) { return a.replace(3, 1, "\x51"); }, 1, hit);
    else if (row.fault == "no pad")
        rig.cpe.editAnswers([](const QByteArray &a) { return a.chopped(1); }, 1, hit);
    else if (row.fault == "kind")
        rig.cpe.editAnswers([](QByteArray a) { return a.replace(1, 1, QByteArray(1, char(0x30 | a[1]))); }, 1, hit);

    if (row.fault == "silent") {
        rig.cpe.staySilent(1, hit);
        QVERIFY(rig.cpe.waitForRequests(1, 5000, hit));
        const QTime stopPressed = QTime::currentTime();
        QVERIFY(rig.stop() && stopPressed.msecsTo(QTime::currentTime()) >= 3000);
    } else {
        QVERIFY(rig.waitPeriods(row.state == 2 ? 2 : 3, 60000));
        // Between periods Stop ends the test at once.
        if (row.fault == "polling")
            QVERIFY(wait_until([&] { return !rig.window->m_periodActive; }, 30000));
        QVERIFY(row.fault == "polling" ? (rig.window->on_m_Bstart_clicked(), rig.stopped()) : rig.stop(30000));
    }

    // The polling outside a test comes back 1.5 s after the end.
    const int inTest = rig.cpe.requests().size();
    const QStringList entries = rig.logEntries();
    // The polling outside a test, back after Stop, may wait in Fail: not a line of the test.
    QStringList seen = entries.mid(entries.lastIndexOf("black|S|Test Started"))
                           .filter(QRegularExpression("^(red|blue)\\|S\\|(?!Critical phase detected --> waiting for 3\\.5 s)"));
    const int done = rig.window->m_iteration;
    seen.replaceInStrings(QRegularExpression("^\\w+\\|S\\|"), QString());
    QStringList expected = row.state == 2 ? repeated(row.lines.value(0), done) : row.lines;
    // A slow line for each answer the row makes slow; on a busy machine others may be.
    const QString slow = row.korra ? QStringLiteral("VERY SLOW response !!") : QStringLiteral("VERY SLOW response ! Waiting for 2s...");
    const int slowSeen = seen.removeAll(slow), slowExpected = expected.removeAll(slow);
    QCOMPARE(seen, expected);

    QString error;
    const QMap<int, QStringList> byPeriod = rig.periods(&error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QStringList damaged = usual;
    if (row.fault == "silent")
        damaged = usual.mid(0, row.target);
    else if (row.record.isEmpty())
        damaged.removeAt(row.target);
    else if (row.record != "=")
        damaged[row.target] = row.record;
    QCOMPARE(byPeriod.value(0), damaged);
    // Only the period that Stop cut short after 3 s may be unfinished.
    const QStringList last = byPeriod.last();
    QVERIFY(byPeriod.size() == done || (byPeriod.size() == done + 1 && usual.mid(0, last.size()) == last));
    for (int p = 1; p < done; ++p)
        QCOMPARE(byPeriod.value(p), usual);

    const QString period = idle ? QStringLiteral("s") : row.korra ? kKorraPeriod : kLegacyPeriod;
    const QString wire = rig.wire(), first = row.first.isEmpty() ? period : row.first;
    QVERIFY2(wire.startsWith(first + period.repeated(done - 1)), qPrintable(wire));
    QVERIFY(rig.cpe.violations().isEmpty());
    QSet<int> openings{0};
    for (int at = first.size(); at < wire.size(); at += period.size())
        openings << at;
    const int slack = possibly_slow(rig.cpe, openings, inTest, row.korra);
    QVERIFY2(slowSeen >= slowExpected && slowSeen <= qMax(slowExpected, slack),
             qPrintable(QStringLiteral("%1 slow lines, %2 expected, %3 possible").arg(slowSeen).arg(slowExpected).arg(slack)));
    // The longest pause from a request of the target, or from the answer to
    // it, to the next request.
    const QList<SimRequest> requests = rig.cpe.requests();
    QHash<int, qint64> answered;
    for (const SimAnswer &answer : rig.cpe.answers())
        answered.insert(answer.requestSeq, answer.elapsedMs);
    qint64 longest = -1;
    for (int i = 0; i + 1 < inTest; ++i) {
        if (hit(requests.at(i)))
            longest = qMax(longest, requests.at(i + 1).elapsedMs
                                        - (row.gap > 0 ? requests.at(i).elapsedMs : pressed ? pressed : answered.value(requests.at(i).seq)));
    }
    QVERIFY2(row.gap == 0 || (row.gap > 0 ? longest >= row.gap : longest >= 0 && longest < -row.gap),
             qPrintable(QString::number(longest)));
}

QTEST_MAIN(TestPolling)
#include "tst_polling.moc"
