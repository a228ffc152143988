// The live graphs of the window: the curves, titles and axes each graph puts
// on the plot after given answers, on both platforms, Reset, the pixels, and
// the answers of a running test against the simulated CPE.

#include "LiveGraphData.h"
#include "Vemu.h"
#include "live_graph_plots.h"
#include "message.h"
#include "simcpe.h"
#include "test_support.h"
#include "ui_Vemu.h"

#include <QImage>
#include <QTest>

#include <memory>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_div.h>
#include <qwt_symbol.h>

namespace {

const quint32 kIndexAddress = 0x00201234;
const quint32 kArrayAddress = 0x00205678;

QByteArray korra_cmv(quint8 words, quint8 address, quint8 group = 3)
{
    QByteArray h(12, '\0');
    h[2] = 0x40;
    h[3] = 0x20;
    h[5] = char(words);
    h[6] = char(address);
    h[7] = char(group);
    return h;
}

QByteArray memory_read(bool korra, quint32 address, quint8 count)
{
    QByteArray h(korra ? 12 : 8, '\0');
    const int at = korra ? 6 : 4;
    for (int i = 0; i < 4; ++i)
        h[at + i] = char(address >> (24 - 8 * i));
    if (korra) {
        h[2] = 0x40;
        h[3] = 0x30;
        h[5] = h[11] = char(count);
    } else {
        h[1] = char(0x30 | count);
    }
    return h;
}

} // namespace

class TstLiveGraphs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void state_graph();
    void crc_graph_data();
    void crc_graph();
    void bit_swaps();
    void net_rates();
    void snr_data();
    void snr();
    void pilot_tone_data();
    void pilot_tone();
    void pilot_tone_painted_in_place_data();
    void pilot_tone_painted_in_place();
    void selection_and_reset();
    void dense_curves_draw_what_qwt_draws_data();
    void dense_curves_draw_what_qwt_draws();
    void live_against_the_simulated_cpe();

private:
    QList<QwtPlotCurve *> curves() const;
    QVector<double> axis(int axisId) const;
    QString title(int axisId) const { return w->m_plot->axisTitle(axisId).text(); }
    void select(int index, bool korra);
    void answer(const QByteArray &header, const QByteArray &payload);
    int pixels_of(QColor colour) const;

    std::unique_ptr<ScopedWorkFolder> m_folder;
    std::unique_ptr<ModalAnswerer> m_answerer;
    std::unique_ptr<Vemu> w;
};

void TstLiveGraphs::init()
{
    m_folder.reset(new ScopedWorkFolder);
    m_answerer.reset(new ModalAnswerer);
    w.reset(new Vemu);
    w->resize(1000, 900);
    w->show();
    w->ui->tabWidget->setCurrentIndex(1);
    w->m_graphData->set_pilot_tone_addresses(kIndexAddress, kArrayAddress);
    pilot_tone_index = 0;
}

void TstLiveGraphs::cleanup()
{
    w.reset();
    m_answerer.reset();
    m_folder.reset();
}

QList<QwtPlotCurve *> TstLiveGraphs::curves() const
{
    QList<QwtPlotCurve *> list;
    for (QwtPlotItem *item : w->m_plot->itemList(QwtPlotItem::Rtti_PlotCurve))
        list << static_cast<QwtPlotCurve *>(item);
    return list;
}

// Lower and upper bound and the step given to the axis.
QVector<double> TstLiveGraphs::axis(int axisId) const
{
    const QwtScaleDiv div = w->m_plot->axisScaleDiv(axisId);
    return {div.lowerBound(), div.upperBound(), w->m_plot->axisStepSize(axisId)};
}

void TstLiveGraphs::select(int index, bool korra)
{
    w->m_korraPlatform = korra;
    // As after a Korra detection, which offers the pilot-tone graph in both editions.
    if (index == 6 && w->ui->m_liveGraphsSelection->count() < 7)
        w->ui->m_liveGraphsSelection->insertItem(6, QStringLiteral("Pilot Tone Constellation"));
    w->ui->m_liveGraphsSelection->setCurrentIndex(index);
}

void TstLiveGraphs::answer(const QByteArray &header, const QByteArray &payload)
{
    w->m_requestPayload = payload;
    w->update_live_graph(header, true);
}

int TstLiveGraphs::pixels_of(QColor colour) const
{
    const QImage image = w->m_plot->canvas()->grab().toImage();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += QColor(image.pixel(x, y)) == colour;
    return n;
}

void TstLiveGraphs::state_graph()
{
    select(2, true);
    QVERIFY(curves().isEmpty());
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral("State"));
    QCOMPARE(w->m_plot->axisTitle(QwtPlot::yLeft).color(), QColor(Qt::darkGray));
    LiveGraphData &d = *w->m_graphData;
    for (int i = 0; i < 12; ++i) {
        d.state_times << 100 + 2 * i;
        d.state_values << (i < 6 ? 7 : 2);
    }
    answer(korra_cmv(2, 0), be_words({7}));
    QCOMPARE(curves().size(), 1);
    QwtPlotCurve *c = curves().first();
    QCOMPARE(c->dataSize(), size_t(12));
    QCOMPARE(c->sample(11), QPointF(122, 2));
    QCOMPARE(c->title().text(), QString());
    QCOMPARE(c->style(), QwtPlotCurve::Dots);
    QCOMPARE(c->symbol()->style(), QwtSymbol::XCross);
    QCOMPARE(c->symbol()->size(), QSize(5, 5));
    QCOMPARE(c->symbol()->pen(), QPen(QBrush(Qt::blue), 3, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    QCOMPARE(axis(QwtPlot::xBottom), (QVector<double>{100, 122, 2}));
    QCOMPARE(axis(QwtPlot::yLeft), (QVector<double>{0, 15, 1}));
    QCOMPARE(title(QwtPlot::xBottom), QStringLiteral("Time (seconds)"));
    QVERIFY(pixels_of(Qt::blue) > 20);
}

void TstLiveGraphs::crc_graph_data()
{
    QTest::addColumn<bool>("korra");
    QTest::newRow("korra") << true;
    QTest::newRow("legacy") << false;
}

void TstLiveGraphs::crc_graph()
{
    QFETCH(bool, korra);
    // The legacy list lacks "CRCs": its index 3 ("Net Rates" there) draws this graph.
    select(3, korra);
    QVERIFY(curves().isEmpty());
    LiveGraphData &d = *w->m_graphData;
    d.crc_times = {5, 6, 9};
    d.crc_lp0 = {1, 2, 40};
    d.crc_lp1 = {0, 0, 3};
    answer(korra_cmv(2, 0), be_words({1}));
    const QList<QwtPlotCurve *> c = curves();
    QCOMPARE(c.size(), 2);
    QCOMPARE(c[0]->title().text(), QStringLiteral("LP0"));
    QCOMPARE(c[0]->symbol()->style(), QwtSymbol::Cross);
    QCOMPARE(c[0]->sample(2), QPointF(9, 40));
    QCOMPARE(c[1]->title().text(), QStringLiteral("LP1"));
    QCOMPARE(c[1]->symbol()->pen().color(), QColor(Qt::darkGreen));
    QCOMPARE(c[1]->sample(2), QPointF(9, 3));
    // Below five points the step is 0 and Qwt chooses.
    QCOMPARE(axis(QwtPlot::xBottom), (QVector<double>{5, 9, 0}));
    QVERIFY(w->m_plot->axisAutoScale(QwtPlot::yLeft));
    QVERIFY(axis(QwtPlot::yLeft).at(1) >= 40.0);
    QVERIFY(pixels_of(Qt::darkGreen) > 10);
}

void TstLiveGraphs::bit_swaps()
{
    select(4, true);
    LiveGraphData &d = *w->m_graphData;
    d.start_clock();
    const QByteArray us = be_words({12, 0, 0, 11, 0});
    answer(korra_cmv(5, 95), us);
    answer(korra_cmv(5, 95), be_words({13, 0, 0, 13, 0}));
    QCOMPARE(d.us_swaps_requested, QVector<double>{12});
    QCOMPARE(d.us_swaps_performed, QVector<double>{11});
    // Not index 0, too few words, not INFO: no point.
    QByteArray index1 = korra_cmv(5, 96);
    index1[9] = 1;
    for (const QByteArray &header : {index1, korra_cmv(4, 96), korra_cmv(5, 96, 2)})
        answer(header, us);
    QVERIFY(d.ds_swap_times.isEmpty());
    answer(korra_cmv(5, 96), be_words({30, 0, 0, 29}));
    QCOMPARE(d.ds_swaps_performed, QVector<double>{29});

    const QList<QwtPlotCurve *> c = curves();
    QCOMPARE(c.size(), 4);
    const QStringList titles = {"US req", "US per", "DS req", "DS per"};
    const QList<QwtSymbol::Style> styles = {QwtSymbol::UTriangle, QwtSymbol::DTriangle,
                                            QwtSymbol::RTriangle, QwtSymbol::LTriangle};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(c[i]->title().text(), titles[i]);
        QCOMPARE(c[i]->symbol()->style(), styles[i]);
        QCOMPARE(c[i]->symbol()->size().width(), 6 - i);
    }
    QCOMPARE(c[0]->symbol()->pen().width(), 5);
    QCOMPARE(c[3]->sample(0), QPointF(d.ds_swap_times.first(), 29));
    QCOMPARE(axis(QwtPlot::xBottom).at(0), d.us_swap_times.first());
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral("Bit Swaps"));
    QVERIFY(pixels_of(Qt::darkGreen) > 5);

    // The legacy platform's index 4 is the pilot-tone graph.
    d.clear_bit_swaps();
    select(4, false);
    answer(korra_cmv(5, 95), us);
    QVERIFY(d.us_swap_times.isEmpty());
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral("x100 Quadrature"));
}

void TstLiveGraphs::net_rates()
{
    select(5, true);
    // Both curves even without points; downstream points alone start the axis at 0.
    QCOMPARE(curves().size(), 2);
    LiveGraphData &d = *w->m_graphData;
    d.ds_rate_times = {40, 41, 50};
    d.ds_rates = {20000, 20500, 21000};
    answer(korra_cmv(2, 0), QByteArray());
    const QList<QwtPlotCurve *> c = curves();
    QCOMPARE(c[0]->title().text(), QStringLiteral("US"));
    QCOMPARE(c[0]->dataSize(), size_t(0));
    QCOMPARE(c[1]->title().text(), QStringLiteral("DS"));
    QCOMPARE(c[1]->sample(2), QPointF(50, 21000));
    QCOMPARE(axis(QwtPlot::xBottom), (QVector<double>{0, 50, 10}));
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral("Net Rates (kbps)"));
    QVERIFY(pixels_of(Qt::blue) > 10);

    // The step is a fifth of the upper bound, not of the range.
    d.us_rate_times = {-5, 60};
    d.us_rates = {1000, 1100};
    answer(korra_cmv(2, 0), QByteArray());
    QCOMPARE(axis(QwtPlot::xBottom), (QVector<double>{-5, 60, 12}));
}

void TstLiveGraphs::snr_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("tones");
    QTest::newRow("korra adsl") << true << "ADSL Annex A" << 512;
    QTest::newRow("korra vdsl") << true << "VDSL" << 4096;
    QTest::newRow("legacy") << false << "VDSL" << 512;
}

void TstLiveGraphs::snr()
{
    QFETCH(bool, korra);
    QFETCH(QString, mode);
    QFETCH(int, tones);
    select(1, korra);
    w->ui->m_EdslMode->setText(mode);
    // An empty stored answer redraws as empty "Tones" axes.
    QCOMPARE(curves().size(), 1);
    QCOMPARE(curves().first()->dataSize(), size_t(0));
    QCOMPARE(title(QwtPlot::xBottom), QStringLiteral("Tones"));

    QByteArray header = korra_cmv(64, 11);
    if (!korra) {
        header = QByteArray(8, '\0');
        header[3] = 3;
        header[5] = 11;
    }
    QByteArray payload;
    for (int i = 0; i < 300; ++i)
        payload += be_words({quint16(i == 0 ? 254 : i == 1 ? 255 : 40 * 255 + 254)});
    // State 6 draws and keeps nothing.
    w->m_testRunning = true;
    w->m_cpeState = 106;
    answer(header, payload);
    QCOMPARE(curves().first()->dataSize(), size_t(0));
    QVERIFY(w->m_graphData->snr_answer.isEmpty());
    w->m_cpeState = 109;
    answer(header, payload);
    QwtPlotCurve *c = curves().first();
    QCOMPARE(c->dataSize(), size_t(tones));
    const double scale = tones == 4096 ? 1000.0 : 1.0;
    // Divided by 255, whole numbers; missing words are 0 dB.
    QCOMPARE(c->sample(0), QPointF(0, 0));
    QCOMPARE(c->sample(1), QPointF(1 / scale, 1));
    QCOMPARE(c->sample(299), QPointF(299 / scale, 40));
    QCOMPARE(c->sample(tones - 1), QPointF((tones - 1) / scale, 0));
    QCOMPARE(c->pen().color(), QColor(Qt::blue));
    QCOMPARE(c->style(), QwtPlotCurve::Lines);
    QVERIFY(!c->symbol());
    QCOMPARE(title(QwtPlot::xBottom), tones == 4096 ? QStringLiteral("x1000 Tones") : QStringLiteral("Tones"));
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral("dB"));
    QCOMPARE(axis(QwtPlot::xBottom), (tones == 4096 ? QVector<double>{0, 4.096, 1} : QVector<double>{0, 512, 100}));
    QCOMPARE(axis(QwtPlot::yLeft), (QVector<double>{0, 70, 10}));
    QCOMPARE(w->m_graphData->snr_answer, payload);
    QVERIFY(pixels_of(Qt::blue) > 50);

    // Another group leaves the curve; a redraw uses the stored answer's 300 words.
    answer(korra ? korra_cmv(64, 12) : QByteArray(8, '\0'), QByteArray(20, '\x7f'));
    QCOMPARE(curves().first()->dataSize(), size_t(tones));
    w->m_testRunning = false;
    select(0, korra);
    select(1, korra);
    QCOMPARE(curves().first()->dataSize(), size_t(300));
    QCOMPARE(curves().first()->sample(299), QPointF(299, 40));
}

void TstLiveGraphs::pilot_tone_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("index");
    QTest::newRow("korra") << true << 6;
    QTest::newRow("legacy") << false << 4;
}

void TstLiveGraphs::pilot_tone()
{
    QFETCH(bool, korra);
    QFETCH(int, index);
    select(index, korra);
    w->ui->m_EdslMode->setText(QStringLiteral("VDSL"));
    QCOMPARE(title(QwtPlot::xBottom), QStringLiteral("x100 Phase"));
    const QByteArray array = memory_read(korra, kArrayAddress, korra ? 4 : 2);

    answer(memory_read(korra, kIndexAddress, 1), be_words({0xfffd}));
    QCOMPARE(pilot_tone_index, -3);
    QCOMPARE(title(QwtPlot::xBottom), korra ? QStringLiteral("x100 Phase[for the pilot tone  -3]")
                                            : QStringLiteral("x100 Phase [for the pilot tone  -3]"));
    // The index answer draws nothing: the redraw's empty showtime curve stays.
    QCOMPARE(curves().size(), 1);
    QCOMPARE(curves().first()->dataSize(), size_t(0));

    w->m_testRunning = true;
    w->m_cpeState = 6;
    answer(array, be_words({250, 0xff38}));
    w->m_cpeState = 108;
    answer(array, be_words({-1000 & 0xffff, 500}));
    answer(array, be_words({-900 & 0xffff, 450}));
    w->m_cpeState = 5;
    answer(array, be_words({1, 1}));
    // Too few elements, or another address: no pilot-tone answer.
    answer(memory_read(korra, kArrayAddress, 1), be_words({1, 1}));
    answer(memory_read(korra, kArrayAddress + 2, korra ? 4 : 2), be_words({1, 1}));

    LiveGraphData &d = *w->m_graphData;
    QCOMPARE(d.training_phase, QVector<double>{2.5});
    QCOMPARE(d.training_quadrature, QVector<double>{-2.0});
    QCOMPARE(d.showtime_phase, (QVector<double>{-10.0, -9.0}));
    QCOMPARE(d.showtime_quadrature, (QVector<double>{5.0, 4.5}));
    const QList<QwtPlotCurve *> c = curves();
    QCOMPARE(c.size(), 2);
    QCOMPARE(c[0]->pen(), QPen(QBrush(Qt::blue), 5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    QCOMPARE(c[0]->sample(0), QPointF(2.5, -2.0));
    QCOMPARE(c[1]->pen().color(), QColor(Qt::red));
    QCOMPARE(c[1]->dataSize(), size_t(2));
    QCOMPARE(c[0]->title().text(), korra ? QStringLiteral("Training") : QString());
    QCOMPARE(c[1]->title().text(), korra ? QStringLiteral("Showtime") : QString());
    QVERIFY(w->m_plot->axisAutoScale(QwtPlot::xBottom));
    QVERIFY(pixels_of(Qt::red) > 20);
    QVERIFY(pixels_of(Qt::blue) > 10);
}

void TstLiveGraphs::pilot_tone_painted_in_place_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("preloaded");
    QTest::newRow("korra, empty") << true << 0;
    QTest::newRow("legacy, empty") << false << 0;
    QTest::newRow("korra, dense") << true << 5000;
}

// Showtime points that keep the curves and scales are painted onto the canvas
// alone; the canvas then shows what a full redraw of the same data shows.
void TstLiveGraphs::pilot_tone_painted_in_place()
{
    QFETCH(bool, korra);
    QFETCH(int, preloaded);
    LiveGraphData &d = *w->m_graphData;
    quint32 seed = 11;
    auto coordinate = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return quint16(int((seed >> 16) % 2300) - 1150);
    };
    for (int i = 0; i < preloaded; ++i) {
        d.showtime_phase.append(qint16(coordinate()) / 100.0);
        d.showtime_quadrature.append(qint16(coordinate()) / 100.0);
    }
    select(korra ? 6 : 4, korra);
    w->m_testRunning = true;
    const QByteArray array = memory_read(korra, kArrayAddress, korra ? 4 : 2);
    auto add = [&](quint16 phase, quint16 quadrature) {
        answer(array, be_words({phase, quadrature}));
        QCoreApplication::processEvents();
    };
    w->m_cpeState = 6;
    add(0, 0);
    w->m_cpeState = 8;
    add(-1200 & 0xffff, -1200 & 0xffff);
    add(1200, 1200);

    const QImage before = w->m_plot->canvas()->grab().toImage();
    int inPlace = 0;
    for (int i = 0; i < 60; ++i) {
        QwtPlotCurve *showtime = curves().last();
        if (i == 30) {
            // Beyond the bounds: new scales, all redrawn.
            add(1500, 0);
            QVERIFY(curves().last() != showtime);
            continue;
        }
        if (i == 40) {
            w->m_cpeState = 6;
            add(coordinate(), coordinate());
            QVERIFY(curves().last() != showtime);
            w->m_cpeState = 8;
            continue;
        }
        add(coordinate(), coordinate());
        inPlace += curves().last() == showtime;
    }
    QCOMPARE(inPlace, 58);
    QCOMPARE(d.showtime_phase.size(), preloaded + 61);
    const QImage painted = w->m_plot->canvas()->grab().toImage();
    QVERIFY(painted != before);

    w->update_live_graph(QByteArray(12, '\0'), false);
    const QImage redrawn = w->m_plot->canvas()->grab().toImage();
    QVERIFY(painted == redrawn);
}

void TstLiveGraphs::selection_and_reset()
{
    QVERIFY(!w->ui->m_BResetGraph->isEnabled());
    LiveGraphData &d = *w->m_graphData;
    d.crc_times = d.crc_lp0 = d.crc_lp1 = {1, 2};
    d.state_times = d.state_values = {7};
    d.us_swap_times = d.us_swaps_requested = d.us_swaps_performed = {1};
    d.showtime_phase = d.showtime_quadrature = {1};
    select(3, true);
    QVERIFY(w->ui->m_BResetGraph->isEnabled());
    QCOMPARE(curves().size(), 2);
    QTest::mouseClick(w->ui->m_BResetGraph, Qt::LeftButton);
    QVERIFY(d.crc_times.isEmpty() && d.crc_lp1.isEmpty());
    QCOMPARE(d.state_times.size(), 1);
    QVERIFY(curves().isEmpty());
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral(" "));
    QCOMPARE(pixels_of(Qt::blue), 0);

    // Index 4 empties the pilot tone on legacy and the bit swaps on Korra.
    select(4, false);
    w->ui->m_BResetGraph->click();
    QVERIFY(d.showtime_phase.isEmpty());
    QCOMPARE(d.us_swap_times.size(), 1);
    select(4, true);
    w->ui->m_BResetGraph->click();
    QVERIFY(d.us_swap_times.isEmpty());
    QCOMPARE(d.state_times.size(), 1);

    select(0, true);
    QVERIFY(!w->ui->m_BResetGraph->isEnabled());
    QVERIFY(curves().isEmpty());
    QCOMPARE(title(QwtPlot::xBottom), QStringLiteral(" "));
}

void TstLiveGraphs::dense_curves_draw_what_qwt_draws_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("steady");
    QTest::newRow("state, steady") << 2 << true;
    QTest::newRow("crcs, noisy") << 3 << false;
    QTest::newRow("bit swaps, steady") << 4 << true;
    QTest::newRow("net rates, noisy") << 5 << false;
    QTest::newRow("pilot tone") << 6 << false;
}

// Many points drawn by the graphs' curves and by plain Qwt curves of the same
// samples, pens and symbols give the same pixels.
void TstLiveGraphs::dense_curves_draw_what_qwt_draws()
{
    QFETCH(int, index);
    QFETCH(bool, steady);
    LiveGraphData &d = *w->m_graphData;
    quint32 seed = 7;
    auto noise = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % range);
    };
    for (int i = 0; i < 20000; ++i) {
        const double t = i < 9000 ? i : i + 3000;
        const double v = steady ? (i % 7000 < 100 ? 3 : 7 + i / 5000) : 7 + noise(9);
        for (auto *times : {&d.state_times, &d.crc_times, &d.us_rate_times, &d.ds_rate_times,
                            &d.us_swap_times, &d.ds_swap_times})
            times->append(t);
        for (auto *values : {&d.state_values, &d.crc_lp0, &d.us_rates, &d.us_swaps_requested,
                             &d.ds_swaps_performed})
            values->append(v);
        for (auto *values : {&d.crc_lp1, &d.ds_rates, &d.us_swaps_performed, &d.ds_swaps_requested})
            values->append(v * 2 + 1);
        d.showtime_phase.append(noise(2000) / 100.0 * (i % 3 ? 1 : 0.2));
        d.showtime_quadrature.append(noise(2000) / 100.0);
        d.training_phase.append(-noise(500) / 100.0);
        d.training_quadrature.append(-noise(700) / 100.0);
    }
    select(index, true);
    const QImage drawn = w->m_plot->canvas()->grab().toImage();

    const QList<QwtPlotCurve *> dense = curves();
    QVERIFY(!dense.isEmpty());
    for (QwtPlotCurve *c : dense) {
        QVERIFY(c->dataSize() >= 20000);
        auto *plain = new QwtPlotCurve(c->title());
        plain->setStyle(c->style());
        plain->setPen(c->pen());
        plain->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
        if (c->symbol())
            plain->setSymbol(new QwtSymbol(c->symbol()->style(), c->symbol()->brush(),
                                           c->symbol()->pen(), c->symbol()->size()));
        QVector<QPointF> samples;
        for (size_t i = 0; i < c->dataSize(); ++i)
            samples << c->sample(static_cast<int>(i));
        plain->setSamples(samples);
        plain->attach(w->m_plot);
        delete c;
    }
    w->m_plot->replot();
    const QImage reference = w->m_plot->canvas()->grab().toImage();
    QCOMPARE(drawn.size(), reference.size());
    int differing = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            differing += drawn.pixel(x, y) != reference.pixel(x, y);
    QCOMPARE(differing, 0);
}

// Answers of a running test reach the graph chosen, through the answer
// processing, on the platform the link detected.
void TstLiveGraphs::live_against_the_simulated_cpe()
{
    w.reset();
    const QString ip = QStringLiteral("127.0.8.1");
    m_folder->writeFile(QStringLiteral("Vemu.ini"),
                        QStringLiteral("[Settings]\nip_address=%1\npolling_time=0\noutput_file=out\n")
                            .arg(ip)
                            .toUtf8());
    SimCpe cpe(SimCpe::Korra);
    QVector<quint16> snr(4096);
    for (int i = 0; i < snr.size(); ++i)
        snr[i] = quint16((10 + i % 40) * 255 + 100);
    cpe.setCmv(3, 11, snr);
    cpe.setCmv(3, 95, {21, 0, 0, 17, 0});
    cpe.setMemory(kIndexAddress, be_words({5}));
    cpe.setMemory(kArrayAddress, be_words({-250 & 0xffff, 730}));
    QVERIFY(cpe.start(QHostAddress(ip)));
    w.reset(new Vemu);
    w->m_graphData->set_pilot_tone_addresses(kIndexAddress, kArrayAddress);
    w->on_m_Bconnect_clicked();
    QVERIFY(wait_until([&] { return w->m_connected && !w->m_detectionPending; }, 5000));
    QVERIFY(w->m_korraPlatform);

    const QString states = QStringLiteral(",7,8,9,");
    w->m_requests << new CMV(3, 11, 0, 4096, states, false) << new CMV(3, 95, 0, 5, states, false)
                  << new MEMORY(2, kIndexAddress, 1, states, false)
                  << new MEMORY(2, kArrayAddress, 4, states, false);
    w->ui->m_liveGraphsSelection->setCurrentIndex(1);
    QVERIFY(wait_until([&] { return cpe.answerCount() >= 1; }, 3000));
    w->on_m_Bstart_clicked();
    QVERIFY(w->m_testRunning);
    QVERIFY(wait_until([&] { return !curves().isEmpty() && curves().first()->dataSize() == 4096; }, 8000));
    QCOMPARE(curves().first()->sample(41), QPointF(0.041, 11));

    // While a test runs a new choice is drawn by the next answer.
    w->ui->m_liveGraphsSelection->setCurrentIndex(4);
    QVERIFY(wait_until([&] { return curves().size() == 4 && curves().first()->dataSize() >= 1; }, 8000));
    QCOMPARE(curves().at(0)->sample(0).y(), 21.0);
    QCOMPARE(curves().at(1)->sample(0).y(), 17.0);
    w->ui->m_liveGraphsSelection->setCurrentIndex(6);
    QVERIFY(wait_until([&] { return curves().size() == 1 && curves().last()->dataSize() >= 1; }, 8000));
    QCOMPARE(curves().last()->sample(0), QPointF(-2.5, 7.3));
    QCOMPARE(pilot_tone_index, 5);
    QVERIFY(title(QwtPlot::xBottom).endsWith(QLatin1String("tone  5]")));
    w->on_m_Bstart_clicked();
    QVERIFY(wait_until([&] { return !w->m_testRunning; }, 8000));

    // Legacy: no "CRCs" or "Bitswaps"; index 3 ("Net Rates") draws the CRC graph.
    w->on_m_Bconnect_clicked();
    cpe.setPlatform(SimCpe::Legacy);
    w->on_m_Bconnect_clicked();
    QVERIFY(wait_until([&] { return w->m_connected && !w->m_detectionPending; }, 5000));
    QVERIFY(!w->m_korraPlatform);
    w->ui->m_liveGraphsSelection->setCurrentIndex(3);
    QCOMPARE(title(QwtPlot::yLeft), QStringLiteral("CRCs"));
}

QTEST_MAIN(TstLiveGraphs)
#include "tst_live_graphs.moc"
