#include "LiveGraphData.h"

#include <QTime>

#include <utility>

double seconds_of_day()
{
    const QTime t = QTime::currentTime();
    return t.hour() * 3600 + t.minute() * 60 + t.second();
}

LiveGraphData::LiveGraphData() = default;
LiveGraphData::~LiveGraphData()
{
    release_readers();
}

void LiveGraphData::add_reader(LiveGraphReader *reader) const
{
    m_readers.append(reader);
}

void LiveGraphData::remove_reader(LiveGraphReader *reader) const
{
    m_readers.removeOne(reader);
}

void LiveGraphData::release_readers()
{
    const QVector<LiveGraphReader *> readers = std::exchange(m_readers, {});
    for (LiveGraphReader *reader : readers)
        reader->keep_samples();
}

void LiveGraphData::set_pilot_tone_addresses(quint32 indexAddress, quint32 arrayAddress)
{
    pilot_tone_index_address = indexAddress;
    rx_pilot_tone_address = arrayAddress;
}

void LiveGraphData::start_clock()
{
    if (t0 < 0) {
        t0 = seconds_of_day();
        m_clock.start();
    }
}

double LiveGraphData::elapsed_seconds() const
{
    if (t0 < 0 || !m_clock.isValid())
        return seconds_of_day() - t0;
    return static_cast<double>(m_clock.elapsed() / 1000);
}

bool LiveGraphData::take_time(QVector<double> &times, double x)
{
    if (!times.isEmpty() && times.last() == x)
        return false;
    times.append(x);
    return true;
}

void LiveGraphData::add_state_point(const QByteArray &payload)
{
    if (!take_time(state_times, elapsed_seconds()))
        return;
    const quint8 hi = payload.size() > 0 ? static_cast<quint8>(payload.at(0)) : 0;
    const quint8 lo = payload.size() > 1 ? static_cast<quint8>(payload.at(1)) : 0;
    state_values.append(hi * 256 + lo);
}

void LiveGraphData::add_crc_point(quint32 lp0, quint32 lp1)
{
    if (!take_time(crc_times, elapsed_seconds()))
        return;
    crc_lp0.append(lp0);
    crc_lp1.append(lp1);
}

void LiveGraphData::add_ds_rate_point(quint32 rate)
{
    if (take_time(ds_rate_times, elapsed_seconds()))
        ds_rates.append(rate);
}

void LiveGraphData::add_us_rate_point(quint32 rate)
{
    if (take_time(us_rate_times, elapsed_seconds()))
        us_rates.append(rate);
}

void LiveGraphData::add_us_swap_point(quint16 requested, quint16 performed)
{
    if (!take_time(us_swap_times, elapsed_seconds()))
        return;
    us_swaps_requested.append(requested);
    us_swaps_performed.append(performed);
}

void LiveGraphData::add_ds_swap_point(quint16 requested, quint16 performed)
{
    if (!take_time(ds_swap_times, elapsed_seconds()))
        return;
    ds_swaps_requested.append(requested);
    ds_swaps_performed.append(performed);
}

void LiveGraphData::clear_snr() { snr_answer.clear(); }

void LiveGraphData::clear_state()
{
    release_readers();
    ++m_clears;
    state_times.clear();
    state_values.clear();
}

void LiveGraphData::clear_crcs()
{
    release_readers();
    ++m_clears;
    crc_times.clear();
    crc_lp0.clear();
    crc_lp1.clear();
}

void LiveGraphData::clear_net_rates()
{
    release_readers();
    ++m_clears;
    us_rate_times.clear();
    ds_rate_times.clear();
    us_rates.clear();
    ds_rates.clear();
}

void LiveGraphData::clear_bit_swaps()
{
    release_readers();
    ++m_clears;
    us_swaps_requested.clear();
    us_swaps_performed.clear();
    us_swap_times.clear();
    ds_swaps_requested.clear();
    ds_swaps_performed.clear();
    ds_swap_times.clear();
}

void LiveGraphData::clear_pilot_tone()
{
    release_readers();
    ++m_clears;
    showtime_phase.clear();
    training_phase.clear();
    showtime_quadrature.clear();
    training_quadrature.clear();
}

void LiveGraphData::reset()
{
    t0 = -1.0;
    m_clock.invalidate();
    clear_snr();
    clear_state();
    clear_crcs();
    clear_net_rates();
    clear_bit_swaps();
    clear_pilot_tone();
}

QRectF LiveGraphData::series_bounds(const QVector<double> &x, const QVector<double> &y) const
{
    const int count = qMin(x.size(), y.size());
    if (count == 0)
        return QRectF(1.0, 1.0, -2.0, -2.0);

    Bounds &b = m_bounds[&y];
    // A moved buffer may hold other values than those scanned (a reset and
    // refill, or an assignment), so only a buffer seen before is extended.
    int from = 0;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    if (b.clears == m_clears && b.x == x.constData() && b.y == y.constData()
        && b.count > 0 && b.count <= count) {
        from = b.count;
        minX = b.minX;
        maxX = b.maxX;
        minY = b.minY;
        maxY = b.maxY;
    } else {
        minX = maxX = x.at(0);
        minY = maxY = y.at(0);
    }
    const double *px = x.constData();
    const double *py = y.constData();
    for (int i = from; i < count; ++i) {
        minX = qMin(minX, px[i]);
        maxX = qMax(maxX, px[i]);
        minY = qMin(minY, py[i]);
        maxY = qMax(maxY, py[i]);
    }
    b.x = px;
    b.y = py;
    b.count = count;
    b.clears = m_clears;
    b.minX = minX;
    b.maxX = maxX;
    b.minY = minY;
    b.maxY = maxY;
    return QRectF(minX, minY, maxX - minX, maxY - minY);
}

const std::vector<quint8> &LiveGraphData::steady_blocks(const QVector<double> &x,
                                                        const QVector<double> &y) const
{
    const int count = qMin(x.size(), y.size());
    Blocks &b = m_blocks[&y];
    const size_t complete = static_cast<size_t>(count / kBlock);
    if (b.clears != m_clears || b.x != x.constData() || b.y != y.constData()
        || b.steady.size() > complete)
        b.steady.clear();
    const double *px = x.constData();
    const double *py = y.constData();
    for (size_t block = b.steady.size(); block < complete; ++block) {
        const int first = static_cast<int>(block) * kBlock;
        bool steady = true;
        for (int i = first + 1; steady && i < first + kBlock; ++i)
            steady = px[i] == px[i - 1] + 1.0 && py[i] == py[first];
        b.steady.push_back(steady ? 1 : 0);
    }
    b.x = px;
    b.y = py;
    b.clears = m_clears;
    return b.steady;
}
