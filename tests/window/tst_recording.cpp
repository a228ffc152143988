// Recording end to end: the real window against the simulated CPE, one row
// per fault. The shared oracle: every read the CPE answered is in exactly one
// record of one part, in order, archives included; each period opens with its
// state read and time stamp.

#include <QtTest>

#include "rig.h"
#include "ui_Vemu.h"

#include <QProcess>

namespace {

enum Fault { Limit, LineDrop, BusyArchiver, ArchiverFails, WriteEpisodes, WriteLoss, CircularEpisode,
             CircularHalves, LiveGraphsOnly, RepeatedRuns, Soak, ClosedWhileFailing };

const char kStates[] = ",3,7,8,9,";
const quint32 kMemory = 0x1000;

struct Series
{
    QStringList names;           // each part as its ".bin" path
    QList<QList<ResultRecord>> parts;
    int binOnly = 0, packedAndBin = 0;
    qint64 bytes = 0;
    QString error;
};

// Every part in "Results", packed or not, ordered by base name then number.
Series read_series()
{
    static const QRegularExpression part(QStringLiteral("^(.*_part)(\\d+)(\\D*)\\.(bin|7z)$"));
    QMap<QPair<QString, int>, QString> names;
    QMap<QPair<QString, int>, int> forms;
    for (const QString &file : QDir(QStringLiteral("Results")).entryList(QDir::Files)) {
        const QRegularExpressionMatch m = part.match(file);
        if (!m.hasMatch())
            continue;
        const auto key = qMakePair(m.captured(1), m.captured(2).toInt());
        names[key] = QStringLiteral("Results/") + m.captured(1) + m.captured(2) + m.captured(3) + QStringLiteral(".bin");
        forms[key] |= m.captured(4) == QLatin1String("bin") ? 1 : 2;
    }
    Series s;
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        s.names << it.value();
        s.binOnly += forms[it.key()] == 1;
        s.packedAndBin += forms[it.key()] == 3;
        const QByteArray bytes = Rig::partBytes(it.value(), &s.error);
        s.bytes += bytes.size();
        s.parts.append(QList<ResultRecord>());
        if (!read_result_records(bytes, &s.parts.last(), &s.error))
            s.error += QStringLiteral(" in ") + it.value();
    }
    return s;
}

bool is_state_record(const ResultRecord &r)
{
    return r.kind == 0 && r.group == 2 && r.address8 == 0;
}

// The reads of the series, described, without state reads and time stamps;
// `error` names the first period that does not open with both.
QStringList recorded_reads(const Series &s, QString *error)
{
    QList<ResultRecord> all;
    for (const QList<ResultRecord> &part : s.parts)
        all += part;
    QStringList reads;
    for (int i = 0; i < all.size(); ++i) {
        // A part closed after a line drop may end between the two.
        if ((i == 0 || all[i].period != all[i - 1].period)
            && (!is_state_record(all[i]) || i + 1 == all.size() || all[i + 1].kind != 7))
            *error = QStringLiteral("period %1 does not open with its state read and time stamp").arg(all[i].period);
        if (all[i].kind != 7 && !is_state_record(all[i]))
            reads << describe(all[i]);
    }
    return reads;
}

// The reads the CPE answered in whole, from its own log, described as their
// records: chunks of one read are gathered in order on one connection.
QStringList answered_reads(const SimCpe &cpe, const QList<message *> &script)
{
    QHash<int, SimRequest> sent;
    for (const SimRequest &r : cpe.requests())
        sent.insert(r.seq, r);
    QStringList reads;
    int current = -1, connection = 0;
    quint32 done = 0;
    QByteArray data;
    for (const SimAnswer &a : cpe.answers()) {
        const SimRequest r = sent.value(a.requestSeq);
        if ((r.kind != SimRequest::CmvRead && r.kind != SimRequest::MemoryRead) || r.isStateRequest()
            || r.isFirmwareRequest())
            continue;
        for (int i = 0; i < script.size(); ++i) {
            auto *m = dynamic_cast<MEMORY *>(script[i]);
            auto *c = dynamic_cast<CMV *>(script[i]);
            const quint32 total = m ? m->countOrValue() : c->sizeOrValue();
            qint64 offset = -1;
            if (m && r.kind == SimRequest::MemoryRead && r.width == m->width() && r.address >= quint32(m->address()))
                offset = (r.address - quint32(m->address())) / m->width();
            if (c && r.kind == SimRequest::CmvRead && r.group == c->group() && r.address == quint32(c->cmvAddress()))
                offset = r.index - c->index();
            if (offset < 0 || offset >= total)
                continue;
            if (offset == 0 || i != current || a.connection != connection || offset != done) {
                current = offset == 0 ? i : -1;
                connection = a.connection;
                done = 0;
                data.clear();
            }
            if (current >= 0) {
                data += a.bytes.mid(12, r.count * r.width);
                done += r.count;
            }
            if (current >= 0 && done == total) {
                ResultRecord record;
                record.kind = qint8(m ? (m->width() == 2 ? 1 : m->width() == 4 ? 2 : 3) : 0);
                record.group = qint8(c ? c->group() : 0);
                record.address8 = qint8(c ? c->cmvAddress() : 0);
                record.address = m ? m->address() : 0;
                record.data = data;
                reads << describe(record);
                current = -1;
            }
            break;
        }
    }
    return reads;
}

// Writes to `part` fail while a folder stands in its place; its content
// waits aside.
void block(const QString &part, bool blocked)
{
    if (blocked) {
        QFile::rename(part, part + QStringLiteral(".aside"));
        QDir().mkdir(part);
    } else {
        QDir().rmdir(part);
        QFile::rename(part + QStringLiteral(".aside"), part);
    }
}

void install_archiver(const QByteArray &script)
{
    QDir().mkpath(QStringLiteral("7z"));
    QFile f(QStringLiteral("7z/7za"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + script + "\n");
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

int lines_with(const QStringList &log, const QString &text)
{
    return log.filter(text).size();
}

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private slots:
    void scenario_data();
    void scenario();
};

void TestRecording::scenario_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("words");         // the big read: a period is 106 + 2 x words bytes
    QTest::addColumn<int>("firstPart");     // periods in part 0; -1: not checked
    QTest::newRow("part limit just under: 8 periods 999,984 bytes") << int(Limit) << 62446 << 9;
    QTest::newRow("part limit at: 8 periods 1,000,000 bytes") << int(Limit) << 62447 << 9;
    QTest::newRow("part limit just over: 8 periods 1,000,016 bytes") << int(Limit) << 62448 << 8;
    QTest::newRow("line drop") << int(LineDrop) << 30000 << -1;
    QTest::newRow("busy archiver, stop while it packs") << int(BusyArchiver) << 62447 << 9;
    QTest::newRow("archiver fails") << int(ArchiverFails) << 62447 << 9;
    QTest::newRow("write failure episodes") << int(WriteEpisodes) << 62447 << -1;
    QTest::newRow("write failure past the part's size") << int(WriteLoss) << 62447 << -1;
    QTest::newRow("circular, write failure episode") << int(CircularEpisode) << 62447 << -1;
    QTest::newRow("circular halves after two turns") << int(CircularHalves) << 62447 << -1;
    QTest::newRow("live graphs only") << int(LiveGraphsOnly) << 62447 << -1;
    QTest::newRow("repeated unattended runs") << int(RepeatedRuns) << 62447 << 9;
    QTest::newRow("short soak") << int(Soak) << 20000 << -1;
    QTest::newRow("closed while writes fail and the archiver packs") << int(ClosedWhileFailing) << 30000 << -1;
}

void TestRecording::scenario()
{
    QFETCH(int, fault);
    QFETCH(int, words);
    QFETCH(int, firstPart);
    Rig rig;
    QByteArray memory;
    for (int i = 0; i < 2 * words; ++i)
        memory.append(char(i * 13 + i / 256));
    rig.cpe.setMemory(kMemory, memory);
    rig.cpe.setCmv(3, 10, {1, 2, 3, 4});
    // Contents that change as the run goes on, so that a record taken twice,
    // from the wrong answer or out of order shows.
    quint32 tick = 0;
    QTimer changer;
    connect(&changer, &QTimer::timeout, [&] {
        rig.cpe.setMemory16(kMemory + 2 * (++tick % words), quint16(tick));
        rig.cpe.setCmvWord(3, 10, quint16(tick % 4), quint16(tick));
    });
    changer.start(1);
    const bool circular = fault == CircularEpisode || fault == CircularHalves || fault == ClosedWhileFailing;
    if (fault == CircularEpisode)
        rig.cpe.setLineState(3);
    if (fault == LineDrop || fault == Soak)
        rig.cpe.setStateScript({{7, 0, 12}, {0, 0, 3}, {7, 0, 0}}, fault == Soak);
    if (fault == ClosedWhileFailing)
        rig.cpe.setStateScript({{7, 0, 8}, {3, 0, 0}});
    if (fault == BusyArchiver || fault == ClosedWhileFailing)
        install_archiver("sleep 0.5; exec 7za \"$@\"");
    if (fault == ArchiverFails)
        install_archiver("exit 3");
    Vemu::s_circularToggle = 1;
    QList<message *> script;
    QStringList log;
    auto window = [&] { return rig.window.data(); };

    if (fault == RepeatedRuns) {
        rig.folder.writeFile(QStringLiteral("script.txt"),
                             QStringLiteral("cr INFO 10 0 4 [3,7,8,9]\nmr 0x1000 %1 [3,7,8,9]\n").arg(words).toUtf8());
        rig.folder.writeFile(QStringLiteral("InputForDebugTool.txt"),
                             "[default_parameters]\nresult_file_name=rep\nminimum_showtime=4\nlink_number=1\n");
        rig.writeIni(QStringLiteral("input_file=%1\noutput_file=out\nfile_size=1\nautomation=1\npolling_time=0\n")
                         .arg(rig.folder.filePath(QStringLiteral("script.txt"))));
        for (int run = 0; run < 2; ++run) {
            const int stored = read_series().names.size();
            QVERIFY(rig.open(false));
            QVERIFY(wait_until([&] { return !window()->m_connected && lines_with(rig.logEntries(), QStringLiteral("Test Stopped")); }, 30000));
            QVERIFY(rig.archiverIdle());
            const QStringList runLog = rig.logEntries();
            log << runLog;
            // The test names the file it writes: the one after the parts already stored.
            QCOMPARE(lines_with(runLog, QStringLiteral("Result file name: Results/rep_L1_part%1.bin").arg(stored)), 1);
            QVERIFY(window()->m_partNumber >= stored + 2);
        }
        script = window()->m_requests;
    } else {
        rig.writeIni(QStringLiteral("polling_time=0\noutput_file=out\nfile_size=1\n"));
        QVERIFY(rig.open());
        rig.add(new CMV(3, 10, 0, 4, kStates, false));
        rig.add(new MEMORY(2, kMemory, quint32(words), kStates, false));
        script = window()->m_requests;
        window()->ui->m_Ccircbuff->setChecked(circular);
        window()->ui->m_CliveDebugging->setChecked(fault == LiveGraphsOnly);
        QVERIFY(rig.start());
        QVERIFY(lines_with(rig.logEntries(), QStringLiteral("Result file name: ") + window()->ui->m_EoutputFile->text()) == 1);
        const auto periods = [&](int n) { return rig.waitPeriods(window()->m_iteration + n, 60000); };
        switch (Fault(fault)) {
        case WriteEpisodes:
        case WriteLoss:
        case CircularEpisode:
            for (int episode = 0; episode < (fault == WriteEpisodes ? 2 : 1); ++episode) {
                QVERIFY(periods(2));
                const QString part = window()->ui->m_EoutputFile->text();
                block(part, true);
                QVERIFY(periods(fault == WriteLoss ? 12 : 3));
                block(part, false);
            }
            QVERIFY(periods(2));
            break;
        case CircularHalves:
            QVERIFY(wait_until([] { return Vemu::s_circularToggle == 0; }, 120000));
            QVERIFY(wait_until([] { return Vemu::s_circularToggle == 1; }, 120000));
            QVERIFY(periods(3));
            break;
        case LiveGraphsOnly:
            QVERIFY(periods(10));
            break;
        case Soak:
            QVERIFY(rig.cpe.waitForAnswers(4000, 60000));
            rig.cpe.closeAfterAnswers(1);
            QVERIFY(wait_until([&] { return window()->m_waitingTimer->isActive(); }, 10000));
            // The 3 s end of the cut period and the 5 s wait before reconnecting
            // are not what this row measures: their slots run at once, in order.
            window()->m_stopTimer->stop();
            window()->stop_processing();
            window()->m_waitingTimer->stop();
            window()->waitingTimer();
            QVERIFY(wait_until([&] { return window()->m_testRunning && rig.cpe.answerCount() > 8000; }, 60000));
            break;
        case ClosedWhileFailing:
            QVERIFY(wait_until([&] { return window()->m_partNumber == 1 && window()->m_compressor->state() != QProcess::NotRunning
                                            && !window()->m_iterationBuffer.isEmpty(); }, 60000));
            block(window()->ui->m_EoutputFile->text(), true);
            changer.stop();
            {
                // The requests outlive the window for the oracle.
                const QScopedPointer<message> keepCmv(script[0]), keepMemory(script[1]);
                window()->m_requests.clear();
                const QString blocked = window()->ui->m_EoutputFile->text();
                rig.window.reset();
                block(blocked, false);
                QString error;
                const QStringList recorded = recorded_reads(read_series(), &error);
                const QStringList answered = answered_reads(rig.cpe, script);
                QVERIFY(!recorded.isEmpty() && answered.mid(0, recorded.size()) == recorded);
            }
            QVERIFY(rig.answerer.seen.filter(QStringLiteral("Error|")).isEmpty());
            {
                const QStringList logs = QDir(QStringLiteral("Results/Logs")).entryList(QDir::Files);
                QFile session(QStringLiteral("Results/Logs/") + logs.value(0));
                QVERIFY(logs.size() == 1 && session.open(QIODevice::ReadOnly));
                const QString text = QString::fromUtf8(session.readAll());
                QVERIFY(text.contains(QLatin1String("Result file cannot be opened.")));
                QVERIFY(text.contains(QLatin1String("bytes of records were lost")));
            }
            QVERIFY(read_series().packedAndBin == 0);
            QVERIFY(QDir(QStringLiteral("Results")).entryList({QStringLiteral("*LINKDROP.7z")}).size() == 1);
            return;
        default:
            QVERIFY(wait_until([&] { return window()->m_partNumber >= (fault == Limit ? 1 : 3); }, 60000));
        }
        QVERIFY(rig.stop());
        log = rig.logEntries();
    }
    changer.stop();
    QVERIFY(rig.archiverIdle());
    const Series series = read_series();
    QVERIFY2(series.error.isEmpty(), qPrintable(series.error));
    if (fault == LiveGraphsOnly) {
        QVERIFY(series.names.isEmpty() && window()->m_partNumber == 0);
        return;
    }
    QString error;
    const QStringList recorded = recorded_reads(series, &error);
    const QStringList answered = answered_reads(rig.cpe, script);
    QVERIFY(answered.size() > 5);

    if (qEnvironmentVariableIsSet("DEBUG_REC")) { QStringList p; for (const auto &part : series.parts) { for (const auto &r : part) p << QString("%1:%2").arg(r.period).arg(describe(r).left(12)); p << "|"; } qInfo() << p.join(' ').left(3000); qInfo() << answered.size() << recorded.size(); }
    if (fault == CircularHalves) {
        // First block, then the newer half A, then the older half B.
        QVERIFY(series.names.size() == 1 && series.names[0].endsWith(QLatin1String("CircularShowTime.bin")));
        int first = 0;
        while (first < recorded.size() && recorded[first] == answered.value(first))
            ++first;
        const QStringList halves = recorded.mid(first);
        const int olderStart = answered.size() - halves.size();
        bool layout = false;
        for (int newerStart = olderStart + 1; newerStart < answered.size(); ++newerStart)
            layout = layout || halves == answered.mid(newerStart) + answered.mid(olderStart, newerStart - olderStart);
        QVERIFY2(layout && first > 0 && olderStart > first, qPrintable(QStringLiteral("first block %1, halves %2 of %3")
                     .arg(first).arg(halves.size()).arg(answered.size())));
        return;
    }

    QVERIFY2(error.isEmpty() || fault == WriteLoss, qPrintable(error));
    if (fault == WriteLoss) {
        // The oldest kept records went, and one line says how many bytes.
        const QStringList lost = log.filter(QStringLiteral("bytes of records were lost"));
        QCOMPARE(lost.size(), 1);
        const qint64 bytes = lost[0].section(QLatin1String("ERROR: "), 1).section(QLatin1Char(' '), 0, 0).toLongLong();
        QVERIFY(bytes > 0);
        QCOMPARE(series.bytes + bytes, qint64(window()->m_iteration) * (106 + 2 * words));
        int head = 0;
        while (head < recorded.size() && recorded[head] == answered[head])
            ++head;
        const int gap = answered.size() - recorded.size();
        QVERIFY(gap > 0 && recorded.mid(head) == answered.mid(head + gap));
    } else {
        QCOMPARE(recorded.size(), answered.size());
        QVERIFY(recorded == answered);
    }
    if (firstPart >= 0) {
        QSet<int> periods;
        for (const ResultRecord &r : series.parts[0])
            periods << r.period;
        QCOMPARE(periods.size(), firstPart);
    }

    // A part with a complete archive keeps no ".bin"; only a test's last part stays unpacked.
    QCOMPARE(series.packedAndBin, 0);
    const int tests = lines_with(log, QStringLiteral("Test Started"));
    QCOMPARE(series.binOnly, fault == ArchiverFails ? series.names.size() : tests);
    QCOMPARE(lines_with(log, QStringLiteral("could not be archived")), fault == ArchiverFails ? series.names.size() - 1 : 0);
    const int episodes = fault == WriteEpisodes ? 2 : fault == WriteLoss ? 1 : 0;
    QCOMPARE(lines_with(log, QStringLiteral("Result file cannot be opened")), episodes);
    QCOMPARE(rig.answerer.seen.filter(QStringLiteral("Error|")).size(), fault == CircularEpisode ? 1 : 0);
    if (fault == LineDrop || fault == Soak)
        QVERIFY(series.names.filter(QStringLiteral("LINKDROP")).size() >= 1);
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
