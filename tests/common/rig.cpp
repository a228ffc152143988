#include "rig.h"

#include "ui_Vemu.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

Rig::Rig(SimCpe::Platform platform)
    : cpe(platform)
{
    for (int host = 1; host < 255 * 250 && ip.isEmpty(); ++host) {
        const QString candidate = QStringLiteral("127.0.%1.%2").arg(1 + host / 254).arg(1 + host % 254);
        if (cpe.start(QHostAddress(candidate)))
            ip = candidate;
    }
    if (ip.isEmpty())
        qWarning("no free loopback address for the simulated CPE");
    writeIni();
}

void Rig::writeIni(const QString &settings)
{
    folder.writeFile(QStringLiteral("Vemu.ini"),
                     (QStringLiteral("[Settings]\nip_address=") + ip + QLatin1Char('\n') + settings).toUtf8());
}

bool Rig::detected() const
{
    return window && window->m_connected && !window->m_detectionPending;
}

bool Rig::open(bool connect)
{
    window.reset(new Vemu);
    if (!connect)
        return true;
    window->on_m_Bconnect_clicked();
    if (wait_until([&] { return detected(); }, 10000))
        return true;
    qWarning() << "no platform detected:" << log();
    return false;
}

void Rig::add(message *request)
{
    window->m_requests << request;
}

bool Rig::start()
{
    // The polling outside a test waits for its next tick only when no request
    // of it is in flight; one sent just before Start could reach the CPE's log
    // after it is cleared.
    wait_until([&] { return window->m_guiTimer->isActive(); }, 5000);
    window->on_m_Bstart_clicked();
    cpe.clearLog();
    return window->m_testRunning;
}

bool Rig::stopped() const
{
    return !window->m_testRunning && window->ui->m_Bstart->text() == QLatin1String("Start");
}

bool Rig::stop(int timeoutMs)
{
    window->on_m_Bstart_clicked();
    return wait_until([&] { return stopped(); }, timeoutMs);
}

bool Rig::waitPeriods(int periods, int timeoutMs)
{
    return wait_until([&] { return window->m_iteration >= periods; }, timeoutMs);
}

bool Rig::archiverIdle(int timeoutMs)
{
    return wait_until([&] {
        return window->m_compressor->state() == QProcess::NotRunning && window->m_archiveQueue.isEmpty();
    }, timeoutMs);
}

QString Rig::log() const
{
    return log_text(window.data());
}

QStringList Rig::logEntries() const
{
    return log_entries(window.data());
}

QString Rig::wire() const
{
    QString text;
    for (const SimRequest &r : cpe.requests()) {
        if (r.isStateRequest())
            text += QLatin1Char('s');
        else if (r.isFirmwareRequest())
            text += QLatin1Char('f');
        else if (r.kind == SimRequest::CmvRead)
            text += QLatin1Char('c');
        else if (r.kind == SimRequest::CmvWrite)
            text += QLatin1Char('w');
        else if (r.kind == SimRequest::MemoryRead)
            text += QLatin1Char('m');
        else if (r.kind == SimRequest::MemoryWrite)
            text += QLatin1Char('x');
        else
            text += QLatin1Char('?');
    }
    return text;
}

QByteArray Rig::partBytes(const QString &binPath, QString *error)
{
    QFile bin(binPath);
    const QString archive = binPath.left(binPath.size() - 4) + QStringLiteral(".7z");
    QByteArray packed;
    if (QFileInfo::exists(archive)) {
        QProcess unpack;
        unpack.start(QStringLiteral("7za"), {QStringLiteral("e"), QStringLiteral("-so"), archive});
        if (!unpack.waitForFinished(60000) || unpack.exitCode() != 0)
            *error = QStringLiteral("cannot unpack ") + archive;
        packed = unpack.readAllStandardOutput();
        if (!bin.exists())
            return packed;
    }
    if (!bin.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("no part ") + binPath;
        return QByteArray();
    }
    const QByteArray bytes = bin.readAll();
    if (QFileInfo::exists(archive) && packed != bytes)
        *error = QStringLiteral("%1 and its archive differ").arg(binPath);
    return bytes;
}

QList<ResultRecord> Rig::records(QString *error) const
{
    QString problem;
    QList<ResultRecord> list;
    const QString current = window->ui->m_EoutputFile->text();
    static const QRegularExpression part(QStringLiteral("_part\\d+\\.bin$"));
    const QString stem = current.left(current.lastIndexOf(part));
    for (int n = 0; problem.isEmpty(); ++n) {
        const QString bin = stem + QStringLiteral("_part%1.bin").arg(n);
        if (!QFileInfo::exists(bin) && !QFileInfo::exists(stem + QStringLiteral("_part%1.7z").arg(n))) {
            if (n == 0)
                problem = QStringLiteral("no part 0 of ") + stem;
            break;
        }
        const QByteArray bytes = partBytes(bin, &problem);
        if (problem.isEmpty() && !read_result_records(bytes, &list, &problem))
            problem = QStringLiteral("part %1: %2").arg(n).arg(problem);
    }
    if (error)
        *error = problem;
    return list;
}

QStringList Rig::expectedPeriod() const
{
    const bool korra = cpe.platform() == SimCpe::Korra;
    QVector<quint16> state{cpe.cmvWord(2, 0, 0)};
    if (korra)
        state << cpe.cmvWord(2, 0, 1);
    QStringList period{QStringLiteral("c2.0:") + QString::fromLatin1(be_words(state).toHex()), QStringLiteral("t")};
    for (message *request : qAsConst(window->m_requests)) {
        if (auto *cmv = dynamic_cast<CMV *>(request)) {
            if (cmv->isWrite())
                continue;
            QVector<quint16> words;
            for (quint32 i = 0; i < cmv->sizeOrValue(); ++i)
                words << cpe.cmvWord(quint8(cmv->group()), quint16(cmv->cmvAddress()), quint16(cmv->index() + i));
            period << QStringLiteral("c%1.%2:%3").arg(cmv->group()).arg(cmv->cmvAddress() & 0xFF)
                          .arg(QString::fromLatin1(be_words(words).toHex()));
        } else if (auto *memory = dynamic_cast<MEMORY *>(request)) {
            if (memory->isWrite())
                continue;
            if (memory->isAfeRead() && korra) {
                const quint32 v = cpe.afeRegister(quint32(memory->afeRegister()));
                const char bytes[4] = {char(v >> 8), char(v), char(v >> 24), char(v >> 16)};
                period << QStringLiteral("afe%1:%2").arg(memory->afeRegister(), 0, 16)
                              .arg(QString::fromLatin1(QByteArray(bytes, 4).toHex()));
                continue;
            }
            // The legacy platform records an AFE read as the memory read it is.
            const int kind = memory->width() == 2 ? 1 : memory->width() == 4 ? 2 : 3;
            // The wire carries the low 22 bits of the address; the record the whole of it.
            const QByteArray data = cpe.memory(quint32(memory->address()) & 0x3FFFFF,
                                               int(memory->countOrValue() * memory->width()));
            period << QStringLiteral("m%1@%2:%3").arg(kind).arg(quint32(memory->address()), 0, 16)
                          .arg(QString::fromLatin1(data.toHex()));
        }
    }
    return period;
}

QMap<int, QStringList> Rig::periods(QString *error) const
{
    QString problem;
    const QList<ResultRecord> list = records(&problem);
    QMap<int, QStringList> byPeriod;
    for (const ResultRecord &r : list)
        byPeriod[r.period] << describe(r);
    if (error)
        *error = problem;
    return byPeriod;
}

int Rig::wholePeriods(const QStringList &period) const
{
    QString error;
    const QMap<int, QStringList> byPeriod = periods(&error);
    if (!error.isEmpty()) {
        qWarning() << "records:" << error;
        return -1;
    }
    int n = 0;
    for (auto it = byPeriod.cbegin(); it != byPeriod.cend(); ++it, ++n) {
        if (it.key() != n || it.value() != period) {
            qWarning() << "period" << it.key() << it.value() << "expected" << n << period;
            return -1;
        }
    }
    return n;
}
