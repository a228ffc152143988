// Long unattended run against the simulated CPE: the line drops and comes
// back, the CPE closes the link now and then, parts roll over and are
// archived. Every read the CPE answered must be in exactly one record of
// exactly one part, and the tool's memory must stay flat. Prints its figures;
// exits with 1 when a check fails.
//
//   soak            a short run (20,000 answers)
//   soak --full     the long one (200,000 answers)
//   VEMU_SOAK_ANSWERS=<n> soak

#include "Vemu.h"
#include "ui_Vemu.h"

#include "rig.h"

#include <QApplication>
#include <QDirIterator>
#include <QProcess>

// A failed check ends the run with its reason.
#define SOAK_CHECK(condition, why)                                                                      \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            qCritical("soak: check failed: %s (%s)", #condition, qPrintable(QString(why)));          \
            return 1;                                                                                \
        }                                                                                            \
    } while (0)

namespace {

int g_answerTarget = 20000;
bool g_full = false;

// The reads of the script: CMV reads by group and address, memory reads by
// width and first address. Multi-packet reads on purpose.
struct ScriptRead
{
    int kind;      // record kind: 0 CMV, 1 16-bit, 2 32-bit, 3 8-bit
    quint8 group;  // CMV only
    quint32 address;
    quint32 first; // CMV: first index
    int width;     // bytes per element
    int total;     // elements
};

const ScriptRead kReads[] = {
    {0, 3, 54, 0, 2, 4},     {0, 34, 5, 0, 2, 3},    {0, 5, 2, 0, 2, 200},
    {1, 0, 0x1000, 0, 2, 3}, {3, 0, 0x2001, 0, 1, 5}, {2, 0, 0x3000, 0, 4, 66},
    {2, 0, 0x8000, 0, 4, 8192},
};

const char kScript[] = "cr INFO 54 0 4\n"
                       "cr DSL 5 0 3\n"
                       "cr OPTN 2 0 200\n"
                       "mr 0x1000 3\n"
                       "mrb 0x2001 5\n"
                       "mrd 0x3000 66\n"
                       "mrd 0x8000 8192\n"
                       "mw 0x100 1 0xABCD\n"
                       "cw DSL 5 0 0x1F\n";

QString read_key(int kind, qint32 address)
{
    return QStringLiteral("%1:%2").arg(kind).arg(address, 0, 16);
}

quint64 fnv1a(const QByteArray &bytes, quint64 hash = 1469598103934665603ULL)
{
    for (char c : bytes) {
        hash ^= quint8(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// An order-free fingerprint of a multiset of reads, of constant size however
// long the run: any lost, doubled or altered read changes it.
struct ReadSet
{
    qint64 count = 0;
    quint64 sum = 0;
    quint64 squares = 0;
    QMap<QString, int> perRead;

    void add(int kind, qint32 address, const QByteArray &data)
    {
        QByteArray key;
        QDataStream(&key, QIODevice::WriteOnly) << qint32(kind) << address;
        const quint64 hash = fnv1a(data, fnv1a(key));
        ++count;
        sum += hash;
        squares += hash * hash;
        ++perRead[read_key(kind, address)];
    }
    bool operator==(const ReadSet &other) const
    {
        return count == other.count && sum == other.sum && squares == other.squares
               && perRead == other.perRead;
    }
};

qint64 resident_kb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Turns the CPE's log into completed reads, packet by packet; a read whose
// packets do not all come in order on one connection was never completed.
class AnswerLog
{
public:
    ReadSet reads;
    qint64 answers = 0;

    void take(const QList<SimRequest> &requests, const QList<SimAnswer> &answers)
    {
        for (const SimRequest &r : requests)
            m_pending.insert(r.seq, r);
        for (const SimAnswer &a : answers) {
            ++this->answers;
            const SimRequest r = m_pending.take(a.requestSeq);
            if (r.kind == SimRequest::CmvRead || r.kind == SimRequest::MemoryRead)
                packet(r, a);
        }
        // Requests never answered belong to a link that is gone.
        m_pending.clear();
    }

private:
    void packet(const SimRequest &r, const SimAnswer &a)
    {
        if (r.isStateRequest())
            return;
        int read = -1;
        int offset = 0;
        for (int i = 0; i < int(sizeof kReads / sizeof kReads[0]); ++i) {
            const ScriptRead &s = kReads[i];
            if (r.kind == SimRequest::CmvRead && s.kind == 0 && s.group == r.group
                && s.address == r.address) {
                read = i;
                offset = int(r.index) - int(s.first);
            } else if (r.kind == SimRequest::MemoryRead && s.kind != 0 && s.width == r.width
                       && r.address >= s.address
                       && r.address < s.address + quint32(s.width * s.total)) {
                read = i;
                offset = int(r.address - s.address) / s.width;
            }
        }
        if (read < 0)
            return;
        QByteArray payload = a.bytes.mid(12);
        if (r.width == 1 && (r.count & 1) && payload.size() > r.count)
            payload = payload.left(r.count - 1) + payload.mid(r.count, 1);
        payload.truncate(r.count * r.width);

        if (offset == 0 || read != m_read || a.connection != m_connection || offset != m_done) {
            m_read = offset == 0 ? read : -1;
            m_connection = a.connection;
            m_done = 0;
            m_data.clear();
            if (m_read < 0)
                return;
        }
        m_data += payload;
        m_done += r.count;
        const ScriptRead &s = kReads[read];
        if (m_done == s.total) {
            reads.add(s.kind, s.kind == 0 ? (qint32(s.group) << 8 | qint32(quint8(s.address)))
                                          : qint32(s.address),
                      m_data);
            m_read = -1;
        }
    }

    QHash<int, SimRequest> m_pending;
    int m_read = -1;
    int m_connection = 0;
    int m_done = 0;
    QByteArray m_data;
};

int soak()
{
    // The shared set-up: a work folder, a box answerer and the simulated CPE
    // on a loopback address of its own.
    Rig rig;
    SOAK_CHECK(!rig.ip.isEmpty(), "no free loopback address");
    const ScopedWorkFolder &folder = rig.folder;
    SimCpe &cpe = rig.cpe;
    folder.writeFile(QStringLiteral("script.txt"), kScript);
    rig.writeIni(QStringLiteral("input_file=%1\noutput_file=soak\npolling_time=0\nfile_size=1\nautomation=2\n")
                     .arg(folder.filePath(QStringLiteral("script.txt"))));
    // Showtime, then a drop to Reset and back, over and over; counted in
    // state reads so that the drops fall inside the links' lifetimes.
    cpe.setStateScript({{7, 0, 120}, {0, 0, 3}}, true);

    // Contents that change while the run goes on, so that a record written
    // twice or taken from the wrong answer shows.
    quint32 tick = 0;
    QTimer changer;
    QObject::connect(&changer, &QTimer::timeout, [&] {
        ++tick;
        cpe.setMemory32(0x3000 + 4 * (tick % 66), tick);
        cpe.setMemory32(0x8000 + 4 * (tick % 8192), tick);
        cpe.setMemory(0x2001 + tick % 5, QByteArray(1, char(tick)));
        cpe.setCmvWord(5, 2, quint16(tick % 200), quint16(tick));
        cpe.setCmvWord(34, 5, quint16(tick % 3), quint16(tick));
    });
    changer.start(3);

    QElapsedTimer clock;
    clock.start();
    QScopedPointer<Vemu> window(new Vemu);
    SOAK_CHECK(window->m_automationMode == 2, "the settings file was not read");

    AnswerLog log;
    const int closeEvery = g_full ? 10000 : 5000;
    const qint64 checkpoint = g_full ? 10000 : g_answerTarget / 4;
    qint64 checkpointKb = -1;
    qint64 lastKb = -1;
    int closes = 0;
    // The CPE closes the link after every `closeEvery` answers; while the
    // tool waits to reconnect nothing is logged, and the log is taken then.
    const auto testRuns = [&] { return window->m_testRunning && cpe.isClientConnected(); };
    SOAK_CHECK(wait_until(testRuns, 20000), log_text(window.data()));
    while (log.answers < g_answerTarget) {
        cpe.closeAfterAnswers(closeEvery);
        SOAK_CHECK(wait_until([&] { return !cpe.isClientConnected(); }, 600000),
                 log_text(window.data()).right(3000));
        SOAK_CHECK(wait_until([&] { return window->m_waitingTimer->isActive(); }, 20000), "no reconnection");
        ++closes;
        log.take(cpe.requests(), cpe.answers());
        cpe.clearLog();
        lastKb = resident_kb();
        if (checkpointKb < 0 && log.answers >= checkpoint)
            checkpointKb = lastKb;
        if (g_full)
            qInfo("%lld answers, %d closes, %lld kB resident, %lld s", log.answers, closes,
                  lastKb, clock.elapsed() / 1000);
        SOAK_CHECK(wait_until(testRuns, 30000), log_text(window.data()).right(3000));
    }

    // Stop and let the last archives finish.
    changer.stop();
    window->on_m_Bstart_clicked();
    SOAK_CHECK(wait_until([&] { return !window->m_testRunning && !window->m_periodActive; }, 10000), "no stop");
    SOAK_CHECK(wait_until([&] {
        return window->m_compressor->state() == QProcess::NotRunning && window->m_archiveQueue.isEmpty();
    }, 60000), "the archiver did not finish");
    window->m_guiTimer->stop();
    wait_until([] { return false; }, 200);
    log.take(cpe.requests(), cpe.answers());
    cpe.clearLog();
    const QString logText = log_text(window.data());
    // Nothing may have failed to be written or archived.
    const bool failures = QString(logText).remove(QStringLiteral("SOCKET ERROR")).contains(
        QLatin1String("ERROR"));
    if (failures)
        qInfo("%s", qPrintable(logText));
    SOAK_CHECK(!failures, "");

    // Every part: the archive when there is one, else the part itself.
    QDir results(folder.filePath(QStringLiteral("Results")));
    const QStringList archives = results.entryList({QStringLiteral("*.7z")}, QDir::Files, QDir::Name);
    QDir unpacked(folder.filePath(QStringLiteral("unpacked")));
    SOAK_CHECK(unpacked.mkpath(QStringLiteral(".")), "");
    for (const QString &archive : archives) {
        QProcess sevenZip;
        sevenZip.start(QStringLiteral("7za"), {QStringLiteral("x"), QStringLiteral("-y"),
                                               QStringLiteral("-o") + unpacked.path(),
                                               results.filePath(archive)});
        SOAK_CHECK(sevenZip.waitForFinished(60000) && sevenZip.exitCode() == 0, archive);
    }
    // The archiver keeps the folder given with the part.
    QStringList parts;
    QSet<QString> unpackedNames;
    QDirIterator it(unpacked.path(), {QStringLiteral("*.bin")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        parts << it.next();
        unpackedNames << it.fileName();
    }
    int linkDropParts = 0;
    for (const QString &name : results.entryList({QStringLiteral("*.bin")}, QDir::Files)) {
        if (!unpackedNames.contains(name))
            parts << results.filePath(name);
    }
    for (const QString &part : qAsConst(parts)) {
        if (part.contains(QLatin1String("LINKDROP")))
            ++linkDropParts;
    }

    ReadSet recorded;
    qint64 largestPart = 0;
    for (const QString &part : qAsConst(parts)) {
        QFile file(part);
        SOAK_CHECK(file.open(QIODevice::ReadOnly), part);
        largestPart = qMax(largestPart, file.size());
        QList<ResultRecord> records;
        QString error;
        SOAK_CHECK(read_result_records(file.readAll(), &records, &error),
                 part + QStringLiteral(": ") + error);
        for (const ResultRecord &record : qAsConst(records)) {
            if (record.kind == 0) {
                if (record.group == 2 && record.address8 == 0)
                    continue; // the opening state read of a period
                recorded.add(0, qint32(quint8(record.group)) << 8 | qint32(quint8(record.address8)),
                             record.data);
            } else if (record.kind >= 1 && record.kind <= 3) {
                recorded.add(record.kind, record.address, record.data);
            }
        }
    }

    const double growth = checkpointKb > 0 ? double(lastKb - checkpointKb) / checkpointKb : 0.0;
    const QString figures
        = QStringLiteral("%1 answers, %2 completed reads, %3 parts (%4 after a line drop, %5 "
                         "archived, largest %6 bytes), %7 link closes, resident %8 kB after %9 "
                         "answers and %10 kB at the end (%11 %), %12 s")
              .arg(log.answers).arg(log.reads.count).arg(parts.size()).arg(linkDropParts)
              .arg(archives.size()).arg(largestPart).arg(closes).arg(checkpointKb).arg(checkpoint)
              .arg(lastKb).arg(growth * 100, 0, 'f', 1).arg(clock.elapsed() / 1000);
    qInfo("%s", qPrintable(figures));

    SOAK_CHECK(log.reads.count > 0, "no read was completed");
    SOAK_CHECK(archives.size() >= 2, figures);
    if (linkDropParts == 0)
        qInfo("%s", qPrintable(logText));
    SOAK_CHECK(linkDropParts >= 1, figures);
    if (recorded.perRead != log.reads.perRead) {
        QStringList lines;
        for (const QString &key : log.reads.perRead.keys() + recorded.perRead.keys()) {
            if (recorded.perRead.value(key) != log.reads.perRead.value(key))
                lines << QStringLiteral("%1: answered %2, recorded %3")
                             .arg(key).arg(log.reads.perRead.value(key)).arg(recorded.perRead.value(key));
        }
        lines.removeDuplicates();
        SOAK_CHECK(false, lines.join(QLatin1Char('\n')));
    }
    SOAK_CHECK(recorded == log.reads, "a record's content differs from the answers of its read");
    SOAK_CHECK(checkpointKb > 0 && lastKb > 0, "resident memory could not be read");
    SOAK_CHECK(growth <= 0.10, figures);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        g_full = g_full || qstrcmp(argv[i], "--full") == 0;
    if (g_full)
        g_answerTarget = 200000;
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("VEMU_SOAK_ANSWERS", &ok);
    if (ok && fromEnvironment > 0) {
        g_answerTarget = fromEnvironment;
        g_full = g_full || fromEnvironment >= 100000;
    }
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int result = soak();
    qInfo("soak: %s", result == 0 ? "every check passed" : "FAILED");
    return result;
}
