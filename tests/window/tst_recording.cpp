#include <QtTest>

#include "Vemu.h"
#include "ui_Vemu.h"
#include "test_support.h"
#include "polling_rig.h"
#include "result_records.h"

#include <QProcess>

#include <csignal>
#include <sys/resource.h>

namespace {

const QString kPart0 = QStringLiteral("Results/out_2014_03_06_10_00_00_part0.bin");
const QString kStem = QStringLiteral("Results/out_2014_03_06_10_00_00_part");

// A memory read record of `total` bytes in all (11 bytes of fields + data).
QByteArray record(qint16 period, qint32 address, int total)
{
    QByteArray out, data(total - 11, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(address * 7 + i);
    append_memory_read_record(out, 1, quint16(period), address, data);
    return out;
}

QByteArray records(int count, int total, qint32 *address)
{
    QByteArray out;
    for (int i = 0; i < count; ++i, ++*address)
        out += record(qint16(*address / 50), *address, total);
    return out;
}

QByteArray read_file(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray extract(const QString &archive)
{
    QProcess p;
    p.start(QStringLiteral("7za"), {QStringLiteral("e"), QStringLiteral("-so"), archive});
    p.waitForFinished(60000);
    return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray("<7za failed>");
}

void install_archiver(const QByteArray &script)
{
    QDir().mkpath(QStringLiteral("7z"));
    QFile f(QStringLiteral("7z/7za"));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("#!/bin/sh\n" + script + "\n");
    f.close();
    f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
}

bool archiver_idle(Vemu &w)
{
    return wait_until([&] { return w.m_compressor->state() == QProcess::NotRunning && w.m_archiveQueue.isEmpty(); },
                      60000);
}

int red_lines_with(Vemu &w, const QString &text)
{
    return log_text(&w).split(QLatin1Char('\n')).filter(text).size();
}

// Keeps the limit on file sizes for its lifetime, so writes past it fail as on
// a full disk (SIGXFSZ is ignored, so they fail with EFBIG instead).
struct FileSizeLimit
{
    explicit FileSizeLimit(rlim_t bytes)
    {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit l = saved;
        l.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &l);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved); }
    rlimit saved;
};

} // namespace

class TestRecording : public QObject
{
    Q_OBJECT

private:
    ScopedWorkFolder *m_folder = nullptr;
    ModalAnswerer *m_answerer = nullptr;
    Vemu *m_window = nullptr;
    Vemu &w() { return *m_window; }
    // The records of every part of the series, in part order, archives
    // extracted; a part present both packed and unpacked must agree.
    QByteArray all_parts(int parts, QStringList *names, const QString &stem = kStem);

private slots:
    void init();
    void cleanup();
    void partLimit_data();
    void partLimit();
    void seriesWithLinkDropAndBusyArchiver();
    void removalOnlyDuringPeriod();
    void archiverFailures_data();
    void archiverFailures();
    void normalWriteFailures();
    void circularLayoutAndSecondCapture();
    void circularFillAndArmInOnePeriod();
    void circularRewriteFailureKeepsPart();
    void circularArmedWithEmptyBuffer();
    void liveGraphsOnly();
    void partNames();
    void outputFileChoice_data();
    void outputFileChoice();
    void againstCpe_data();
    void againstCpe();
};

void TestRecording::init()
{
    m_folder = new ScopedWorkFolder;
    m_answerer = new ModalAnswerer;
    m_window = new Vemu;
    QDir().mkpath(QStringLiteral("Results"));
    w().ui->m_EoutputFile->setText(kPart0);
    w().ui->m_SoutputFileSize->setValue(1);
    w().ui->m_CliveDebugging->setChecked(false);
    w().ui->m_Ccircbuff->setChecked(false);
    w().m_periodActive = true;
    w().m_cpeState = 0;
}

void TestRecording::cleanup()
{
    if (m_window)
        archiver_idle(w());
    delete m_window;
    delete m_answerer;
    delete m_folder;
}

QByteArray TestRecording::all_parts(int parts, QStringList *names, const QString &stem)
{
    QByteArray all;
    for (int n = 0; n < parts; ++n) {
        QString base;
        for (const char *ending : {"", "LINKDROP", "CircularShowTime", "CircularShowTimeLINKDROP"}) {
            const QString candidate = stem + QString::number(n) + QLatin1String(ending);
            if (QFile::exists(candidate + QStringLiteral(".7z")) || QFile::exists(candidate + QStringLiteral(".bin")))
                base = candidate;
        }
        names->append(base);
        const QString bin = base + QStringLiteral(".bin");
        const QString packed = base + QStringLiteral(".7z");
        const QByteArray part = QFile::exists(packed) ? extract(packed) : read_file(bin);
        if (QFile::exists(packed) && QFile::exists(bin) && read_file(bin) != part)
            all += "<packed and unpacked differ>";
        all += part;
    }
    return all;
}

void TestRecording::partLimit_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("lastSize");
    QTest::addColumn<bool>("oneFlush");
    QTest::addColumn<bool>("full");
    // Records of 1000 bytes, the last one of lastSize.
    QTest::newRow("just under, record by record") << 1000 << 999 << false << false;
    QTest::newRow("exactly 1000000, record by record") << 1000 << 1000 << false << false;
    QTest::newRow("exactly 1000000, one flush") << 1000 << 1000 << true << false;
    QTest::newRow("just over, record by record") << 1000 << 1001 << false << true;
    QTest::newRow("just over, one flush") << 1000 << 1001 << true << true;
}

void TestRecording::partLimit()
{
    QFETCH(int, count);
    QFETCH(int, lastSize);
    QFETCH(bool, oneFlush);
    QFETCH(bool, full);
    qint32 address = 0;
    QByteArray made;
    for (int i = 0; i < count; ++i) {
        const QByteArray r = i + 1 < count ? records(1, 1000, &address) : records(1, lastSize, &address);
        made += r;
        w().m_iterationBuffer += r;
        if (!oneFlush) {
            w().write_result_file();
            QVERIFY(w().m_iterationBuffer.isEmpty());
            QCOMPARE(w().m_partFull, full && i + 1 == count);
        }
    }
    if (oneFlush)
        w().write_result_file();
    QCOMPARE(w().m_partFull, full);
    QCOMPARE(read_file(kPart0), made);

    w().m_periodActive = true;
    w().close_result_part();
    QCOMPARE(w().m_partNumber, 1);
    QCOMPARE(w().m_partFull, false);
    QCOMPARE(w().ui->m_EoutputFile->text(), kStem + QStringLiteral("1.bin"));
    QVERIFY(archiver_idle(w()));
    QVERIFY(!QFile::exists(kPart0));
    QCOMPARE(extract(kStem + QStringLiteral("0.7z")), made);
}

void TestRecording::seriesWithLinkDropAndBusyArchiver()
{
    install_archiver("sleep 0.3; exec 7za \"$@\"");
    qint32 address = 0;
    QByteArray made;
    int closes = 0;
    // 60 periods of 60 records of 1200 bytes with a flush each third of a
    // period, a link drop at period 30; the scheduler closes a full part at
    // the end of its period.
    for (int period = 0; period < 60; ++period) {
        for (int flush = 0; flush < 3; ++flush) {
            const QByteArray r = records(20, 1200, &address);
            made += r;
            w().m_iterationBuffer += r;
            w().write_result_file();
        }
        if (period == 30) {
            w().m_linkDropped = true;
            const QString dropped = w().ui->m_EoutputFile->text();
            w().close_result_part();
            ++closes;
            QVERIFY(QFile::exists(dropped.chopped(4) + QStringLiteral("LINKDROP.bin")));
            QVERIFY(!QFile::exists(dropped));
            QCOMPARE(w().ui->m_EoutputFile->text(), kStem + QString::number(closes) + QStringLiteral(".bin"));
            QVERIFY(!w().m_linkDropped);
        } else if (w().m_partFull) {
            w().close_result_part();
            ++closes;
        }
    }
    QCOMPARE(w().m_partNumber, closes);
    QVERIFY(closes >= 5);
    // Parts closed faster than the archiver works are queued.
    QVERIFY(!w().m_archiveQueue.isEmpty());
    QVERIFY(archiver_idle(w()));
    w().write_result_file();

    QStringList names;
    const QByteArray all = all_parts(closes + 1, &names);
    QCOMPARE(all.size(), made.size());
    QVERIFY(all == made);
    QList<ResultRecord> read;
    QVERIFY(read_result_records(all, &read));
    QCOMPARE(read.size(), 60 * 60);
    QCOMPARE(names.filter(QStringLiteral("LINKDROP")).size(), 1);
    for (int n = 0; n < closes; ++n) {
        QVERIFY2(QFile::exists(names[n] + QStringLiteral(".7z")), qPrintable(names[n]));
        QVERIFY2(!QFile::exists(names[n] + QStringLiteral(".bin")), qPrintable(names[n]));
    }
    QVERIFY(QFile::exists(names.last() + QStringLiteral(".bin")));
    QVERIFY(!log_text(&w()).contains(QStringLiteral("ERROR")));
}

void TestRecording::removalOnlyDuringPeriod()
{
    qint32 address = 0;
    const QByteArray made = records(10, 100, &address);
    w().m_iterationBuffer = made;
    w().close_result_part();
    w().m_periodActive = false;
    QVERIFY(archiver_idle(w()));
    QVERIFY(QFile::exists(kStem + QStringLiteral("0.7z")));
    QCOMPARE(read_file(kPart0), made);

    // Between periods nothing is removed, however often the buffer is flushed.
    w().write_result_file();
    QVERIFY(QFile::exists(kPart0));

    // The removal owed waits for the next period instead of being forgotten.
    w().m_periodActive = true;
    w().write_result_file();
    QVERIFY(!QFile::exists(kPart0));
    QCOMPARE(extract(kStem + QStringLiteral("0.7z")), made);
}

void TestRecording::archiverFailures_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("cannot be started");
    QTest::newRow("exits with 3") << QByteArray("sleep 0.2; exit 3") << QStringLiteral("ended with code 3");
    QTest::newRow("makes no archive") << QByteArray("exit 0") << QStringLiteral("no archive was made");
    QTest::newRow("crashes") << QByteArray("kill -SEGV $$") << QStringLiteral("crashed");
}

void TestRecording::archiverFailures()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, reason);
    const QByteArray path = qgetenv("PATH");
    if (script.isEmpty())
        qputenv("PATH", "/nonexistent");
    else
        install_archiver(script);

    qint32 address = 0;
    QByteArray made[2];
    for (QByteArray &part : made) {
        part = records(5, 100, &address);
        w().m_iterationBuffer = part;
        w().close_result_part();
    }
    const bool idle = archiver_idle(w());
    qputenv("PATH", path);
    QVERIFY(idle);
    for (int n = 0; n < 2; ++n) {
        const QString bin = kStem + QString::number(n) + QStringLiteral(".bin");
        QCOMPARE(read_file(bin), made[n]);
        QCOMPARE(red_lines_with(w(), QStringLiteral("Result part ") + bin + QStringLiteral(" could not be archived")), 1);
    }
    QCOMPARE(red_lines_with(w(), reason), 2);
}

void TestRecording::normalWriteFailures()
{
    qint32 address = 0;
    // A part whose folder cannot exist: the records wait in the buffer.
    QFile blocker(QStringLiteral("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    w().ui->m_EoutputFile->setText(QStringLiteral("blocker/out_part0.bin"));
    const QByteArray first = records(10, 100, &address);
    w().m_iterationBuffer = first;
    w().write_result_file();
    QCOMPARE(w().m_iterationBuffer, first);
    QCOMPARE(red_lines_with(w(), QStringLiteral("ERROR: Result file cannot be opened ! Data could not be written !")), 1);

    // A disk that fills in the middle of a write: the part is cut back to its
    // last whole record and the records are written by the next flush.
    w().ui->m_EoutputFile->setText(kPart0);
    w().write_result_file();
    QCOMPARE(read_file(kPart0), first);
    const QByteArray second = records(20, 100, &address);
    w().m_iterationBuffer = second;
    {
        FileSizeLimit limit(first.size() + 1050);
        w().write_result_file();
    }
    QCOMPARE(read_file(kPart0), first);
    QCOMPARE(w().m_iterationBuffer, second);
    QCOMPARE(red_lines_with(w(), QStringLiteral("ERROR: Result file could not be written")), 1);
    const QByteArray third = records(3, 100, &address);
    w().m_iterationBuffer += third;
    w().write_result_file();
    QCOMPARE(read_file(kPart0), first + second + third);
    QVERIFY(w().m_iterationBuffer.isEmpty());
}

void TestRecording::circularLayoutAndSecondCapture()
{
    w().ui->m_Ccircbuff->setChecked(true);
    const QString armedName = kStem + QStringLiteral("0CircularShowTime.bin");
    qint32 address = 0;
    auto flush = [&](int count, int size) {
        const QByteArray r = records(count, size, &address);
        w().m_iterationBuffer = r;
        w().write_result_file();
        return r;
    };

    // Plain until armed; the limit is five times the normal one.
    const QByteArray p1 = flush(10, 100);
    QCOMPARE(read_file(kPart0), p1);
    QCOMPARE(w().m_partBuffer, p1);
    const QByteArray p2 = flush(1000, 1000);
    QVERIFY(!w().m_partFull);

    w().m_circularArmed = true;
    const QByteArray arming = flush(5, 100);
    const QByteArray first = p1 + p2 + arming;
    QCOMPARE(w().ui->m_EoutputFile->text(), armedName);
    QVERIFY(!QFile::exists(kPart0));
    QCOMPARE(read_file(armedName), first);
    QCOMPARE(w().m_circularBufferA, arming);
    QVERIFY(w().m_firstBlockInA);

    // Toggle 1: half A drops its copy of the arming flush and fills.
    QByteArray a = flush(3, 100);
    QCOMPARE(read_file(armedName), first + a);
    for (int i = 0; i < 5; ++i)
        a += flush(1000, 1001);
    QCOMPARE(Vemu::s_circularToggle, 0);
    QCOMPARE(read_file(armedName), first + a);
    QByteArray b = flush(2, 100);
    QCOMPARE(read_file(armedName), first + a + b);
    QVERIFY(!w().m_partFull);

    // A link drop closes the capture; the next part starts plain.
    w().m_linkDropped = true;
    b += flush(2, 100);
    QVERIFY(w().m_partFull);
    w().close_result_part();
    const QString dropped = kStem + QStringLiteral("0CircularShowTimeLINKDROP");
    QVERIFY(archiver_idle(w()));
    QCOMPARE(extract(dropped + QStringLiteral(".7z")), first + a + b);
    QVERIFY(!w().m_circularArmed);
    QVERIFY(w().m_partBuffer.isEmpty() && w().m_circularBufferA.isEmpty() && w().m_circularBufferB.isEmpty());

    // Second capture in the same run: the toggle stays at 0, so half A keeps
    // the arming flush (also in the first block) while half B fills.
    const QString part1 = kStem + QStringLiteral("1.bin");
    const QString armed1 = kStem + QStringLiteral("1CircularShowTime.bin");
    QCOMPARE(w().ui->m_EoutputFile->text(), part1);
    const QByteArray q1 = flush(4, 100);
    w().m_circularArmed = true;
    const QByteArray arming2 = flush(4, 100);
    QCOMPARE(read_file(armed1), q1 + arming2);
    b = flush(3, 100);
    QCOMPARE(read_file(armed1), q1 + arming2 + arming2 + b);
    for (int i = 0; i < 5; ++i)
        b += flush(1000, 1001);
    QCOMPARE(Vemu::s_circularToggle, 1);
    // After the turn the newer half A comes before the older half B.
    a = flush(3, 100);
    QCOMPARE(read_file(armed1), q1 + arming2 + a + b);
    QCOMPARE(w().m_circularBufferA, a);
    QCOMPARE(w().m_circularBufferB, b);
}

void TestRecording::circularFillAndArmInOnePeriod()
{
    w().ui->m_Ccircbuff->setChecked(true);
    w().m_periodActive = false;
    qint32 address = 0;
    QByteArray made = records(5000, 1001, &address);
    w().m_iterationBuffer = made;
    w().write_result_file();
    QVERIFY(w().m_partFull);

    // End of the period: the capture is armed, then the full part is closed.
    const QByteArray arming = records(5, 100, &address);
    made += arming;
    w().m_iterationBuffer = arming;
    w().m_circularArmed = true;
    w().write_result_file();
    w().close_result_part();
    QVERIFY(archiver_idle(w()));
    QCOMPARE(read_file(kStem + QStringLiteral("0CircularShowTime.bin")), made);

    // Nothing of the closed part is written into the next one.
    const QByteArray next = records(5, 100, &address);
    w().m_iterationBuffer = next;
    w().write_result_file();
    w().write_result_file();
    QCOMPARE(read_file(kStem + QStringLiteral("1.bin")) + read_file(kStem + QStringLiteral("1CircularShowTime.bin")),
             next);
}

void TestRecording::circularRewriteFailureKeepsPart()
{
    w().ui->m_Ccircbuff->setChecked(true);
    qint32 address = 0;
    QByteArray first = records(10, 100, &address);
    w().m_iterationBuffer = first;
    w().write_result_file();

    // Plain append on a full disk: the part keeps its whole records and the
    // new ones wait in the buffer.
    const QByteArray late = records(20, 100, &address);
    w().m_iterationBuffer = late;
    {
        FileSizeLimit limit(first.size() + 500);
        w().write_result_file();
    }
    QCOMPARE(read_file(kPart0), first);
    QCOMPARE(w().m_iterationBuffer, late);
    QCOMPARE(m_answerer->seen.size(), 1);
    QVERIFY(m_answerer->seen.first().startsWith(QStringLiteral("Error|Result file could not be written")));
    first += late;

    w().m_circularArmed = true;
    w().write_result_file();
    const QString armed = w().ui->m_EoutputFile->text();
    QCOMPARE(read_file(armed), first);
    QCOMPARE(w().m_partBuffer, first);

    // A rewrite on a full disk leaves the previous part and no stray file.
    const QByteArray more = records(100, 100, &address);
    // With the toggle at 0 half A keeps its copy of the arming flush.
    const QByteArray expected = Vemu::s_circularToggle == 1 ? first + more : first + late + more;
    w().m_iterationBuffer = more;
    {
        FileSizeLimit limit(first.size() + 500);
        w().write_result_file();
    }
    QCOMPARE(read_file(armed), first);
    QCOMPARE(m_answerer->seen.size(), 2);
    QVERIFY(m_answerer->seen.last().startsWith(QStringLiteral("Error|Result file could not be written")));
    QCOMPARE(QDir(QStringLiteral("Results")).entryList(QDir::Files).size(), 1);

    // The next rewrite puts back everything held in memory.
    w().write_result_file();
    QCOMPARE(read_file(armed), expected);
}

void TestRecording::circularArmedWithEmptyBuffer()
{
    w().ui->m_Ccircbuff->setChecked(true);
    qint32 address = 0;
    const QByteArray plain = records(3, 100, &address);
    w().m_iterationBuffer = plain;
    w().write_result_file();
    w().m_circularArmed = true;
    w().write_result_file();
    const QString armed = kStem + QStringLiteral("0CircularShowTime.bin");
    QCOMPARE(w().ui->m_EoutputFile->text(), armed);

    // Both halves are still empty, so this flush arms the part once more.
    const QByteArray later = records(3, 100, &address);
    w().m_iterationBuffer = later;
    w().write_result_file();
    QCOMPARE(w().ui->m_EoutputFile->text(), armed);
    QCOMPARE(read_file(armed), plain + later);
    QCOMPARE(w().m_partBuffer, plain + later);
}

void TestRecording::liveGraphsOnly()
{
    w().ui->m_CliveDebugging->setChecked(true);
    w().ui->m_Ccircbuff->setChecked(true);
    qint32 address = 0;
    w().m_iterationBuffer = records(10, 100, &address);
    w().m_linkDropped = true;
    w().write_result_file();
    w().close_result_part();
    QVERIFY(w().m_iterationBuffer.isEmpty());
    QCOMPARE(w().m_partNumber, 0);
    QCOMPARE(w().ui->m_EoutputFile->text(), kPart0);
    QCOMPARE(w().m_compressor->state(), QProcess::NotRunning);
    QVERIFY(QDir(QStringLiteral("Results")).entryList(QDir::Files).isEmpty());
}

void TestRecording::partNames()
{
    const QString folder = QStringLiteral("Results/x.bin_1/out_2014_03_06_10_00_00_part2.bin");
    QVERIFY(QDir().mkpath(QStringLiteral("Results/x.bin_1")));
    w().ui->m_EoutputFile->setText(folder);
    w().m_partNumber = 2;
    w().m_linkDropped = true;
    w().m_iterationBuffer = record(0, 1, 20);
    w().close_result_part();
    QCOMPARE(w().ui->m_EoutputFile->text(), QStringLiteral("Results/x.bin_1/out_2014_03_06_10_00_00_part3.bin"));
    QVERIFY(archiver_idle(w()));
    QVERIFY(QFile::exists(QStringLiteral("Results/x.bin_1/out_2014_03_06_10_00_00_part2LINKDROP.7z")));
    QCOMPARE(Vemu::next_part_name(QStringLiteral("out_part2CircularShowTime.bin"), 3), QStringLiteral("out_part3.bin"));
    QCOMPARE(Vemu::next_part_name(QStringLiteral("Results/a_b/out.bin"), 1), QStringLiteral("Results/a_b/out_part1.bin"));
}

void TestRecording::outputFileChoice_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("base");
    QTest::newRow("cancelled") << QString() << QStringLiteral("unchanged");
    QTest::newRow("one ending") << QStringLiteral("run.bin") << QStringLiteral("run");
    QTest::newRow("two endings") << QStringLiteral("a.bin.bin") << QStringLiteral("a");
    QTest::newRow("folder with .bin") << QStringLiteral("d.bin/run.bin") << QStringLiteral("d.bin/run");
}

void TestRecording::outputFileChoice()
{
    QFETCH(QString, chosen);
    QFETCH(QString, base);
    QDir().mkpath(QStringLiteral("d.bin"));
    w().m_outputBase = QStringLiteral("unchanged");
    m_answerer->fileAnswer = chosen.isEmpty() ? QString() : m_folder->filePath(chosen);
    w().on_m_BoutputFile_clicked();
    QCOMPARE(m_answerer->seen, QStringList{QStringLiteral("Save Output File|Images (*.bin)")});
    if (chosen.isEmpty()) {
        QCOMPARE(w().m_outputBase, base);
        QCOMPARE(w().ui->m_EoutputFile->text(), kPart0);
        return;
    }
    QCOMPARE(w().m_outputBase, m_folder->filePath(base));
    const QString shown = w().ui->m_EoutputFile->text();
    QVERIFY(shown.startsWith(m_folder->filePath(base) + QLatin1Char('_')));
    QVERIFY(shown.endsWith(QStringLiteral("_part0.bin")));
    const QString stamp = shown.mid(m_folder->filePath(base).size() + 1).chopped(10);
    const QDateTime when = QDateTime::fromString(stamp, QStringLiteral("yyyy_MM_dd_hh_mm_ss"));
    QVERIFY(when.isValid());
    QVERIFY(qAbs(when.secsTo(QDateTime::currentDateTime())) < 60);
}

// Every period must follow the one before it, and hold a prefix of the
// records of a full period (a period cut by a link drop or spent in Reset
// holds fewer); returns the number after the last period, or -1 with
// `error` set.
static int check_periods(const QList<ResultRecord> &records, const QByteArray &memory, QString *error)
{
    int periods = 0;
    int position = 0;
    qint16 period = 0;
    quint16 state = 0;
    for (int i = 0; i < records.size(); ++i) {
        const ResultRecord &r = records[i];
        if (i == 0 || r.period != period) {
            // Entering showtime switches to a new period at once, so the
            // number of the period opened by that state read stays unused.
            const bool entry = r.period == qint16(period + 2) && state == 0 && r.kind == 0
                               && r.data.startsWith(be_words({7}));
            if (i > 0 && r.period != qint16(period + 1) && !entry) {
                *error = QStringLiteral("period %1 after %2 at record %3").arg(r.period).arg(period).arg(i);
                return -1;
            }
            period = r.period;
            position = 0;
            ++periods;
        }
        bool ok = false;
        switch (position++) {
        case 0:
            ok = r.kind == 0 && r.group == 2 && r.address8 == 0 && r.data.size() >= 2;
            state = ok ? quint16(uchar(r.data[0]) << 8 | uchar(r.data[1])) : 0;
            break;
        case 1: ok = r.kind == 7 && r.entries.size() == 1 && r.entries[0].endsWith(QLatin1String(",timestamp")); break;
        case 2: ok = r.kind == 0 && r.group == 3 && r.address8 == 10 && r.data == be_words({1, 2, 3}); break;
        case 3: ok = r.kind == 1 && r.address == 0x1000 && r.data == memory; break;
        }
        if (!ok) {
            *error = QStringLiteral("record %1 (kind %2) out of place in period %3").arg(i).arg(r.kind).arg(period);
            return -1;
        }
    }
    return periods > 0 ? quint16(period) + 1 : 0;
}

void TestRecording::againstCpe_data()
{
    QTest::addColumn<bool>("circular");
    QTest::newRow("normal") << false;
    QTest::newRow("circular with link drops") << true;
}

// Parts of 1 MB roll over quickly with reads of 25600 bytes; every record the
// tool made must be found once, in order, in the parts (archives extracted).
void TestRecording::againstCpe()
{
    QFETCH(bool, circular);
    // This test drives its own window.
    cleanup();
    m_folder = nullptr;
    m_answerer = nullptr;
    m_window = nullptr;

    QByteArray memory;
    for (int i = 0; i < 25600; ++i)
        memory.append(char(i * 13 + i / 256));
    // Another run of this test (the other edition's build) may hold an
    // address of the range: take the next free one.
    QScopedPointer<PollingRig> holder;
    for (int host = circular ? 2 : 1; host < 60; host += 2) {
        holder.reset();
        holder.reset(new PollingRig(SimCpe::Korra, QStringLiteral("127.0.5.%1").arg(host)));
        if (holder->cpe.start(QHostAddress(holder->ip)))
            break;
    }
    PollingRig &rig = *holder;
    rig.cpe.setMemory(0x1000, memory);
    rig.cpe.setCmv(3, 10, {1, 2, 3});
    rig.window.reset(new Vemu);
    Vemu &v = *rig.window;
    v.on_m_Bconnect_clicked();
    QVERIFY(wait_until([&] { return v.m_connected && !v.m_detectionPending; }, 5000));
    v.ui->m_SoutputFileSize->setValue(1);
    v.ui->m_Ccircbuff->setChecked(circular);
    rig.add(new CMV(3, 10, 0, 3, QStringLiteral(",7,8,9,"), false));
    rig.add(new MEMORY(2, 0x1000, 12800, QStringLiteral(",7,8,9,"), false));
    if (circular) {
        rig.cpe.setStateScript({{7, 2500, 0}, {0, 600, 0}, {7, 2500, 0}, {0, 600, 0}, {7, 0, 0}});
        // A fresh program's toggle, whatever the tests before left.
        Vemu::s_circularToggle = 1;
    }
    QVERIFY(rig.start());
    const QString first = v.ui->m_EoutputFile->text();
    const QString stem = first.left(first.lastIndexOf(QLatin1String("_part")) + 5);
    if (circular) {
        QVERIFY(wait_until([&] { return v.m_partNumber >= 2 && Vemu::s_circularToggle == 0; }, 240000));
        const int turned = v.m_iteration;
        QVERIFY(wait_until([&] { return v.m_iteration >= turned + 3; }, 20000));
    } else {
        QVERIFY(wait_until([&] { return v.m_partNumber >= 3; }, 240000));
    }
    QVERIFY(rig.stop());
    QVERIFY(archiver_idle(v));
    const int parts = v.m_partNumber + 1;

    QStringList names;
    QList<ResultRecord> records;
    QString error;
    QVERIFY2(read_result_records(all_parts(parts, &names, stem), &records, &error), qPrintable(error));
    const int periods = check_periods(records, memory, &error);
    QVERIFY2(periods > 0, qPrintable(error));
    QVERIFY2(qAbs(periods - int(v.m_iteration)) <= 1, qPrintable(QStringLiteral("%1 periods read, %2 made").arg(periods).arg(v.m_iteration)));
    for (int n = 0; n + 1 < parts; ++n)
        QVERIFY2(QFile::exists(names[n] + QStringLiteral(".7z")), qPrintable(names[n]));
    QVERIFY(names.last().endsWith(circular ? QStringLiteral("CircularShowTime") : QStringLiteral("part%1").arg(parts - 1)));
    if (circular)
        QCOMPARE(names.filter(QStringLiteral("CircularShowTimeLINKDROP")).size(), 2);
    QVERIFY(!rig.log().contains(QLatin1String("ERROR")));
    QVERIFY(rig.cpe.violations().isEmpty());
}

QTEST_MAIN(TestRecording)
#include "tst_recording.moc"
