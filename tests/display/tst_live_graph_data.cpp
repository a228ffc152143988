// The live-graph store: one point per second, state values, the clock (also
// across midnight), resets, and the bounds kept for the drawings.

#include "LiveGraphData.h"

#include <QTest>

class TstLiveGraphData : public QObject
{
    Q_OBJECT

private slots:
    void one_point_per_second();
    void state_values_data();
    void state_values();
    void clock_start_and_midnight();
    void resets();
    void series_bounds_follow_the_series();
};

void TstLiveGraphData::one_point_per_second()
{
    LiveGraphData d;
    d.start_clock();
    // A hundred points in far less than a second span at most two seconds.
    for (quint32 i = 0; i < 100; ++i) {
        d.add_crc_point(i, 1000 + i);
        d.add_us_rate_point(i);
        d.add_ds_swap_point(i, i);
    }
    for (const QVector<double> *t : {&d.crc_times, &d.us_rate_times, &d.ds_swap_times})
        QVERIFY(t->size() == 1 || (t->size() == 2 && t->at(0) != t->at(1)));
    QCOMPARE(d.crc_lp1.size(), d.crc_times.size());
    QCOMPARE(d.us_rates.size(), d.us_rate_times.size());
    QCOMPARE(d.ds_swaps_performed.size(), d.ds_swap_times.size());
    QCOMPARE(d.crc_lp0.first(), 0.0);
    QCOMPARE(d.crc_lp1.first(), 1000.0);

    QTest::qWait(1100);
    d.add_crc_point(7, 8);
    QCOMPARE(d.crc_lp0.last(), 7.0);
}

void TstLiveGraphData::state_values_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<double>("value");
    QTest::newRow("empty") << QByteArray() << 0.0;
    QTest::newRow("one byte") << QByteArray("\x05", 1) << 1280.0;
    QTest::newRow("word") << QByteArray("\x01\x02\x7f", 3) << 258.0;
    QTest::newRow("unsigned") << QByteArray("\xff\xfe", 2) << 65534.0;
}

void TstLiveGraphData::state_values()
{
    QFETCH(QByteArray, payload);
    QFETCH(double, value);
    LiveGraphData d;
    d.add_state_point(payload);
    QCOMPARE(d.state_values, QVector<double>{value});
}

void TstLiveGraphData::clock_start_and_midnight()
{
    LiveGraphData d;
    QCOMPARE(d.t0, -1.0);
    const double before = seconds_of_day();
    d.add_state_point(QByteArray());
    // Without a clock x is the time of day plus one.
    QVERIFY(d.state_times.first() >= before + 1 && d.state_times.first() <= seconds_of_day() + 1);

    d.start_clock();
    const double t0 = d.t0;
    QVERIFY(t0 >= before && t0 <= seconds_of_day());
    QTest::qWait(1100);
    d.start_clock();
    QCOMPARE(d.t0, t0);
    d.add_crc_point(1, 1);
    QVERIFY(d.crc_times.first() >= 1 && d.crc_times.first() <= 2);

    // A clock started at 23:59:59 goes on counting after midnight.
    d.reset();
    d.start_clock();
    d.t0 = 86399.0;
    d.add_crc_point(1, 1);
    QVERIFY(d.crc_times.last() >= 0 && d.crc_times.last() <= 1);
    QTest::qWait(1100);
    d.add_crc_point(2, 2);
    QCOMPARE(d.crc_times.size(), 2);
    QVERIFY(d.crc_times.last() >= 1 && d.crc_times.last() <= 3);
}

void TstLiveGraphData::resets()
{
    LiveGraphData d;
    d.set_pilot_tone_addresses(0x1234, 0x5678);
    d.start_clock();
    d.snr_answer = "abc";
    d.add_state_point("\x00\x07");
    d.add_crc_point(3, 4);
    d.add_us_swap_point(1, 2);
    d.add_ds_rate_point(2);
    d.showtime_phase = d.showtime_quadrature = d.training_phase = d.training_quadrature = {1};

    d.clear_crcs();
    QVERIFY(d.crc_times.isEmpty() && d.crc_lp0.isEmpty() && d.crc_lp1.isEmpty());
    d.add_crc_point(9, 10);
    QCOMPARE(d.crc_lp0, QVector<double>{9});
    QCOMPARE(d.crc_lp1, QVector<double>{10});
    d.clear_pilot_tone();
    QVERIFY(d.showtime_phase.isEmpty() && d.training_quadrature.isEmpty());
    d.clear_bit_swaps();
    QVERIFY(d.us_swap_times.isEmpty() && d.us_swaps_performed.isEmpty());
    QCOMPARE(d.state_times.size(), 1);
    QCOMPARE(d.ds_rates.size(), 1);

    d.reset();
    QCOMPARE(d.t0, -1.0);
    QVERIFY(d.snr_answer.isEmpty() && d.state_times.isEmpty() && d.crc_times.isEmpty()
            && d.ds_rate_times.isEmpty() && d.ds_rates.isEmpty());
    QCOMPARE(d.pilot_tone_index_address, 0x1234u);
    QCOMPARE(d.rx_pilot_tone_address, 0x5678u);
}

void TstLiveGraphData::series_bounds_follow_the_series()
{
    LiveGraphData d;
    QVERIFY(d.series_bounds(d.crc_times, d.crc_lp0).width() < 0);
    d.crc_times = {10, 11};
    d.crc_lp0 = {5, 7};
    QCOMPARE(d.series_bounds(d.crc_times, d.crc_lp0), QRectF(10, 5, 1, 2));
    for (int i = 0; i < 1000; ++i) {
        d.crc_times.append(12 + i);
        d.crc_lp0.append(i == 500 ? -3 : 6);
    }
    QCOMPARE(d.series_bounds(d.crc_times, d.crc_lp0), QRectF(10, -3, 1001, 10));
    // Emptied and refilled: the old extremes must not survive.
    d.clear_crcs();
    d.crc_times = {100, 101, 102};
    d.crc_lp0 = {1, 2, 1};
    QCOMPARE(d.series_bounds(d.crc_times, d.crc_lp0), QRectF(100, 1, 2, 1));
    // Steady blocks: a second apart and one value; a gap or a change breaks one.
    d.clear_crcs();
    for (int i = 0; i < 3 * LiveGraphData::kBlock + 5; ++i) {
        d.crc_times.append(i < 2 * LiveGraphData::kBlock + 10 ? i : i + 1);
        d.crc_lp0.append(i == 10 ? 4 : 3);
    }
    QCOMPARE(d.steady_blocks(d.crc_times, d.crc_lp0), (std::vector<quint8>{0, 1, 0}));
    d.clear_crcs();
    QVERIFY(d.steady_blocks(d.crc_times, d.crc_lp0).empty());
}

QTEST_GUILESS_MAIN(TstLiveGraphData)
#include "tst_live_graph_data.moc"
