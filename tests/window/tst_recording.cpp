// Recording end to end, one row per fault. The oracle: every read the CPE answered whole is in exactly one
// record of one part, in order, archives included; each period opens with its state read and time stamp.

#include <QtTest>

#include "rig.h"
#include "ui_Vemu.h"

#include <QProcess>

namespace {

enum Fault { Limit, LineDrop, BusyArchiver, ArchiverFails, WriteEpisodes, WriteLoss, CircularEpisode,
             CircularHalves, LiveGraphsOnly, RepeatedRuns, Soak, ClosedWhileFailing,
             // The window's recording calls made directly on a prepared record buffer: megabytes in a moment.
             CircularLimit, CircularTurns, DropAndClose, AutoClose };

const quint32 kMemory = 0x1000;

struct Series
{
    QStringList names; // each part by its ".bin" path
    QList<ResultRecord> records;
    QList<int> partPeriods; // the number after the last period of each part
    int binOnly = 0, packedAndBin = 0;
    qint64 bytes = 0;
    QString error;
};

// Every part in "Results", packed or not, in order of base name and number.
Series read_series()
{
    static const QRegularExpression part(QStringLiteral("^(.*_part)(\\d+)(\\D*)\\.(bin|7z)$"));
    QMap<QPair<QString, int>, QString> names;
    for (const QString &file : QDir(QStringLiteral("Results")).entryList(QDir::Files)) {
        const QRegularExpressionMatch m = part.match(file);
        if (m.hasMatch())
            names[qMakePair(m.captured(1), m.captured(2).toInt())]
                = QStringLiteral("Results/") + m.captured(1) + m.captured(2) + m.captured(3) + QStringLiteral(".bin");
    }
    Series s;
    for (auto it = names.cbegin(); it != names.cend(); ++it) {
        s.names << it.value();
        const bool packed = QFileInfo::exists(it.value().chopped(4) + QStringLiteral(".7z"));
        (packed ? s.packedAndBin : s.binOnly) += QFileInfo::exists(it.value());
        const QByteArray bytes = Rig::partBytes(it.value(), &s.error);
        QList<ResultRecord> records;
        read_result_records(bytes, &records, &s.error);
        s.partPeriods << (records.isEmpty() ? 0 : records.last().period + 1);
        s.records += records;
        s.bytes += bytes.size();
    }
    return s;
}

// The reads of the series, described, less state reads and time stamps.
QStringList recorded_reads(const Series &s, QString *error)
{
    const auto state = [&](int i) { return s.records[i].kind == 0 && s.records[i].group == 2 && s.records[i].address8 == 0; };
    QStringList reads;
    for (int i = 0; i < s.records.size(); ++i) {
        // A part closed after a line drop may end between the two.
        if ((i == 0 || s.records[i].period != s.records[i - 1].period)
            && (!state(i) || i + 1 == s.records.size() || s.records[i + 1].kind != 7))
            *error = QStringLiteral("period %1 opens without its state read and time stamp").arg(s.records[i].period);
        if (s.records[i].kind != 7 && !state(i))
            reads << describe(s.records[i]);
    }
    return reads;
}

// The reads of the script (CMV INFO 10, 4 words; memory at kMemory) that the
// CPE answered whole, from its own log: chunks in order on one connection.
QStringList answered_reads(const SimCpe &cpe, int words)
{
    const QList<SimRequest> sent = cpe.requests(); // numbered on from the first
    QStringList reads;
    ResultRecord read;
    int connection = -1;
    for (const SimAnswer &a : cpe.answers()) {
        const SimRequest r = sent.value(a.requestSeq - sent.value(0).seq);
        const QByteArray payload = a.bytes.mid(12, r.count * r.width);
        if (r.isCmvRead(3, 10)) {
            reads << describe(ResultRecord{0, 0, 3, 10, 0, 0, payload, {}});
        } else if (r.kind == SimRequest::MemoryRead) {
            if (r.address == kMemory)
                read = ResultRecord{1, 0, 0, 0, qint32(kMemory), 0, {}, {}}, connection = a.connection;
            if (a.connection != connection || r.address != kMemory + read.data.size())
                connection = -1;
            else if ((read.data += payload).size() == 2 * words)
                reads << describe(read), connection = -1;
        }
    }
    return reads;
}

// While a folder stands in its place the part cannot be written; what it
// held waits aside.
void block(const QString &part, bool blocked)
{
    const QString aside = part + QStringLiteral(".aside");
    if (blocked) {
        QFile::rename(part, aside);
        QDir().mkdir(part);
    } else if (QDir().rmdir(part)) {
        QFile::rename(aside, part);
    }
}

void install_archiver(const ScopedWorkFolder &folder, const QByteArray &script)
{
    QDir().mkpath(QStringLiteral("7z"));
    folder.writeFile(QStringLiteral("7z/7za"), "#!/bin/sh\n" + script + "\n");
    QFile::setPermissions(QStringLiteral("7z/7za"), QFile::permissions(QStringLiteral("7z/7za")) | QFileDevice::ExeOwner);
}

// A record of `bytes` bytes in all, told apart by its period counter.
QByteArray record(qint16 period, int bytes)
{
    QByteArray r;
    QDataStream(&r, QIODevice::WriteOnly) << qint8(1) << period << qint32(kMemory) << QByteArray(bytes - 11, 'r');
    return r;
}

// The period counters of a part's records, in file order.
QString periods_in(const QString &part)
{
    QString error, text;
    QList<ResultRecord> records;
    read_result_records(Rig::partBytes(part, &error), &records, &error);
    for (const ResultRecord &r : records)
        text += QString::number(r.period);
    return error.isEmpty() ? text : error;
}

void flush_directly(Rig &rig, int fault)
{
    QVERIFY(rig.open(false));
    Vemu *w = rig.window.data();
    const auto part = [w] { return w->ui->m_EoutputFile->text(); };
    const auto flush = [w](int period, int bytes) { w->m_iterationBuffer += record(qint16(period), bytes); w->write_result_file(); };
    w->ui->m_EoutputFile->setText("c_part0.bin");
    w->ui->m_Ccircbuff->setChecked(fault != AutoClose);
    w->ui->m_SoutputFileSize->setValue(fault == CircularLimit ? 2 : 1);
    Vemu::s_circularToggle = 1;
    if (fault == CircularLimit) { // before arming, five times the normal limit
        flush(0, 10000000);
        QVERIFY(!w->m_partFull);
        flush(1, 11);
        QVERIFY(w->m_partFull && periods_in(part()) == "01");
    } else if (fault == CircularTurns) {
        // Armed in showtime it appends; then the first block stays, and the half filled turns past 5,000,000 bytes.
        w->m_circularArmed = w->m_showtimeFlag = true;
        const int sizes[] = {100, 100, 5000000, 11, 5000000, 11, 11};
        const QStringList files{"0 1", "01 1", "012 1", "0123 0", "01234 0", "012345 1", "01645 1"};
        for (int i = 0; i < files.size(); ++i, w->m_showtimeFlag = false) {
            flush(i, sizes[i]);
            QCOMPARE(QStringLiteral("%1 %2 %3").arg(part(), periods_in(part())).arg(Vemu::s_circularToggle),
                     (i ? "c_part0CircularShowTime.bin " : "c_part0.bin ") + files[i]);
            QVERIFY(!w->m_partFull);
        }
    } else if (fault == DropAndClose) {
        // A drop from showtime writes the buffer at once, on either platform.
        w->m_testRunning = true;
        for (bool korra : {true, false}) {
            QByteArray header = QByteArray::fromHex(korra ? "000040100002000200000002" : "0000000200000000"), word = be_words({2});
            w->m_previousCpeState = w->m_cpeState = korra ? 107 : 7;
            w->m_iterationBuffer = record(!korra, 20);
            korra ? w->handle_state_answer(header, word) : w->handle_legacy_state_answer(header, word);
            QVERIFY(w->m_iterationBuffer.isEmpty() && w->m_partFull && w->m_linkDropped);
        }
        // Each close writes the buffer into the part it closes; one in state 7 or 8 starts the next in showtime.
        const quint16 states[] = {107, 8, 109, 105};
        const QStringList closed{"c_part0LINKDROP.bin 012 1", "c_part1.bin 3 1", "c_part2.bin 4 0", "c_part3.bin 5 0"};
        for (int i = 0; i < closed.size(); ++i) {
            w->m_showtimeFlag = false, w->m_cpeState = states[i], w->m_iterationBuffer = record(qint16(2 + i), 20);
            w->close_result_part();
            QVERIFY(!w->m_partFull && rig.archiverIdle());
            const QString name = closed[i].section(' ', 0, 0);
            QCOMPARE(QStringLiteral("%1 %2 %3").arg(name, periods_in(name)).arg(w->m_showtimeFlag), closed[i]);
        }
        QCOMPARE(part(), "c_part4.bin");
        w->m_testRunning = false;
    } else { // the close timer of an unattended run writes the buffer before the window goes
        w->m_iterationBuffer = record(0, 20);
        w->m_automationCloseTimer->start(0);
        QVERIFY(wait_until([w] { return !w->m_automationCloseTimer->isActive(); }, 10000));
        QCOMPARE(periods_in(part()), "0");
    }
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
    QTest::addColumn<int>("words");     // the memory read; a period is 106 + 2 x words bytes
    QTest::addColumn<int>("firstPart"); // periods in part 0; -1: not checked
    QTest::newRow("part limit just under: 8 periods 999,984 bytes") << int(Limit) << 62446 << 9;
    QTest::newRow("part limit at: 8 periods 1,000,000 bytes") << int(Limit) << 62447 << 9;
    QTest::newRow("part limit just over: 8 periods 1,000,016 bytes") << int(Limit) << 62448 << 8;
    QTest::newRow("line drop") << int(LineDrop) << 30000 << -1;
    QTest::newRow("busy archiver, stop while it packs") << int(BusyArchiver) << 62447 << 9;
    QTest::newRow("archiver fails") << int(ArchiverFails) << 62447 << 9;
    QTest::newRow("write failure episodes") << int(WriteEpisodes) << 62447 << -1;
    QTest::newRow("write failure past the part's size") << int(WriteLoss) << 62447 << -1;
    QTest::newRow("circular, write failure episode") << int(CircularEpisode) << 62447 << -1;
    QTest::newRow("circular halves after a turn") << int(CircularHalves) << 62447 << -1;
    QTest::newRow("live graphs only") << int(LiveGraphsOnly) << 62447 << -1;
    QTest::newRow("repeated unattended runs") << int(RepeatedRuns) << 62447 << -1;
    QTest::newRow("short soak") << int(Soak) << 20000 << -1;
    QTest::newRow("closed while writes fail and the archiver packs") << int(ClosedWhileFailing) << 30000 << -1;
    QTest::newRow("circular part limit before arming") << int(CircularLimit) << 0 << -1;
    QTest::newRow("circular halves turn past 5,000,000 bytes") << int(CircularTurns) << 0 << -1;
    QTest::newRow("line drop writes the buffer, closes carry it and the showtime") << int(DropAndClose) << 0 << -1;
    QTest::newRow("close timer writes the buffer") << int(AutoClose) << 0 << -1;
}

void TestRecording::scenario()
{
    SKIP_ROW_OF_OTHER_SHARD();
    QFETCH(int, fault);
    QFETCH(int, words);
    QFETCH(int, firstPart);
    Rig rig;
    if (fault >= CircularLimit)
        return flush_directly(rig, fault);
    QByteArray memory;
    for (int i = 0; i < 2 * words; ++i)
        memory += char(i * 13 + i / 256);
    rig.cpe.setMemory(kMemory, memory);
    // Contents change as the run goes on: a record doubled, misplaced or from the wrong answer shows.
    quint16 tick = 0;
    QTimer changer;
    connect(&changer, &QTimer::timeout, [&] {
        ++tick;
        rig.cpe.setMemory16(kMemory + 2 * (tick % words), tick);
        rig.cpe.setCmvWord(3, 10, tick % 4, tick);
    });
    changer.start(10);
    rig.cpe.setLineState(fault == CircularEpisode ? 3 : 7);
    if (fault == LineDrop || fault == Soak || fault == ClosedWhileFailing)
        rig.cpe.setStateScript(fault == ClosedWhileFailing ? QList<StateStep>{{7, 0, 8}, {3, 0, 0}}
                                                           : QList<StateStep>{{7, 0, 12}, {0, 0, 3}, {7, 0, 0}}, fault == Soak);
    if (fault == BusyArchiver || fault == ClosedWhileFailing || fault == ArchiverFails)
        install_archiver(rig.folder, fault == ArchiverFails ? "exit 3" : "sleep 0.5; exec 7za \"$@\"");
    // Armed while half B fills (as a second capture in one program run may be), it turns once B is full.
    Vemu::s_circularToggle = fault == CircularHalves ? 0 : 1;
    QStringList log;
    Vemu *window = nullptr;
    const auto periods = [&](int n) { return rig.waitPeriods(window->m_iteration + n, 120000); };

    if (fault == RepeatedRuns) {
        rig.folder.writeFile(QStringLiteral("script.txt"), QStringLiteral("cr INFO 10 0 4\nmr 0x1000 %1\n").arg(words).toUtf8());
        rig.folder.writeFile(QStringLiteral("InputForDebugTool.txt"),
                             "[default_parameters]\nresult_file_name=rep\nminimum_showtime=600\nlink_number=1\n");
        rig.writeIni(QStringLiteral("input_file=%1\noutput_file=out\nfile_size=1\nautomation=1\npolling_time=0\n")
                         .arg(rig.folder.filePath(QStringLiteral("script.txt"))));
        for (int run = 0; run < 2; ++run) {
            const int stored = read_series().names.size();
            QVERIFY(rig.open(false));
            window = rig.window.data();
            // The run ends as its close timer would end it, once two parts are packed.
            QVERIFY(wait_until([&] { return window->m_partNumber >= stored + 2; }, 120000));
            window->m_automationCloseTimer->stop();
            window->automation_close();
            window->m_stopTimer->stop();
            QVERIFY(wait_until([&] { return !window->m_connected && !rig.logEntries().filter("Test Stopped").isEmpty(); }, 30000));
            QVERIFY(rig.archiverIdle());
            log << rig.logEntries();
            // The test names the file it writes: the one after the parts stored before.
            QCOMPARE(rig.logEntries().filter(QStringLiteral("Result file name: Results/rep_L1_part%1.bin").arg(stored)).size(), 1);
        }
    } else {
        rig.writeIni(QStringLiteral("polling_time=0\noutput_file=out\nfile_size=1\n"));
        QVERIFY(rig.open());
        window = rig.window.data();
        rig.add(new CMV(3, 10, 0, 4, QStringLiteral(",3,7,8,9,"), false));
        rig.add(new MEMORY(2, kMemory, quint32(words), QStringLiteral(",3,7,8,9,"), false));
        window->ui->m_Ccircbuff->setChecked(fault == CircularEpisode || fault == CircularHalves || fault == ClosedWhileFailing);
        window->ui->m_CliveDebugging->setChecked(fault == LiveGraphsOnly);
        QVERIFY(rig.start());
        QCOMPARE(rig.logEntries().filter(QStringLiteral("Result file name: ") + window->ui->m_EoutputFile->text()).size(), 1);
        switch (Fault(fault)) {
        case WriteEpisodes:
        case WriteLoss:
        case CircularEpisode:
            for (int episode = 0; episode < (fault == WriteEpisodes ? 2 : 1); ++episode) {
                QVERIFY(periods(2));
                const QString part = window->ui->m_EoutputFile->text();
                block(part, true);
                QVERIFY(periods(fault == WriteLoss ? 12 : 3));
                block(part, false);
            }
            QVERIFY(periods(2));
            break;
        case CircularHalves:
            QVERIFY(wait_until([] { return Vemu::s_circularToggle == 1; }, 120000) && periods(3));
            break;
        case LiveGraphsOnly:
            QVERIFY(periods(10));
            break;
        case Soak:
            QVERIFY(wait_until([&] { return rig.cpe.answerCount() > 2000; }, 60000));
            rig.cpe.closeAfterAnswers(1);
            QVERIFY(wait_until([&] { return window->m_waitingTimer->isActive(); }, 10000));
            // The cut period's 3 s end and the 5 s wait to reconnect: their slots run at once, in order.
            window->m_stopTimer->stop();
            window->stop_processing();
            window->m_waitingTimer->stop();
            window->waitingTimer();
            QVERIFY(wait_until([&] { return window->m_testRunning && rig.cpe.answerCount() > 5000; }, 60000));
            break;
        case ClosedWhileFailing: {
            QVERIFY(wait_until([&] { return window->m_partNumber == 1 && !window->m_iterationBuffer.isEmpty()
                                            && window->m_compressor->state() != QProcess::NotRunning; }, 60000));
            const QString part = window->ui->m_EoutputFile->text();
            block(part, true);
            changer.stop();
            rig.window.reset();
            block(part, false);
            // No box while the window goes: its log says it all.
            QVERIFY(rig.answerer.seen.filter(QStringLiteral("Error|")).isEmpty());
            QFile session(QDir(QStringLiteral("Results/Logs")).entryInfoList(QDir::Files).value(0).filePath());
            QVERIFY(session.open(QIODevice::ReadOnly));
            const QByteArray text = session.readAll();
            QVERIFY(text.contains("Result file cannot be opened.") && text.contains("bytes of records were lost"));
            const Series series = read_series();
            QString error;
            const QStringList recorded = recorded_reads(series, &error);
            QVERIFY(!recorded.isEmpty() && answered_reads(rig.cpe, words).mid(0, recorded.size()) == recorded);
            QVERIFY(series.packedAndBin == 0 && series.names[0].endsWith(QLatin1String("LINKDROP.bin")));
            return;
        }
        default:
            QVERIFY(wait_until([&] { return window->m_partNumber >= (fault == Limit ? 1 : 2); }, 120000));
        }
        window->on_m_Bstart_clicked();
        window->m_stopTimer->stop(); // the period ends whole, however slow the machine
        QVERIFY(wait_until([&] { return rig.stopped(); }, 120000));
        log = rig.logEntries();
    }
    changer.stop();
    QVERIFY(rig.archiverIdle());
    const Series series = read_series();
    QVERIFY2(series.error.isEmpty(), qPrintable(series.error));
    if (fault == LiveGraphsOnly) {
        QVERIFY(series.names.isEmpty() && window->m_partNumber == 0);
        return;
    }
    QString error;
    const QStringList recorded = recorded_reads(series, &error);
    const QStringList answered = answered_reads(rig.cpe, words);
    int head = 0;
    while (head < recorded.size() && head < answered.size() && recorded[head] == answered[head])
        ++head;

    if (fault == CircularHalves) {
        // The first block, then the newer half A, then the older half B.
        QVERIFY(series.names.size() == 1 && series.names[0].endsWith(QLatin1String("CircularShowTime.bin")));
        const QStringList halves = recorded.mid(head);
        const int older = answered.size() - halves.size();
        bool layout = false;
        for (int newer = older + 1; newer < answered.size(); ++newer)
            layout = layout || halves == answered.mid(newer) + answered.mid(older, newer - older);
        QVERIFY2(layout && head > 0 && older >= head,
                 qPrintable(QStringLiteral("first block %1, halves %2 of %3").arg(head).arg(halves.size()).arg(answered.size())));
        return;
    }
    if (fault == WriteLoss) {
        // The oldest kept records went, and one red line says how many bytes.
        const QStringList lost = log.filter(QStringLiteral("bytes of records were lost"));
        QVERIFY(lost.size() == 1 && lost[0].startsWith(QLatin1String("red|S|ERROR: ")));
        const qint64 bytes = lost[0].section(QLatin1Char(' '), 1, 1).toLongLong();
        QCOMPARE(series.bytes + bytes, qint64(window->m_iteration) * (106 + 2 * words));
        const int gap = answered.size() - recorded.size();
        QVERIFY(bytes > 0 && gap > 0 && recorded.mid(head) == answered.mid(head + gap));
    } else {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY2(recorded == answered && answered.size() > 5,
                 qPrintable(QStringLiteral("%1 reads recorded, %2 answered").arg(recorded.size()).arg(answered.size())));
    }
    if (firstPart >= 0)
        QCOMPARE(series.partPeriods.value(0), firstPart);

    // A part with a complete archive keeps no ".bin"; only a test's last part stays unpacked.
    QCOMPARE(series.packedAndBin, 0);
    QCOMPARE(series.binOnly, fault == ArchiverFails ? series.names.size() : log.filter("Test Started").size());
    QCOMPARE(log.filter("could not be archived").size(), fault == ArchiverFails ? series.names.size() - 1 : 0);
    QCOMPARE(log.filter("red|S|ERROR: Result file cannot be opened").size(), fault == WriteEpisodes ? 2 : int(fault == WriteLoss));
    QCOMPARE(rig.answerer.seen.filter(QStringLiteral("Error|")).size(), fault == CircularEpisode ? 1 : 0);
    if (fault == LineDrop || fault == Soak)
        QVERIFY(!series.names.filter(QStringLiteral("LINKDROP")).isEmpty());
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
