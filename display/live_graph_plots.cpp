#include "live_graph_plots.h"

#include "LiveGraphData.h"

#include <QLineEdit>
#include <QPen>

#include <qwt_plot.h>
#include <qwt_plot_curve.h>
#include <qwt_plot_zoomer.h>
#include <qwt_series_data.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

int pilot_tone_index = 0;

namespace {

// Curve samples read straight from two series of the store: a drawing costs
// no copy of the series, and the bounds come from the store's running cache
// instead of a scan of every point.
class StoreSeries : public QwtSeriesData<QPointF>
{
public:
    StoreSeries(const LiveGraphData &store, const QVector<double> &x, const QVector<double> &y)
        : m_store(store), m_x(x), m_y(y)
    {
    }
    size_t size() const override { return static_cast<size_t>(qMin(m_x.size(), m_y.size())); }
    QPointF sample(size_t i) const override
    {
        return QPointF(m_x.constData()[i], m_y.constData()[i]);
    }
    QRectF boundingRect() const override { return m_store.series_bounds(m_x, m_y); }

private:
    const LiveGraphData &m_store;
    const QVector<double> &m_x;
    const QVector<double> &m_y;
};

quint16 word_at(const QByteArray &bytes, int i)
{
    const int at = 2 * i;
    const quint8 hi = at < bytes.size() ? static_cast<quint8>(bytes.at(at)) : 0;
    const quint8 lo = at + 1 < bytes.size() ? static_cast<quint8>(bytes.at(at + 1)) : 0;
    return static_cast<quint16>(hi * 256 + lo);
}

// SNR per tone: word i of the answer divided by 255 (whole-number division).
// Shares the answer's bytes; x is the tone index, or thousands of tones.
class SnrSeries : public QwtSeriesData<QPointF>
{
public:
    SnrSeries(const QByteArray &answer, int tones, double xDivisor)
        : m_answer(answer), m_tones(tones), m_xDivisor(xDivisor)
    {
        if (tones > 0) {
            double minY = y(0);
            double maxY = minY;
            for (int i = 1; i < tones; ++i) {
                minY = qMin(minY, y(i));
                maxY = qMax(maxY, y(i));
            }
            d_boundingRect = QRectF(0.0, minY, (tones - 1) / xDivisor, maxY - minY);
        }
    }
    size_t size() const override { return static_cast<size_t>(m_tones); }
    QPointF sample(size_t i) const override
    {
        return QPointF(static_cast<int>(i) / m_xDivisor, y(static_cast<int>(i)));
    }
    QRectF boundingRect() const override { return d_boundingRect; }

private:
    double y(int i) const { return word_at(m_answer, i) / 255; }
    const QByteArray m_answer;
    const int m_tones;
    const double m_xDivisor;
};

QPen solid_pen(Qt::GlobalColor colour, int width)
{
    return QPen(QBrush(colour), width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QwtSymbol *make_symbol(QwtSymbol::Style style, Qt::GlobalColor colour, int penWidth, int size)
{
    return new QwtSymbol(style, QBrush(), solid_pen(colour, penWidth), QSize(size, size));
}

// A dot curve with one symbol per point. Dense day-long series put many
// points on one pixel; filtering them leaves the picture unchanged.
void attach_time_curve(QwtPlot *plot, const LiveGraphData &data, const QString &title,
                       const QVector<double> &times, const QVector<double> &values,
                       QwtSymbol *symbol)
{
    auto *curve = new QwtPlotCurve(title);
    curve->setStyle(QwtPlotCurve::Dots);
    curve->setSymbol(symbol);
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
    curve->setData(new StoreSeries(data, times, values));
    curve->attach(plot);
}

void attach_pilot_curve(QwtPlot *plot, const LiveGraphData &data, const QString &title,
                        Qt::GlobalColor colour, const QVector<double> &phase,
                        const QVector<double> &quadrature)
{
    auto *curve = new QwtPlotCurve(title);
    curve->setStyle(QwtPlotCurve::Dots);
    curve->setPen(solid_pen(colour, 5));
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
    curve->setData(new StoreSeries(data, phase, quadrature));
    curve->attach(plot);
}

void set_time_titles(QwtPlot *plot, const QString &yTitle)
{
    plot->setAxisTitle(QwtPlot::xBottom, graph_axis_title(QStringLiteral("Time (seconds)")));
    plot->setAxisTitle(QwtPlot::yLeft, graph_axis_title(yTitle));
}

// The x axis of a time graph: its first to its last time, a major step every
// fifth of the points (0 below five points lets Qwt choose).
void set_time_axis(QwtPlot *plot, const QVector<double> &times)
{
    plot->setAxisScale(QwtPlot::xBottom, times.first(), times.last(),
                       static_cast<double>(times.size() / 5));
}

quint8 byte_at(const QByteArray &bytes, int i)
{
    return i < bytes.size() ? static_cast<quint8>(bytes.at(i)) : 0;
}

qint16 signed_word_at(const QByteArray &bytes, int i)
{
    return static_cast<qint16>(word_at(bytes, i));
}

bool address_at(const QByteArray &header, int at, quint32 address)
{
    if (header.size() < at + 4)
        return false;
    const quint32 value = (quint32(byte_at(header, at)) << 24) | (quint32(byte_at(header, at + 1)) << 16)
                          | (quint32(byte_at(header, at + 2)) << 8) | quint32(byte_at(header, at + 3));
    return value == address;
}

void draw_pilot_points(LiveGraphData &data, QwtPlot *plot, bool titled)
{
    remove_all_curves(plot);
    if (!data.training_phase.isEmpty())
        attach_pilot_curve(plot, data, titled ? QStringLiteral("Training") : QString(), Qt::blue,
                           data.training_phase, data.training_quadrature);
    attach_pilot_curve(plot, data, titled ? QStringLiteral("Showtime") : QString(), Qt::red,
                       data.showtime_phase, data.showtime_quadrature);
}

} // namespace

QwtText blank_axis_title()
{
    QwtText title(QStringLiteral(" "));
    QFont font(QStringLiteral("MS Shell Dlg 2"), 7);
    font.setItalic(true);
    title.setFont(font);
    return title;
}

QwtText graph_axis_title(const QString &text)
{
    QwtText title = blank_axis_title();
    title.setText(text);
    title.setColor(Qt::darkGray);
    return title;
}

void remove_all_curves(QwtPlot *plot)
{
    plot->detachItems(QwtPlotItem::Rtti_PlotCurve, true);
}

void plot_snr(LiveGraphData &data, bool korra, const QByteArray &header, const QByteArray &payload,
              QwtPlot *plot, QwtLegend *, const QLineEdit *dslMode, quint16 state, bool fromAnswer)
{
    plot->setAxisTitle(QwtPlot::yLeft, graph_axis_title(QStringLiteral("dB")));
    plot->setAxisScale(QwtPlot::yLeft, 0, 70, 10);

    int tones = 0;
    bool thousands = false;
    if (!fromAnswer) {
        tones = (data.snr_answer.size() + 1) / 2;
        thousands = data.snr_answer.size() > 1024;
    } else if (korra) {
        if (state < 7 || state > 9 || byte_at(header, 7) != 3 || byte_at(header, 6) != 11
            || header.size() < 8)
            return;
        thousands = !dslMode->text().contains(QLatin1String("ADSL"));
        tones = thousands ? 4096 : 512;
    } else {
        if ((state != 7 && state != 9) || header.size() < 6 || byte_at(header, 3) != 3
            || byte_at(header, 5) != 11)
            return;
        tones = 512;
    }

    if (thousands) {
        plot->setAxisTitle(QwtPlot::xBottom, graph_axis_title(QStringLiteral("x1000 Tones")));
        plot->setAxisScale(QwtPlot::xBottom, 0, 4.096, 1);
    } else {
        plot->setAxisTitle(QwtPlot::xBottom, graph_axis_title(QStringLiteral("Tones")));
        plot->setAxisScale(QwtPlot::xBottom, 0, 512, 100);
    }

    remove_all_curves(plot);
    if (fromAnswer)
        data.snr_answer = payload;
    auto *curve = new QwtPlotCurve;
    curve->setPen(QPen(Qt::blue));
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
    curve->setPaintAttribute(QwtPlotCurve::ClipPolygons, true);
    curve->setData(new SnrSeries(data.snr_answer, tones, thousands ? 1000.0 : 1.0));
    curve->attach(plot);
}

void plot_state(LiveGraphData &data, QwtPlot *plot, QwtLegend *)
{
    set_time_titles(plot, QStringLiteral("State"));
    plot->setAxisScale(QwtPlot::yLeft, 0, 15, 1);
    if (data.state_times.isEmpty() || data.state_values.isEmpty())
        return;
    set_time_axis(plot, data.state_times);
    remove_all_curves(plot);
    attach_time_curve(plot, data, QString(), data.state_times, data.state_values,
                      make_symbol(QwtSymbol::XCross, Qt::blue, 3, 5));
}

void plot_crcs(LiveGraphData &data, QwtPlot *plot)
{
    set_time_titles(plot, QStringLiteral("CRCs"));
    plot->setAxisAutoScale(QwtPlot::yLeft);
    if (data.crc_times.isEmpty() || data.crc_lp0.isEmpty() || data.crc_lp1.isEmpty())
        return;
    set_time_axis(plot, data.crc_times);
    remove_all_curves(plot);
    attach_time_curve(plot, data, QStringLiteral("LP0"), data.crc_times, data.crc_lp0,
                      make_symbol(QwtSymbol::Cross, Qt::blue, 3, 7));
    attach_time_curve(plot, data, QStringLiteral("LP1"), data.crc_times, data.crc_lp1,
                      make_symbol(QwtSymbol::XCross, Qt::darkGreen, 3, 5));
}

void plot_bit_swaps(LiveGraphData &data, bool, const QByteArray &header, const QByteArray &payload,
                    QwtPlot *plot, bool)
{
    set_time_titles(plot, QStringLiteral("Bit Swaps"));
    plot->setAxisAutoScale(QwtPlot::yLeft);

    // The x axis shows the points as they were before this answer's point.
    const bool hadPoints = !data.us_swap_times.isEmpty();
    const double lower = hadPoints ? data.us_swap_times.first() : 0.0;
    const double upper = hadPoints ? data.us_swap_times.last() : 0.0;
    const double step = static_cast<double>(data.us_swap_times.size() / 5);

    if (header.size() >= 10 && static_cast<qint8>(byte_at(header, 5)) > 4 && byte_at(header, 7) == 3
        && byte_at(header, 8) == 0 && byte_at(header, 9) == 0) {
        const quint16 requested = word_at(payload, 0);
        const quint16 performed = word_at(payload, 3);
        if (byte_at(header, 6) == 95)
            data.add_us_swap_point(requested, performed);
        else if (byte_at(header, 6) == 96)
            data.add_ds_swap_point(requested, performed);
    }

    if (hadPoints)
        plot->setAxisScale(QwtPlot::xBottom, lower, upper, step);
    remove_all_curves(plot);
    attach_time_curve(plot, data, QStringLiteral("US req"), data.us_swap_times,
                      data.us_swaps_requested, make_symbol(QwtSymbol::UTriangle, Qt::black, 5, 6));
    attach_time_curve(plot, data, QStringLiteral("US per"), data.us_swap_times,
                      data.us_swaps_performed, make_symbol(QwtSymbol::DTriangle, Qt::red, 3, 5));
    attach_time_curve(plot, data, QStringLiteral("DS req"), data.ds_swap_times,
                      data.ds_swaps_requested, make_symbol(QwtSymbol::RTriangle, Qt::darkGreen, 3, 4));
    attach_time_curve(plot, data, QStringLiteral("DS per"), data.ds_swap_times,
                      data.ds_swaps_performed, make_symbol(QwtSymbol::LTriangle, Qt::blue, 3, 3));
}

void plot_net_rates(LiveGraphData &data, QwtPlot *plot)
{
    set_time_titles(plot, QStringLiteral("Net Rates (kbps)"));
    plot->setAxisAutoScale(QwtPlot::yLeft);

    double lower = 0.0;
    double upper = 0.0;
    if (!data.us_rate_times.isEmpty()) {
        lower = data.us_rate_times.first();
        upper = data.us_rate_times.last();
    }
    if (!data.ds_rate_times.isEmpty()) {
        lower = qMin(lower, data.ds_rate_times.first());
        upper = qMax(upper, data.ds_rate_times.last());
    }
    plot->setAxisScale(QwtPlot::xBottom, lower, upper, upper / 5.0);
    remove_all_curves(plot);
    attach_time_curve(plot, data, QStringLiteral("US"), data.us_rate_times, data.us_rates,
                      make_symbol(QwtSymbol::XCross, Qt::red, 3, 5));
    attach_time_curve(plot, data, QStringLiteral("DS"), data.ds_rate_times, data.ds_rates,
                      make_symbol(QwtSymbol::Cross, Qt::blue, 3, 7));
}

void plot_pilot_tone(LiveGraphData &data, bool korra, const QByteArray &header,
                     const QByteArray &payload, QwtPlot *plot, const QLineEdit *dslMode,
                     QwtLegend *, QwtPlotZoomer *zoomer, quint16 state, bool fromAnswer)
{
    plot->setAxisTitle(QwtPlot::yLeft, graph_axis_title(QStringLiteral("x100 Quadrature")));
    if (state < 6 || state > 9)
        return;
    if (pilot_tone_index == 0)
        plot->setAxisTitle(QwtPlot::xBottom, graph_axis_title(QStringLiteral("x100 Phase")));

    // Zoomed in by the user: keep the zoomed scales.
    const QRectF zoom = zoomer->zoomRect();
    if (!plot->axisAutoScale(QwtPlot::xBottom) && qFuzzyCompare(zoom.x(), 0.0)
        && qFuzzyCompare(zoom.y(), 0.0) && qFuzzyCompare(zoom.width(), 1000.0)
        && qFuzzyCompare(zoom.height(), 1000.0)) {
        plot->setAxisAutoScale(QwtPlot::xBottom);
        plot->setAxisAutoScale(QwtPlot::yLeft);
    }

    if (!fromAnswer) {
        draw_pilot_points(data, plot, false);
        return;
    }

    bool indexAnswer = false;
    bool arrayAnswer = false;
    if (korra) {
        if (header.size() < 12 || byte_at(header, 0) != 0 || byte_at(header, 1) != 0
            || byte_at(header, 2) != 0x40 || byte_at(header, 3) != 0x30)
            return;
        const qint8 count = static_cast<qint8>(byte_at(header, 5));
        const qint8 elements = static_cast<qint8>(byte_at(header, 11));
        indexAnswer = count >= 1 && address_at(header, 6, data.pilot_tone_index_address)
                      && byte_at(header, 10) == 0 && elements >= 1;
        arrayAnswer = !indexAnswer && count >= 4 && address_at(header, 6, data.rx_pilot_tone_address)
                      && byte_at(header, 10) == 0 && elements >= 4;
    } else {
        if (header.size() < 2 || byte_at(header, 0) != 0 || (byte_at(header, 1) >> 4) != 3)
            return;
        const int count = byte_at(header, 1) & 0x0F;
        const bool zeros = byte_at(header, 2) == 0 && byte_at(header, 3) == 0;
        indexAnswer = count >= 1 && zeros && address_at(header, 4, data.pilot_tone_index_address);
        arrayAnswer = !indexAnswer && count >= 2 && zeros
                      && address_at(header, 4, data.rx_pilot_tone_address);
    }

    if (indexAnswer) {
        pilot_tone_index = signed_word_at(payload, 0);
        const bool vdsl = korra && !dslMode->text().contains(QLatin1String("ADSL"));
        const QString title = vdsl ? QStringLiteral("x100 Phase[for the pilot tone  %1]")
                                   : QStringLiteral("x100 Phase [for the pilot tone  %1]");
        plot->setAxisTitle(QwtPlot::xBottom, title.arg(pilot_tone_index));
        return;
    }
    if (!arrayAnswer)
        return;

    const double phase = signed_word_at(payload, 0) / 100.0;
    const double quadrature = signed_word_at(payload, 1) / 100.0;
    if (state == 6) {
        data.training_phase.append(phase);
        data.training_quadrature.append(quadrature);
    } else {
        data.showtime_phase.append(phase);
        data.showtime_quadrature.append(quadrature);
    }
    draw_pilot_points(data, plot, korra);
}
