// CPU time per answer of the whole answer path with each live graph shown,
// against the "None" graph: the window runs a test with polling time 0
// against the simulated CPE (a Korra line in showtime) whose period asks
// what the graphs draw, with the series empty and with a day of points
// (86,400 per series, steady values) before the answers counted.
// The process time includes the simulated CPE's thread.
//
//   bench_graph_answers [answers per case] [only this graph index]

#include "LiveGraphData.h"
#include "Vemu.h"
#include "ui_Vemu.h"

#include "message.h"
#include "simcpe.h"
#include "bench_support.h"
#include "test_support.h"

#include <QApplication>
#include <QTimer>

#include <qwt_plot.h>

#include <atomic>
#include <cstdio>

namespace {

const char *kAddress = "127.0.10.45";
const int kDay = 86400;
const quint32 kIndexAddress = 0x00123400;
const quint32 kArrayAddress = 0x00123500;
const quint8 kGroupInfo = 3;
const quint8 kGroupRate = 6;
const quint8 kGroupCntr = 10;

// A day of steady points ending just before the graph clock's present
// second, around the values the simulated CPE answers, so that the live
// points continue the series.
void fill_day(LiveGraphData &d)
{
    const double now = d.elapsed_seconds();
    quint32 seed = 12345;
    auto jitter = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 16) % 1000) / 1000.0 - 0.5;
    };
    for (int i = 0; i < kDay; ++i) {
        const double t = now - kDay + i;
        d.state_times.append(t);
        d.state_values.append(7);
        d.crc_times.append(t);
        d.crc_lp0.append(i / 600);
        d.crc_lp1.append(i / 1800);
        d.us_rate_times.append(t);
        d.us_rates.append(1200);
        d.ds_rate_times.append(t);
        d.ds_rates.append(24000);
        d.us_swap_times.append(t);
        d.us_swaps_requested.append(i / 300);
        d.us_swaps_performed.append(i / 310);
        d.ds_swap_times.append(t);
        d.ds_swaps_requested.append(i / 200);
        d.ds_swaps_performed.append(i / 210);
        d.showtime_phase.append(12.3 + jitter());
        d.showtime_quadrature.append(-4.5 + jitter());
        d.training_phase.append(3.0 + 2 * jitter());
        d.training_quadrature.append(1.0 + 2 * jitter());
    }
}

void clear_series(LiveGraphData &d)
{
    d.clear_snr();
    d.clear_state();
    d.clear_crcs();
    d.clear_net_rates();
    d.clear_bit_swaps();
    d.clear_pilot_tone();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int answers = argc > 1 ? QByteArray(argv[1]).toInt() : 30000;
    const int only = argc > 2 ? QByteArray(argv[2]).toInt() : -1;

    SimCpe cpe(SimCpe::Korra);
    QVector<quint16> snr(4096);
    for (int i = 0; i < snr.size(); ++i)
        snr[i] = quint16((i % 50 + 5) * 255);
    cpe.setCmv(kGroupInfo, 11, snr);
    cpe.setCmv(kGroupInfo, 95, {12, 0, 0, 11, 0});
    cpe.setCmv(kGroupInfo, 96, {7, 0, 0, 6, 0});
    cpe.setCmv32(kGroupRate, 0, 0, 24000);
    cpe.setCmv32(kGroupRate, 1, 0, 1200);
    cpe.setCmv(kGroupCntr, 35, {3, 1});
    cpe.setMemory16(kIndexAddress, 5);
    cpe.setMemory(kArrayAddress, QByteArray::fromHex("04CEFE3E00000000")); // 12.30, -4.50
    if (!cpe.start(QHostAddress(QString::fromLatin1(kAddress)))) {
        std::fprintf(stderr, "simulated CPE: %s\n", qPrintable(cpe.errorString()));
        return 1;
    }
    std::atomic<qint64> requests{0};
    QObject::connect(
        &cpe, &SimCpe::requestReceived, &cpe, [&](int) { ++requests; }, Qt::DirectConnection);

    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    write_polling_settings(folder, kAddress);
    Vemu window;
    window.resize(1200, 1000);
    window.show();
    window.ui->tabWidget->setCurrentIndex(1);
    window.on_m_Bconnect_clicked();
    if (!wait_until([&] { return window.m_connected && !window.m_detectionPending; }, 5000)
        || !window.m_korraPlatform) {
        std::fprintf(stderr, "no Korra platform detected\n");
        return 1;
    }
    window.m_graphData->set_pilot_tone_addresses(kIndexAddress, kArrayAddress);
    // As after a Korra detection, which offers the pilot-tone graph in both editions.
    if (window.ui->m_liveGraphsSelection->count() < 7)
        window.ui->m_liveGraphsSelection->insertItem(6, QStringLiteral("Pilot Tone Constellation"));
    window.ui->m_liveGraphsSelection->setCurrentIndex(0);
    window.ui->m_SoutputFileSize->setValue(20);

    const QString states = QStringLiteral(",7,8,9,");
    window.m_requests << new CMV(kGroupRate, 0, 0, 4, states, false)
                      << new CMV(kGroupRate, 1, 0, 4, states, false)
                      << new CMV(kGroupCntr, 35, 0, 2, states, false)
                      << new CMV(kGroupInfo, 11, 0, 4096, states, false)
                      << new CMV(kGroupInfo, 95, 0, 5, states, false)
                      << new CMV(kGroupInfo, 96, 0, 5, states, false)
                      << new MEMORY(2, kIndexAddress, 1, states, false)
                      << new MEMORY(2, kArrayAddress, 4, states, false);
    for (quint32 address = 1; address <= 3; ++address)
        window.m_requests << new CMV(kGroupCntr, address, 0, 2, states, false);

    window.on_m_Bstart_clicked();
    if (!wait_until([&] { return window.m_periodActive; }, 3000)) {
        std::fprintf(stderr, "the test did not start\n");
        return 1;
    }

    // Runs the window until `count` more answers were asked for; the CPU
    // time per answer.
    qint64 lastClear = requests;
    auto run = [&](int count) {
        const qint64 base = requests;
        const double cpu = cpu_seconds();
        QEventLoop loop;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            // The simulator's own log would otherwise be what grows.
            if (requests - lastClear >= 5000) {
                cpe.clearLog();
                lastClear = requests;
            }
            if (requests - base >= count || !window.m_testRunning)
                loop.quit();
        });
        watch.start(5);
        loop.exec();
        return (cpu_seconds() - cpu) * 1e6 / qMax<qint64>(1, requests - base);
    };

    const char *names[] = {"None", "SNR", "State", "CRCs", "Bitswaps", "Net Rates",
                           "Pilot Tone Constellation"};
    std::printf("%d answers per case, %zu requests per period, plot %dx%d\n", answers,
                size_t(window.m_requests.size() + 1), window.m_plot->width(),
                window.m_plot->height());
    std::printf("%-26s %20s %20s\n", "graph", "empty: us/ans ratio", "day: us/ans ratio");
    double none[2] = {0, 0};
    for (int index = 0; index < 7; ++index) {
        if (only >= 0 && index != 0 && index != only)
            continue;
        double perAnswer[2] = {0, 0};
        for (int day = 0; day < 2; ++day) {
            window.ui->m_liveGraphsSelection->setCurrentIndex(0);
            clear_series(*window.m_graphData);
            if (day)
                fill_day(*window.m_graphData);
            window.ui->m_liveGraphsSelection->setCurrentIndex(index);
            // Warm-up: the first drawings, caches and layouts are not per-answer costs.
            run(answers / 10);
            perAnswer[day] = run(answers);
            if (index == 0)
                none[day] = perAnswer[day];
        }
        if (!window.m_testRunning) {
            std::fprintf(stderr, "the test stopped\n");
            return 1;
        }
        std::printf("%-26s %12.1f %7.2f %12.1f %7.2f\n", names[index], perAnswer[0],
                    perAnswer[0] / none[0], perAnswer[1], perAnswer[1] / none[1]);
        std::fflush(stdout);
    }
    window.on_m_Bstart_clicked();
    wait_until([&] { return !window.m_testRunning && window.ui->m_Bstart->isEnabled(); }, 5000);
    return 0;
}
