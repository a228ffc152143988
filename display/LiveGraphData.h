#ifndef LIVEGRAPHDATA_H
#define LIVEGRAPHDATA_H

// Room display/: status decoders, the live-graph store and the plot drawings; no window.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QRectF>
#include <QVector>

#include <vector>

// Whole seconds of the local time of day, 0 to 86,399.
double seconds_of_day();

// Something drawn straight from the store's series: a curve on the plot.
// Before the store empties any series it asks every reader to keep the samples
// it reads, so that the picture on screen stays until the next drawing, and
// from then on the reader no longer touches the store.
class LiveGraphReader
{
public:
    virtual void keep_samples() = 0;

protected:
    ~LiveGraphReader() = default;
};

// The series behind the live graphs. Times are whole seconds since the graph
// clock started; each time series holds at most one point per second.
struct LiveGraphData
{
    LiveGraphData();
    ~LiveGraphData();
    LiveGraphData(const LiveGraphData &) = delete;
    LiveGraphData &operator=(const LiveGraphData &) = delete;

    double t0 = -1.0;
    quint32 pilot_tone_index_address = 0;
    quint32 rx_pilot_tone_address = 0;
    QByteArray snr_answer;
    QVector<double> state_times;
    QVector<double> state_values;
    QVector<double> crc_times;
    QVector<double> crc_lp0;
    QVector<double> crc_lp1;
    QVector<double> us_rate_times;
    QVector<double> ds_rate_times;
    QVector<double> us_rates;
    QVector<double> ds_rates;
    QVector<double> us_swaps_requested;
    QVector<double> us_swaps_performed;
    QVector<double> us_swap_times;
    QVector<double> ds_swaps_requested;
    QVector<double> ds_swaps_performed;
    QVector<double> ds_swap_times;
    QVector<double> showtime_phase;
    QVector<double> training_phase;
    QVector<double> showtime_quadrature;
    QVector<double> training_quadrature;

    void set_pilot_tone_addresses(quint32 indexAddress, quint32 arrayAddress);
    void start_clock();
    // x of a point taken now: whole seconds since the clock started. A test
    // runs for days, so this counts on a monotonic clock: it neither falls
    // back at midnight nor jumps when daylight saving time or the system
    // clock changes. Before the clock starts it is the time of day plus one.
    double elapsed_seconds() const;

    void add_state_point(const QByteArray &payload);
    void add_crc_point(quint32 lp0, quint32 lp1);
    void add_ds_rate_point(quint32 rate);
    void add_us_rate_point(quint32 rate);
    void add_us_swap_point(quint16 requested, quint16 performed);
    void add_ds_swap_point(quint16 requested, quint16 performed);

    void clear_snr();
    void clear_state();
    void clear_crcs();
    void clear_net_rates();
    void clear_bit_swaps();
    void clear_pilot_tone();
    void reset();

    // Bounding rectangle of the points (x[i], y[i]), as a QwtSeriesData would
    // give it (invalid when there are none). The series only grow between
    // resets, so the rectangle is extended by the new points instead of
    // rescanning a day of points at every drawing.
    QRectF series_bounds(const QVector<double> &x, const QVector<double> &y) const;

    // Points per block of steady_blocks.
    static const int kBlock = 64;
    // One flag per complete block of kBlock points of (x, y): set when the
    // block's times run in steps of one second and its values are all equal,
    // so that a drawing can take the block as one line of pixels. Kept up to
    // date the same way as series_bounds.
    const std::vector<quint8> &steady_blocks(const QVector<double> &x,
                                             const QVector<double> &y) const;

    void add_reader(LiveGraphReader *reader) const;
    void remove_reader(LiveGraphReader *reader) const;

private:
    // Every reader keeps its samples and is forgotten.
    void release_readers();
    mutable QVector<LiveGraphReader *> m_readers;
    QElapsedTimer m_clock;
    struct Bounds
    {
        const double *x = nullptr;
        const double *y = nullptr;
        int count = 0;
        quint64 clears = 0;
        double minX = 0, maxX = 0, minY = 0, maxY = 0;
    };
    mutable QHash<const QVector<double> *, Bounds> m_bounds;
    struct Blocks
    {
        const double *x = nullptr;
        const double *y = nullptr;
        quint64 clears = 0;
        std::vector<quint8> steady;
    };
    mutable QHash<const QVector<double> *, Blocks> m_blocks;
    // Counts the emptyings, so that bounds taken before one are not extended.
    quint64 m_clears = 0;
    // Appends x to times unless it equals the last time there; false when the
    // point is dropped.
    static bool take_time(QVector<double> &times, double x);
};

#endif
