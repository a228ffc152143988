// The live graphs: one table of graph x platform x answers, one oracle (see graphs()); a real test's answers.

#include "LiveGraphData.h"
#include "rig.h"
#include "ui_Vemu.h"

#include <QtTest>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_symbol.h>

namespace {

const quint32 kIndex = 0x00201234, kArray = 0x00205678;
using Answers = QList<QByteArray>; // header, payload, ...; a one-byte header sets the line state

Answers pilot(bool korra) // reads of the pilot-tone index and array, in training and showtime
{
    const auto read = [korra](quint32 address, quint8 n) {
        const QByteArray at = QByteArray::fromHex(QByteArray::number(address, 16).rightJustified(8, '0'));
        return korra ? QByteArray::fromHex("0000403000") + char(n) + at + char(0) + char(n) : char(0) + (char(0x30 | n) + QByteArray(2, 0) + at);
    };
    const QByteArray a = read(kArray, korra ? 4 : 2);
    return {read(kIndex, 1), be_words({0xfffd}), "\x06", {}, a, be_words({250, 0xff38}), "\x6c", {}, a, be_words({0xfc18, 500}),
            read(kArray, 1), {}, a, be_words({0xfc7c, 450}), "\x05", {}, a, {}};
}

// The y title, then each curve as title[samples](first)(second)(last).
QString picture(QwtPlot *plot)
{
    QString text = plot->axisTitle(QwtPlot::yLeft).text() + QLatin1Char(':');
    for (QwtPlotItem *item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        const auto *c = static_cast<QwtPlotCurve *>(item);
        text += QStringLiteral(" %1[%2]").arg(c->title().text()).arg(c->dataSize());
        for (int i = 0, n = int(c->dataSize()); i < n; i = i == 1 ? qMax(2, n - 1) : i + 1)
            text += QStringLiteral("(%1,%2)").arg(c->sample(i).x()).arg(c->sample(i).y());
    }
    return text;
}

} // namespace

class TstLiveGraphs : public QObject
{
    Q_OBJECT
    ScopedWorkFolder m_folder;
private slots:
    void graphs_data();
    void graphs();
    void live_from_the_cpe();
};

// Item (" legacy": in the legacy platform's list)|DSL mode|picture|answers.
void TstLiveGraphs::graphs_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<Answers>("answers");
    const auto info = [](quint8 words, quint8 address) {
        return QByteArray::fromHex("0000402000") + char(words) + char(address) + '\x03' + QByteArray(3, 0) + char(words);
    };
    const QByteArray snr = be_words({254, 255}) + QByteArray(596, 0).replace(QByteArray(2, 0), be_words({40 * 255 + 254})); // 0, 1, 40 dB
    const QString tones = "dB: [512](0,0)(1,1)(511,0)", pilots = "x100 Quadrature: %1[1](2.5,-2) %2[20002](-10,-10)(-9.63,-9.09)(-9,4.5)";
    QTest::newRow("None") << "None|| :" << Answers{};
    QTest::newRow("State") << "State||State: [20003](10,6)(11,7)(23012,7)" << Answers{};
    QTest::newRow("CRCs") << "CRCs||CRCs: LP0[20003](10,1)(11,2)(23012,15) LP1[20003](10,0)(11,0)(23012,31)" << Answers{};
    QTest::newRow("Net Rates legacy") << "Net Rates legacy||Net Rates (kbps): US[0] DS[3](40,20000)(41,20500)(50,21000)" << Answers{};
    QTest::newRow("Bitswaps") << "Bitswaps||Bit Swaps: US req[1](0,12) US per[1](0,11) DS req[1](0,30) DS per[1](0,29)" // one point a second;
        << Answers{info(5, 95), be_words({12, 0, 0, 11, 0}), info(5, 95), be_words({13, 0, 0, 13, 0}), info(4, 96), // four words: none
                   be_words({1, 0, 0, 1}), info(5, 96), be_words({30, 0, 0, 29})};
    QTest::newRow("SNR ADSL") << QString("SNR|ADSL Annex A|") + tones << Answers{"\x6d", {}, info(64, 11), snr};
    QTest::newRow("SNR VDSL") << "SNR|VDSL|dB: [4096](0,0)(0.001,1)(4.095,0)" << Answers{"\x6d", {}, info(64, 11), snr};
    QTest::newRow("SNR legacy") << QString("SNR legacy|VDSL|") + tones << Answers{"\x07", {}, QByteArray::fromHex("00000003000b0000"), snr};
    QTest::newRow("SNR Full Init") << "SNR|VDSL|dB: [0]" << Answers{"\x6a", {}, info(64, 11), snr};
    QTest::newRow("Pilot Tone") << QString("Pilot Tone Constellation|VDSL|") + pilots.arg("Training", "Showtime") << pilot(true);
    QTest::newRow("Pilot Tone legacy") << QString("Pilot Tone Constellation legacy|VDSL|") + pilots.arg("", "") << pilot(false);
}

// The picture; a canvas, painted answer by answer, that a full replot draws
// again once Start or Disconnect emptied the store, as do plain Qwt curves;
// legends in their curve's colour; a plot that takes the extra height.
void TstLiveGraphs::graphs()
{
    QFETCH(QString, row);
    QFETCH(Answers, answers);
    QString item = row.section('|', 0, 0), expected = row.section('|', 2);
    Vemu w;
    w.ui->tabWidget->setCurrentIndex(1); // the plot shown, 900 x 1000
    w.resize(900, 1000), w.show();
    w.ui->m_EdslMode->setText(row.section('|', 1, 1));
    LiveGraphData &d = *w.m_graphData;
    d.state_times = d.crc_times = {10, 11, 12}, d.state_values = {6, 7, 7}, d.crc_lp0 = {1, 2, 40}, d.crc_lp1 = {0, 0, 3};
    d.ds_rate_times = {40, 41, 50}, d.ds_rates = {20000, 20500, 21000}, d.set_pilot_tone_addresses(kIndex, kArray);
    for (int i = 0; i < 20000; ++i) { // 20,000 points more: steady states, noisy CRCs and pilot tones
        const double t = 13 + i + (i >= 9000 ? 3000 : 0), noise = 7 + (i * 7919) % 9;
        d.state_times << t, d.state_values << (i % 7000 < 100 ? 3 : 7), d.crc_times << t, d.crc_lp0 << noise, d.crc_lp1 << 2 * noise + 1;
        d.showtime_phase << (i * 37 % 2000) / 100.0 - 10, d.showtime_quadrature << (i * 91 % 2000) / 100.0 - 10;
    }
    w.m_korraPlatform = !item.endsWith(" legacy"); // the list as the detection of the platform leaves it
    w.ui->m_liveGraphsSelection->clear();
    w.ui->m_liveGraphsSelection->addItems(QStringList{"None", "SNR", "State"} + (w.m_korraPlatform ? QStringList{"CRCs", "Bitswaps"} : QStringList())
                                          + QStringList{"Net Rates", "Pilot Tone Constellation"});
    w.ui->m_liveGraphsSelection->setCurrentText(item.remove(" legacy"));
    w.m_testRunning = true, d.start_clock();
    for (int i = 0; i + 1 < answers.size(); i += 2, QCoreApplication::processEvents()) // the canvas paints between answers
        if (answers[i].size() == 1)
            w.m_cpeState = quint8(answers[i][0]);
        else
            w.m_requestPayload = answers[i + 1], w.update_live_graph(answers[i], true);
    QwtPlot *plot = w.m_plot;
    QCOMPARE(picture(plot), expected);
    if (item.startsWith("Pilot")) { // the index's title in the style of a plot no one has styled
        const QwtText title = plot->axisTitle(QwtPlot::xBottom), plain = QwtPlot().axisTitle(QwtPlot::xBottom);
        QCOMPARE(title.text(), w.m_korraPlatform ? "x100 Phase[for the pilot tone  -3]" : "x100 Phase [for the pilot tone  -3]");
        QVERIFY(title.font() == plain.font() && title.color() == plain.color());
    }
    const QImage shown = plot->canvas()->grab().toImage();
    d.reset();
    plot->replot();
    QCOMPARE(picture(plot), expected);
    QCOMPARE(plot->canvas()->grab().toImage(), shown);
    d.add_state_point(QByteArray(1, 2)); // a state word of one byte is that byte x 256; the addresses outlive a reset
    QVERIFY(d.state_values == QVector<double>{512} && d.rx_pilot_tone_address == kArray && d.pilot_tone_index_address == kIndex);
    for (QwtPlotItem *curve : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        const auto *c = static_cast<QwtPlotCurve *>(curve);
        const QImage icon = c->legendIcon(0, QSizeF(16, 16)).toImage(QSize(16, 16)).convertToFormat(QImage::Format_ARGB32);
        const QRgb colour = (c->symbol() ? c->symbol()->pen() : c->pen()).color().rgb();
        QVERIFY2(std::count(reinterpret_cast<const QRgb *>(icon.constBits()), reinterpret_cast<const QRgb *>(icon.constBits()) + 256, colour),
                 qPrintable("legend of " + c->title().text()));
        auto *plain = new QwtPlotCurve(c->title());
        plain->setStyle(c->style()), plain->setPen(c->pen());
        if (const QwtSymbol *s = c->symbol())
            plain->setSymbol(new QwtSymbol(s->style(), s->brush(), s->pen(), s->size()));
        QVector<QPointF> samples;
        for (size_t i = 0; i < c->dataSize(); ++i)
            samples << c->sample(int(i));
        plain->setSamples(samples), plain->attach(plot);
        delete c;
    }
    plot->replot();
    QCOMPARE(plot->canvas()->grab().toImage(), shown);
    // With the extra height the y labels (the State graph's sixteen) stand apart.
    const int height = plot->height(), label = QFontMetrics(plot->axisFont(QwtPlot::yLeft)).tightBoundingRect("0123456789").height();
    w.resize(900, 1300);
    QVERIFY(wait_until([&] { return plot->height() == height + 300; }, 5000));
    const QList<double> ticks = plot->axisScaleDiv(QwtPlot::yLeft).ticks(QwtScaleDiv::MajorTick);
    QVERIFY(plot->canvasMap(QwtPlot::yLeft).pDist() >= label * (ticks.size() - 1));
    // Reset empties the series of the graph shown, and no others.
    QVector<double> *series[] = {&d.state_times, &d.state_values, &d.crc_times, &d.crc_lp0, &d.crc_lp1, &d.us_rate_times,
        &d.ds_rate_times, &d.us_rates, &d.ds_rates, &d.us_swaps_requested, &d.us_swaps_performed, &d.us_swap_times,
        &d.ds_swaps_requested, &d.ds_swaps_performed, &d.ds_swap_times, &d.showtime_phase, &d.training_phase,
        &d.showtime_quadrature, &d.training_quadrature};
    const QString owners = "SSCCCRRRRBBBBBBPPPPN";
    const QChar graph = QString("-NSCBRP").at(QStringList{"SNR", "State", "CRCs", "Bitswaps",
        "Net Rates", "Pilot Tone Constellation"}.indexOf(item) + 1);
    for (QVector<double> *s : series)
        *s = {1};
    d.snr_answer = "1";
    QCOMPARE(w.ui->m_BResetGraph->isEnabled(), graph != '-');
    graph != '-' ? w.ui->m_BResetGraph->click() : w.on_m_BResetGraph_clicked();
    QString emptied, expectedEmptied;
    for (int i = 0; i < owners.size(); ++i)
        emptied += (i < 19 ? series[i]->isEmpty() : d.snr_answer.isEmpty()) ? owners[i] : QChar('.'),
        expectedEmptied += owners[i] == graph ? owners[i] : QChar('.');
    QCOMPARE(emptied, expectedEmptied);
    QCOMPARE(picture(plot), QStringLiteral(" :"));
}

void TstLiveGraphs::live_from_the_cpe() // a running test's answers reach the graph chosen
{
    Rig rig;
    rig.cpe.setCmv(3, 11, QVector<quint16>(4096, 11 * 255 + 100));
    QVERIFY(rig.open());
    rig.add(new CMV(3, 11, 0, 4096, QStringLiteral(",7,8,9,"), false));
    rig.window->ui->m_liveGraphsSelection->setCurrentText("SNR");
    QVERIFY(rig.start() && wait_until([&] { return picture(rig.window->m_plot) == "dB: [4096](0,11)(0.001,11)(4.095,11)"; }, 8000));
    // The test started the graph clock; a later start leaves it where it was.
    LiveGraphData &d = *rig.window->m_graphData;
    const double t0 = d.t0;
    QVERIFY(t0 >= 0 && wait_until([&] { return d.elapsed_seconds() >= 1; }, 10000));
    d.start_clock();
    QVERIFY(d.t0 == t0 && d.elapsed_seconds() >= 1);
}

QTEST_MAIN(TstLiveGraphs)
#include "tst_live_graphs.moc"
