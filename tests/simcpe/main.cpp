// vemu-simcpe: a simulated modem with a lively model, to try the tool without one.
#include "simcpe.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTimer>

#include <cmath>
#include <cstdio>

namespace {

enum Group : quint8 { STAT = 2, INFO = 3, RATE = 6, CNTR = 10 };

// "6:5000,7:60000,0:3000": state:milliseconds; a step without time (or 0) lasts.
// A script whose every step ends starts over.
bool parseStates(const QString &text, QList<StateStep> *steps, bool *loop)
{
    steps->clear();
    for (const QString &item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = item.trimmed().split(QLatin1Char(':'));
        bool okState = false, okTime = true;
        StateStep step;
        step.state = quint16(parts.value(0).toUShort(&okState));
        if (parts.size() > 1)
            step.durationMs = parts[1].toInt(&okTime);
        if (!okState || !okTime || parts.size() > 2 || step.durationMs < 0)
            return false;
        steps->append(step);
    }
    *loop = !steps->isEmpty() && steps->last().durationMs > 0;
    return !steps->isEmpty();
}

class DemoModel
{
public:
    DemoModel(SimCpe &sim, bool korra) : m_sim(sim), m_korra(korra)
    {
        m_sim.setCmv(STAT, 1, korra ? QVector<quint16>{0, 4} : QVector<quint16>{0});
        m_sim.setCmv(STAT, 5, {0, 0x2A, 0x1234, 0x0001, 3, 1, 0x5678, 0x0002, 4, 2});
        m_sim.setCmv(RATE, 3, {19500, 0, 8, 10, 2});
        m_sim.setCmv32(RATE, 2, 0, 98000);
        update(0);
    }

    void tick()
    {
        const quint16 state = m_sim.lineState() % 100;
        if (state == 7 || state == 8 || state == 9)
            advance();
        update(m_ticks++);
    }

private:
    quint32 random(quint32 bound) { return QRandomGenerator::global()->bounded(bound); }

    void advance()
    {
        m_crc0 += random(4);
        m_crc1 += random(2);
        m_dtuTotal += 12000 + random(500);
        m_dtuRetx += random(30);
        m_dtuCorrected += random(20);
        m_dtuUncorrected += random(3) == 0 ? 1 : 0;
        m_usRetx += random(5);
        m_usCorrected += random(4);
        m_errorFreeBits += 90000 + random(1000);
        m_swapsRequested[0] += random(3);
        m_swapsRequested[1] += random(4);
        m_swapsPerformed[0] = m_swapsRequested[0] - m_swapsRequested[0] / 10;
        m_swapsPerformed[1] = m_swapsRequested[1] - m_swapsRequested[1] / 10;
    }

    void update(int tick)
    {
        const quint32 us = 20000 + random(200);
        const quint32 ds = 100000 + random(1000);
        m_sim.setCmv(RATE, 0, {quint16(us), quint16(us >> 16), 0, 0});
        m_sim.setCmv(RATE, 1, {quint16(ds), quint16(ds >> 16), 0, 0});
        m_sim.setCmv(CNTR, 8, {quint16(m_crc0), quint16(m_crc0 >> 16), quint16(m_crc1), quint16(m_crc1 >> 16)});
        m_sim.setCmv(CNTR, 35, {quint16(m_crc0), quint16(m_crc1)});

        QVector<quint16> dsRetx(27, 0);
        const auto put32 = [](QVector<quint16> &words, int i, quint32 v) {
            words[i] = quint16(v);
            words[i + 1] = quint16(v >> 16);
        };
        put32(dsRetx, 0, m_dtuRetx);
        put32(dsRetx, 2, m_dtuCorrected);
        put32(dsRetx, 4, m_dtuUncorrected);
        put32(dsRetx, 8, m_dtuTotal);
        put32(dsRetx, 10, m_dtuTotal - m_dtuUncorrected);
        put32(dsRetx, 12, m_dtuUncorrected);
        put32(dsRetx, 18, m_dtuUncorrected / 2);
        put32(dsRetx, 22, 1500 + random(100));
        put32(dsRetx, 24, m_dtuRetx / 3);
        m_sim.setCmv(CNTR, 44, dsRetx);

        QVector<quint16> usRetx(6, 0), usEftr(6, 0);
        put32(usRetx, 0, m_usRetx);
        put32(usRetx, 2, m_usCorrected);
        put32(usRetx, 4, m_usRetx - m_usCorrected / 2);
        put32(usEftr, 0, m_errorFreeBits);
        put32(usEftr, 2, 18000 + random(500));
        put32(usEftr, 4, m_crc0 / 50);
        m_sim.setCmv(CNTR, 58, usRetx);
        m_sim.setCmv(CNTR, 59, usEftr);

        for (int dir = 0; dir < 2; ++dir)
            m_sim.setCmv(INFO, quint16(95 + dir), {m_swapsRequested[dir], 0, 0, m_swapsPerformed[dir], 0, 0});

        // SNR per tone in 1/255 dB, falling with frequency, with a slow ripple.
        const int tones = m_korra ? 4096 : 512;
        QVector<quint16> snr(tones);
        for (int i = 0; i < tones; ++i) {
            const double db = 52.0 - 38.0 * i / tones + 3.0 * std::sin(i / 40.0 + tick / 5.0) + random(100) / 100.0;
            snr[i] = quint16(qBound(0.0, db, 70.0) * 255);
        }
        m_sim.setCmv(INFO, 11, snr);
    }

    SimCpe &m_sim;
    bool m_korra;
    int m_ticks = 0;
    quint32 m_crc0 = 0, m_crc1 = 0;
    quint32 m_dtuTotal = 0, m_dtuRetx = 0, m_dtuCorrected = 0, m_dtuUncorrected = 0;
    quint32 m_usRetx = 0, m_usCorrected = 0, m_errorFreeBits = 0;
    quint16 m_swapsRequested[2] = {0, 0}, m_swapsPerformed[2] = {0, 0};
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vemu-simcpe"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated CPE: answers the tool like a modem on the given address."));
    parser.addHelpOption();
    const QCommandLineOption addressOption(QStringLiteral("address"), QStringLiteral("Address to listen on."), QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("TCP port."), QStringLiteral("port"), QStringLiteral("2000"));
    const QCommandLineOption platformOption(QStringLiteral("platform"), QStringLiteral("korra or legacy."), QStringLiteral("platform"), QStringLiteral("korra"));
    const QCommandLineOption statesOption(QStringLiteral("states"), QStringLiteral("Line states as state:ms,...; a last step without time lasts."), QStringLiteral("list"), QStringLiteral("6:3000,7"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"), QStringLiteral("Print every request and answer."));
    parser.addOptions({addressOption, portOption, platformOption, statesOption, verboseOption});
    parser.process(app);

    QHostAddress address;
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    const QString platformText = parser.value(platformOption).toLower();
    QList<StateStep> steps;
    bool loop = false;
    if (!address.setAddress(parser.value(addressOption)) || !portOk || port == 0 || port > 65535
        || (platformText != QLatin1String("korra") && platformText != QLatin1String("legacy"))
        || !parseStates(parser.value(statesOption), &steps, &loop)) {
        std::fprintf(stderr, "vemu-simcpe: bad argument\n%s", qPrintable(parser.helpText()));
        return 2;
    }

    const bool korra = platformText == QLatin1String("korra");
    SimCpe sim(korra ? SimCpe::Korra : SimCpe::Legacy);
    sim.setVerbose(parser.isSet(verboseOption));
    sim.setStateScript(steps, loop);
    DemoModel model(sim, korra);
    if (!sim.start(address, quint16(port))) {
        std::fprintf(stderr, "vemu-simcpe: cannot listen on %s:%u: %s\n", qPrintable(address.toString()), port,
                     qPrintable(sim.errorString()));
        return 1;
    }
    std::printf("vemu-simcpe: %s CPE listening on %s:%u\n", korra ? "Korra" : "legacy", qPrintable(address.toString()), port);
    std::fflush(stdout);

    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&model] { model.tick(); });
    ticker.start(1000);
    return app.exec();
}
