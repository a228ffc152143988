// CPU time per answer of the live graphs: update_live_graph on an answer plus
// the replot, with the window shown, for every graph, with empty series and
// with a day of points (86,400 per series), against the "None" graph.
//
//   QT_QPA_PLATFORM=offscreen ./bench_graphs [answers per case] [only this graph index]

#include "LiveGraphData.h"
#include "Vemu.h"
#include "bench_support.h"
#include "test_support.h"
#include "ui_Vemu.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QtMath>

#include <qwt_plot.h>

#include <cstdio>

namespace {

const int kDay = 86400;
const quint32 kIndexAddress = 0x00123400;
const quint32 kArrayAddress = 0x00123500;

QByteArray korra_cmv_header(quint8 words, quint8 address, quint8 group)
{
    QByteArray h(12, '\0');
    h[2] = 0x40;
    h[3] = 0x20;
    h[5] = static_cast<char>(words);
    h[6] = static_cast<char>(address);
    h[7] = static_cast<char>(group);
    return h;
}

QByteArray korra_memory_header(quint32 address, quint8 count)
{
    QByteArray h(12, '\0');
    h[2] = 0x40;
    h[3] = 0x30;
    h[5] = static_cast<char>(count);
    for (int i = 0; i < 4; ++i)
        h[6 + i] = static_cast<char>(address >> (24 - 8 * i));
    h[11] = static_cast<char>(count);
    return h;
}

// A day of points. Steady: what a line in showtime gives, values that hold
// for minutes or hours (counters that step now and then, rates that change
// at a retrain, a tight pilot-tone cluster). Noisy: every value differs from
// its neighbours, the worst case for drawing.
void fill_day(LiveGraphData &d, bool noisy)
{
    d.reset();
    quint32 seed = 12345;
    auto jitter = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 16) % 1000) / 1000.0 - 0.5;
    };
    for (int i = 0; i < kDay; ++i) {
        const double t = i;
        const bool retrain = i % 21600 < 90;
        d.state_times.append(t);
        d.state_values.append(noisy ? (i % 3600 < 60 ? 2 : 7) + (i % 2) : (retrain ? 2 + i % 5 : 7));
        d.crc_times.append(t);
        d.crc_lp0.append(noisy ? i / 50 + i % 3 : i / 600);
        d.crc_lp1.append(noisy ? i / 70 + i % 5 : i / 1800);
        d.us_rate_times.append(t);
        d.us_rates.append(noisy ? 1200 + (i % 97) : 1200 - 50 * (i / 21600));
        d.ds_rate_times.append(t);
        d.ds_rates.append(noisy ? 24000 + (i % 311) : 24000 - 500 * (i / 21600));
        d.us_swap_times.append(t);
        d.us_swaps_requested.append(noisy ? i / 400 + i % 4 : i / 300);
        d.us_swaps_performed.append(noisy ? i / 410 + i % 3 : i / 310);
        d.ds_swap_times.append(t);
        d.ds_swaps_requested.append(noisy ? i / 300 + i % 6 : i / 200);
        d.ds_swaps_performed.append(noisy ? i / 310 + i % 2 : i / 210);
        if (noisy) {
            d.showtime_phase.append(20 * qCos(i * 0.01) + (i % 13) * 0.1);
            d.showtime_quadrature.append(20 * qSin(i * 0.01) + (i % 7) * 0.1);
            d.training_phase.append(5 * qCos(i * 0.02));
            d.training_quadrature.append(5 * qSin(i * 0.02));
        } else {
            d.showtime_phase.append(12.3 + jitter());
            d.showtime_quadrature.append(-4.5 + jitter());
            d.training_phase.append(3.0 + 2 * jitter());
            d.training_quadrature.append(1.0 + 2 * jitter());
        }
    }
}

struct Case
{
    int index;
    const char *name;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int answers = argc > 1 ? QByteArray(argv[1]).toInt() : 200;
    const int only = argc > 2 ? QByteArray(argv[2]).toInt() : -1;

    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu window;
    window.resize(1200, 1000);
    window.show();
    window.ui->tabWidget->setCurrentIndex(1);
    QCoreApplication::processEvents();
    window.m_korraPlatform = true;
    window.ui->m_EdslMode->setText(QStringLiteral("VDSL"));
    window.m_graphData->set_pilot_tone_addresses(kIndexAddress, kArrayAddress);

    QByteArray snrPayload(2 * 4096, '\0');
    for (int i = 0; i < 4096; ++i) {
        const quint16 w = static_cast<quint16>((i % 50 + 5) * 255);
        snrPayload[2 * i] = static_cast<char>(w >> 8);
        snrPayload[2 * i + 1] = static_cast<char>(w);
    }
    QByteArray swapPayload(10, '\0');
    swapPayload[1] = 12;
    swapPayload[7] = 11;
    QByteArray pilotPayload(8, '\0');
    pilotPayload[1] = 0x40;
    pilotPayload[3] = 0x20;

    const Case cases[] = {{0, "None"}, {1, "SNR"}, {2, "State"}, {3, "CRCs"},
                          {4, "Bitswaps"}, {5, "Net Rates"}, {6, "Pilot Tone Constellation"}};
    // As after a Korra detection, which offers the pilot-tone graph in both editions.
    if (window.ui->m_liveGraphsSelection->count() < 7)
        window.ui->m_liveGraphsSelection->insertItem(6, QStringLiteral("Pilot Tone Constellation"));

    std::printf("%d answers per case, plot %dx%d\n", answers, window.m_plot->width(),
                window.m_plot->height());
    std::printf("%-26s %20s %20s %20s\n", "graph", "empty: us/ans ratio",
                "day steady: us ratio", "day noisy: us ratio");
    double none[3] = {0, 0, 0};
    for (const Case &c : cases) {
        if (only >= 0 && c.index != 0 && c.index != only)
            continue;
        double perAnswer[3] = {0, 0, 0};
        for (int full = 0; full < 3; ++full) {
            if (full)
                fill_day(*window.m_graphData, full == 2);
            else
                window.m_graphData->reset();
            window.m_graphData->start_clock();
            window.ui->m_liveGraphsSelection->setCurrentIndex(c.index);
            QByteArray header = korra_cmv_header(2, 0, 3);
            QByteArray payload(4, '\0');
            if (c.index == 1) {
                header = korra_cmv_header(64, 11, 3);
                payload = snrPayload;
            } else if (c.index == 4) {
                // Over a day of points an answer of this second would land at
                // x = 0 and fold the axis back; another INFO answer draws the
                // same picture.
                header = korra_cmv_header(5, full ? 94 : 95, 3);
                payload = swapPayload;
            } else if (c.index == 6) {
                header = korra_memory_header(kArrayAddress, 4);
                payload = pilotPayload;
            }
            // Warm-up: caches, fonts and the first layout are not per-answer costs.
            for (int i = 0; i < 5; ++i) {
                window.m_requestPayload = payload;
                window.update_live_graph(header, true);
                QCoreApplication::processEvents();
            }
            const double start = cpu_seconds();
            // The canvas paints from the event loop, as it does between two answers.
            for (int i = 0; i < answers; ++i) {
                window.m_requestPayload = payload;
                window.update_live_graph(header, true);
                QCoreApplication::processEvents();
            }
            perAnswer[full] = (cpu_seconds() - start) / answers * 1e6;
            if (c.index == 0)
                none[full] = perAnswer[full];
        }
        std::printf("%-26s %12.1f %7.2f %12.1f %7.2f %12.1f %7.2f\n", c.name, perAnswer[0],
                    perAnswer[0] / none[0], perAnswer[1], perAnswer[1] / none[1], perAnswer[2],
                    perAnswer[2] / none[2]);
        std::fflush(stdout);
    }
    return 0;
}
