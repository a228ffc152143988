#include "live_graph_plots.h"

#include "LiveGraphData.h"

#include <QHash>
#include <QLineEdit>
#include <QMap>
#include <QtMath>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <vector>

#include <qwt_interval.h>
#include <qwt_painter.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_curve.h>
#include <qwt_scale_map.h>
#include <qwt_plot_zoomer.h>
#include <qwt_series_data.h>
#include <qwt_symbol.h>
#include <qwt_text.h>

int pilot_tone_index = 0;

namespace {

// Curve samples read straight from two series of the store: a drawing costs
// no copy of the series, and the bounds come from the store's running cache
// instead of a scan of every point. When the store empties its series, the
// curve keeps what it shows (shared copies, not a copy of the points).
class StoreSeries : public QwtSeriesData<QPointF>, public LiveGraphReader
{
public:
    StoreSeries(const LiveGraphData &store, const QVector<double> &x, const QVector<double> &y)
        : m_store(&store), m_x(&x), m_y(&y)
    {
        store.add_reader(this);
    }
    ~StoreSeries() override
    {
        if (m_store)
            m_store->remove_reader(this);
    }
    void keep_samples() override
    {
        m_keptBounds = m_store->series_bounds(*m_x, *m_y);
        m_keptSteady = m_store->steady_blocks(*m_x, *m_y);
        m_keptX = *m_x;
        m_keptY = *m_y;
        m_x = &m_keptX;
        m_y = &m_keptY;
        m_store = nullptr;
    }
    size_t size() const override { return static_cast<size_t>(qMin(m_x->size(), m_y->size())); }
    QPointF sample(size_t i) const override
    {
        return QPointF(m_x->constData()[i], m_y->constData()[i]);
    }
    QRectF boundingRect() const override
    {
        return m_store ? m_store->series_bounds(*m_x, *m_y) : m_keptBounds;
    }
    const std::vector<quint8> &steady_blocks() const
    {
        return m_store ? m_store->steady_blocks(*m_x, *m_y) : m_keptSteady;
    }
    const double *xs() const { return m_x->constData(); }
    const double *ys() const { return m_y->constData(); }
    // Still drawn from these very series of the store.
    bool reads(const QVector<double> &x, const QVector<double> &y) const
    {
        return m_store && m_x == &x && m_y == &y;
    }

private:
    const LiveGraphData *m_store;
    const QVector<double> *m_x;
    const QVector<double> *m_y;
    QVector<double> m_keptX;
    QVector<double> m_keptY;
    QRectF m_keptBounds;
    std::vector<quint8> m_keptSteady;
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

// The picture that `draw` paints at one pixel, in an odd-sized image centred
// on that pixel, with the render hints of the target painter.
template <typename Draw>
QImage render_stamp(const QPainter *target, Draw draw)
{
    const int half = 16;
    QImage image(2 * half + 1, 2 * half + 1, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHints(target->renderHints());
    draw(&p, QPoint(half, half));
    p.end();
    return image;
}

// Pixels that Qt fills for a wide dot at a whole device coordinate, along one
// axis: [first, last]. Qt strokes a dot as a tiny line with square caps, and
// where its ends fall exactly between pixel centres the rounding depends on
// the coordinate itself, so some coordinates get one pixel more. Each
// coordinate is measured once, at that very coordinate, and remembered.
class WideDotExtents
{
public:
    // Coordinates this close to the device's origin lose pixels to its edge.
    static const int kFirstMeasured = 8;
    // The probes lie this far apart; wider dots would touch each other.
    static const int kSpacing = 12;
    static constexpr qreal kWidest = 8.0;

    using Table = QVector<QPair<int, int>>;

    // The extents of every coordinate below `size`.
    const Table &table(const QPen &pen, bool horizontal, int size)
    {
        Table &table = m_tables[qMakePair(pen.widthF(), horizontal)];
        if (size > table.size())
            measure(pen, horizontal, qMax(size, 2 * table.size()), &table);
        return table;
    }

private:
    static void measure(const QPen &pen, bool horizontal, int size, Table *table)
    {
        const int spacing = kSpacing;
        const int across = 2 * spacing;
        table->resize(size);
        QImage probe(horizontal ? size + spacing : across, horizontal ? across : size + spacing,
                     QImage::Format_ARGB32_Premultiplied);
        QPen solid = pen;
        solid.setColor(Qt::black);
        for (int pass = 0; pass < spacing; ++pass) {
            probe.fill(Qt::transparent);
            QPainter p(&probe);
            p.setPen(solid);
            QPolygon dots;
            for (int c = pass; c < size; c += spacing)
                dots << (horizontal ? QPoint(c, spacing) : QPoint(spacing, c));
            QwtPainter::drawPoints(&p, dots);
            p.end();
            for (int c = pass; c < size; c += spacing) {
                int first = c;
                int last = c;
                for (int d = c - spacing / 2; d <= c + spacing / 2; ++d) {
                    const int x = horizontal ? d : spacing;
                    const int y = horizontal ? spacing : d;
                    if (probe.valid(x, y) && qAlpha(probe.pixel(x, y)) != 0) {
                        first = qMin(first, d);
                        last = qMax(last, d);
                    }
                }
                (*table)[c] = qMakePair(first, last);
            }
        }
    }

    QMap<QPair<qreal, bool>, Table> m_tables;
};

// Source-over of `stamp`, centred on each pixel, onto `layer` whose top-left
// is at `origin`; marks the rows it touches.
void stamp_all(QImage *layer, const QPoint &origin, const QImage &stamp, const QPolygon &pixels,
               std::vector<quint8> *usedRows)
{
    const int half = stamp.width() / 2;
    // The stamp's painted pixels as runs along its rows: opaque runs of one
    // colour are filled, the others blended pixel by pixel.
    struct Run { int dx, dy, length; QRgb colour; bool opaque; };
    std::vector<Run> runs;
    int top = 0;
    int bottom = -1;
    for (int y = 0; y < stamp.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(stamp.constScanLine(y));
        for (int x = 0; x < stamp.width();) {
            const QRgb colour = line[x];
            if (qAlpha(colour) == 0) {
                ++x;
                continue;
            }
            const bool opaque = qAlpha(colour) == 255;
            int end = x + 1;
            while (opaque && end < stamp.width() && line[end] == colour)
                ++end;
            if (runs.empty())
                top = y - half;
            bottom = y - half;
            runs.push_back({x - half, y - half, end - x, colour, opaque});
            x = end;
        }
    }
    const int width = layer->width();
    const int height = layer->height();
    QRgb *bits = reinterpret_cast<QRgb *>(layer->bits());
    const int stride = layer->bytesPerLine() / 4;
    for (const QPoint &p : pixels) {
        const int cx = p.x() - origin.x();
        const int cy = p.y() - origin.y();
        for (int y = qMax(0, cy + top); y <= qMin(height - 1, cy + bottom); ++y)
            (*usedRows)[static_cast<size_t>(y)] = 1;
        for (const Run &r : runs) {
            const int y = cy + r.dy;
            const int x0 = qMax(0, cx + r.dx);
            const int x1 = qMin(width, cx + r.dx + r.length);
            if (y < 0 || y >= height || x0 >= x1)
                continue;
            QRgb *line = bits + static_cast<ptrdiff_t>(y) * stride;
            if (r.opaque) {
                std::fill(line + x0, line + x1, r.colour);
                continue;
            }
            const int keep = 255 - qAlpha(r.colour);
            for (int x = x0; x < x1; ++x) {
                const QRgb d = line[x];
                line[x] = qRgba(qRed(r.colour) + qRed(d) * keep / 255,
                                qGreen(r.colour) + qGreen(d) * keep / 255,
                                qBlue(r.colour) + qBlue(d) * keep / 255,
                                qAlpha(r.colour) + qAlpha(d) * keep / 255);
            }
        }
    }
}

QPen solid_pen(Qt::GlobalColor colour, int width)
{
    return QPen(QBrush(colour), width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

QwtSymbol *make_symbol(QwtSymbol::Style style, Qt::GlobalColor colour, int penWidth, int size)
{
    return new QwtSymbol(style, QBrush(), solid_pen(colour, penWidth), QSize(size, size));
}

// A dot curve with one symbol per point.
void attach_time_curve(QwtPlot *plot, const LiveGraphData &data, const QString &title,
                       const QVector<double> &times, const QVector<double> &values,
                       QwtSymbol *symbol)
{
    auto *curve = new DenseDotCurve(title);
    curve->setStyle(QwtPlotCurve::Dots);
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
    // The curve's own pen stays black: the legend shows the symbol, which
    // carries the curve's colour.
    curve->setLegendAttribute(QwtPlotCurve::LegendShowSymbol, true);
    curve->setSymbol(symbol);
    curve->setData(new StoreSeries(data, times, values));
    curve->attach(plot);
}

// A curve of the pilot-tone graph. The showtime curve also keeps the data
// intervals that the autoscale of the replot after its drawing used.
class PilotCurve : public DenseDotCurve
{
public:
    using DenseDotCurve::DenseDotCurve;
    QwtInterval scaledX;
    QwtInterval scaledY;
};

PilotCurve *attach_pilot_curve(QwtPlot *plot, const LiveGraphData &data, const QString &title,
                               Qt::GlobalColor colour, const QVector<double> &phase,
                               const QVector<double> &quadrature)
{
    auto *curve = new PilotCurve(title);
    curve->setStyle(QwtPlotCurve::Dots);
    curve->setPaintAttribute(QwtPlotCurve::FilterPoints, true);
    curve->setPen(solid_pen(colour, 5));
    curve->setData(new StoreSeries(data, phase, quadrature));
    curve->attach(plot);
    return curve;
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

// The intervals that the plot's autoscale takes from its curves.
void autoscale_intervals(const QwtPlot *plot, QwtInterval &x, QwtInterval &y)
{
    x = y = QwtInterval();
    for (const QwtPlotItem *item : plot->itemList(QwtPlotItem::Rtti_PlotCurve)) {
        if (!item->testItemAttribute(QwtPlotItem::AutoScale) || !item->isVisible())
            continue;
        const QRectF rect = item->boundingRect();
        if (rect.width() >= 0.0)
            x |= QwtInterval(rect.left(), rect.right());
        if (rect.height() >= 0.0)
            y |= QwtInterval(rect.top(), rect.bottom());
    }
}

void draw_pilot_points(LiveGraphData &data, QwtPlot *plot, bool titled)
{
    remove_all_curves(plot);
    if (!data.training_phase.isEmpty())
        attach_pilot_curve(plot, data, titled ? QStringLiteral("Training") : QString(), Qt::blue,
                           data.training_phase, data.training_quadrature);
    PilotCurve *showtime = attach_pilot_curve(plot, data, titled ? QStringLiteral("Showtime") : QString(),
                                              Qt::red, data.showtime_phase, data.showtime_quadrature);
    autoscale_intervals(plot, showtime->scaledX, showtime->scaledY);
}

// The showtime curve of the last drawing of this graph when the plot holds
// exactly that drawing's curves, else null.
PilotCurve *drawn_showtime_curve(const LiveGraphData &data, QwtPlot *plot, bool titled)
{
    const QwtPlotItemList items = plot->itemList(QwtPlotItem::Rtti_PlotCurve);
    const bool training = !data.training_phase.isEmpty();
    if (items.size() != (training ? 2 : 1))
        return nullptr;
    const auto reads = [&](const QwtPlotItem *item, const QVector<double> &x,
                           const QVector<double> &y, const QString &title) {
        const auto *curve = dynamic_cast<const PilotCurve *>(item);
        const auto *series = curve ? dynamic_cast<const StoreSeries *>(curve->data()) : nullptr;
        return series && series->reads(x, y) && curve->title().text() == title;
    };
    if (training
        && !reads(items.first(), data.training_phase, data.training_quadrature,
                  titled ? QStringLiteral("Training") : QString()))
        return nullptr;
    if (!reads(items.last(), data.showtime_phase, data.showtime_quadrature,
               titled ? QStringLiteral("Showtime") : QString()))
        return nullptr;
    return static_cast<PilotCurve *>(items.last());
}

// A showtime point drawn last on a picture that keeps its curves and scales
// changes the canvas by its own pixels alone: they are painted into the
// canvas's backing store, which a replot would fill with the same picture.
// False when the picture changes otherwise; the caller then draws it all.
bool paint_showtime_point(const LiveGraphData &data, QwtPlot *plot, bool titled, bool autoscaledBefore)
{
    auto *canvas = qobject_cast<QwtPlotCanvas *>(plot->canvas());
    // A null store means a replot not painted yet, or nothing painted at all.
    if (!canvas || !canvas->testPaintAttribute(QwtPlotCanvas::BackingStore) || !canvas->backingStore()
        || canvas->backingStore()->isNull())
        return false;
    PilotCurve *curve = drawn_showtime_curve(data, plot, titled);
    const int n = data.showtime_phase.size();
    if (!curve || n < 1 || static_cast<int>(curve->dataSize()) != n)
        return false;
    const bool autoscaled = plot->axisAutoScale(QwtPlot::xBottom) && plot->axisAutoScale(QwtPlot::yLeft);
    const bool fixed = !plot->axisAutoScale(QwtPlot::xBottom) && !plot->axisAutoScale(QwtPlot::yLeft);
    if (autoscaled != autoscaledBefore || (!autoscaled && !fixed))
        return false;
    if (autoscaled) {
        QwtInterval x, y;
        autoscale_intervals(plot, x, y);
        if (x != curve->scaledX || y != curve->scaledY)
            return false;
    }

    const QwtScaleMap xMap = plot->canvasMap(curve->xAxis());
    const QwtScaleMap yMap = plot->canvasMap(curve->yAxis());
    const QRect contents = canvas->contentsRect();
    QPainter painter(const_cast<QPixmap *>(canvas->backingStore()));
    painter.setClipRect(contents);
    painter.setRenderHint(QPainter::Antialiasing, curve->testRenderHint(QwtPlotItem::RenderAntialiased));
    curve->drawSeries(&painter, xMap, yMap, contents, n - 1, n - 1);
    painter.end();

    const QPoint at(qRound(xMap.transform(data.showtime_phase.last())),
                    qRound(yMap.transform(data.showtime_quadrature.last())));
    const int reach = qCeil(curve->pen().widthF()) + 2;
    canvas->update(QRect(at, at).adjusted(-reach, -reach, reach, reach) & contents);
    return true;
}

// The part of the device a dense curve draws into, with the map of the
// pixels found so far.
struct PixelArea
{
    int left, top, width, height;
    quint64 *seen; // one bit per pixel: small enough to stay in the cache
    QPolygon *pixels;

    void mark(int px, int py) const
    {
        const unsigned x = static_cast<unsigned>(px - left);
        const unsigned y = static_cast<unsigned>(py - top);
        if (x >= static_cast<unsigned>(width) || y >= static_cast<unsigned>(height))
            return;
        const size_t bit = static_cast<size_t>(y) * static_cast<size_t>(width) + x;
        quint64 &word = seen[bit >> 6];
        const quint64 mask = quint64(1) << (bit & 63);
        if (!(word & mask)) {
            word |= mask;
            pixels->append(QPoint(px, py));
        }
    }
    bool inside(double fx, double fy) const
    {
        return fx > left - 1 && fx < left + width && fy > top - 1 && fy < top + height;
    }
    // Rounded as Qwt rounds; what lies far beyond the area is never
    // converted to int.
    void take(double fx, double fy) const
    {
        if (inside(fx, fy))
            mark(qRound(fx), qRound(fy));
    }
};

// QwtScaleMap::transform of a linear map with its factors held in registers;
// `exact` only when it gives the very same doubles as the map itself.
struct LinearMap
{
    double p1 = 0, s1 = 0, cnv = 1;
    bool exact = false;

    explicit LinearMap(const QwtScaleMap &map)
    {
        if (map.transformation() || map.s1() == map.s2())
            return;
        p1 = map.p1();
        s1 = map.s1();
        cnv = (map.p2() - map.p1()) / (map.s2() - map.s1());
        exact = true;
        for (double s : {map.s1(), map.s2(), 0.5 * (map.s1() + map.s2()), 1.0, 0.0, 12345.678})
            exact = exact && transform(s) == map.transform(s);
    }
    double transform(double s) const { return p1 + (s - s1) * cnv; }
};

template <typename Map>
void collect_pixels(const Map &xMap, const Map &yMap, const double *xs, const double *ys, int from,
                    int to, const std::vector<quint8> *steady, const PixelArea &area)
{
    const int block = LiveGraphData::kBlock;
    for (int i = from; i <= to;) {
        if (steady && i % block == 0 && i + block - 1 <= to
            && (*steady)[static_cast<size_t>(i / block)]) {
            const double fy = yMap.transform(ys[i]);
            const double fx1 = xMap.transform(xs[i]);
            const double fx2 = xMap.transform(xs[i + block - 1]);
            if (area.inside(fx1, fy) && area.inside(fx2, fy)) {
                const int py = qRound(fy);
                const int last = qMax(qRound(fx1), qRound(fx2));
                for (int px = qMin(qRound(fx1), qRound(fx2)); px <= last; ++px)
                    area.mark(px, py);
                i += block;
                continue;
            }
        }
        // Up to the next block boundary point by point.
        const int end = steady ? qMin(to, (i / block + 1) * block - 1) : to;
        for (; i <= end; ++i)
            area.take(xMap.transform(xs[i]), yMap.transform(ys[i]));
    }
}

} // namespace

DenseDotCurve::DenseDotCurve(const QString &title)
    : QwtPlotCurve(title)
{
}

void DenseDotCurve::drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                               const QRectF &canvasRect, int from, int to) const
{
    const int count = static_cast<int>(dataSize());
    if (to < 0)
        to = count - 1;
    // A wide dot's pixels depend on where it lies on the device; they are
    // known for whole-pixel shifts of solid, aliased, not too wide pens.
    const bool wideDots = pen().widthF() > 1.0;
    const QTransform device = painter ? painter->deviceTransform() : QTransform();
    const bool wholeShift = device.type() <= QTransform::TxTranslate
                            && device.dx() == qRound(device.dx()) && device.dy() == qRound(device.dy());
    const bool wideKnown = wholeShift && pen().brush().isOpaque() && pen().style() == Qt::SolidLine
                           && pen().widthF() <= WideDotExtents::kWidest && painter
                           && !painter->testRenderHint(QPainter::Antialiasing);
    if (!painter || style() != QwtPlotCurve::Dots || to - from + 1 < kDenseFrom || from < 0
        || to >= count || !QwtPainter::roundingAlignment(painter) || (wideDots && !wideKnown)) {
        QwtPlotCurve::drawSeries(painter, xMap, yMap, canvasRect, from, to);
        return;
    }

    // Wide dots and symbols of points just beyond the canvas reach into it.
    int reach = qCeil(pen().widthF()) + 1;
    if (symbol())
        reach = qMax(reach, qMax(symbol()->boundingRect().width(), symbol()->boundingRect().height()) + 1);
    const QRect area = canvasRect.toAlignedRect().adjusted(-reach, -reach, reach, reach);
    if (area.width() <= 0 || area.height() <= 0)
        return;
    const int left = area.left();
    const int top = area.top();
    const int width = area.width();
    const int height = area.height();
    // One map for all curves (GUI thread only); the marks of a drawing are
    // taken back one by one after it, so the map is cleared only when it grows.
    static std::vector<quint64> seen_map;
    const size_t words = (static_cast<size_t>(width) * height + 63) / 64;
    if (seen_map.size() < words)
        seen_map.assign(words, 0);

    QPolygon pixels;
    const PixelArea pixelArea{left, top, width, height, seen_map.data(), &pixels};
    const auto *store = dynamic_cast<const StoreSeries *>(data());
    if (store) {
        const LinearMap linearX(xMap);
        const LinearMap linearY(yMap);
        const std::vector<quint8> *steady = nullptr;
        // With a second at most a pixel wide, a block of consecutive seconds
        // at one value covers every column between its ends on one row.
        if (qAbs(xMap.transform(1.0) - xMap.transform(0.0)) <= 1.0 && !xMap.transformation())
            steady = &store->steady_blocks();
        if (linearX.exact && linearY.exact)
            collect_pixels(linearX, linearY, store->xs(), store->ys(), from, to, steady, pixelArea);
        else
            collect_pixels(xMap, yMap, store->xs(), store->ys(), from, to, steady, pixelArea);
    } else {
        for (int i = from; i <= to; ++i) {
            const QPointF sample = this->sample(i);
            pixelArea.take(xMap.transform(sample.x()), yMap.transform(sample.y()));
        }
    }

    for (const QPoint &p : qAsConst(pixels))
        seen_map[(static_cast<size_t>(p.y() - top) * width + (p.x() - left)) >> 6] = 0;
    if (pixels.isEmpty())
        return;

    // Every symbol is the same small picture at another pixel, and so is a
    // thin dot: each is rendered once the way Qwt renders it, and the copies
    // are composed in one layer that is painted at once. A wide dot's pixels
    // come from the measured extents.
    const int shiftX = qRound(device.dx());
    const int shiftY = qRound(device.dy());
    QImage dot;
    if (!wideDots)
        dot = render_stamp(painter, [this](QPainter *p, const QPoint &at) {
            p->setPen(pen());
            QwtPainter::drawPoints(p, QPolygon() << at);
        });
    QImage mark;
    if (symbol() && symbol()->style() != QwtSymbol::NoSymbol)
        mark = render_stamp(painter, [this](QPainter *p, const QPoint &at) {
            symbol()->drawSymbols(p, QPolygonF() << QPointF(at));
        });

    // Near the device's origin Qt paints the wide dots itself.
    QPolygon wide;
    if (wideDots) {
        QPolygon edgeDots;
        for (const QPoint &p : qAsConst(pixels)) {
            if (p.x() + shiftX < WideDotExtents::kFirstMeasured
                || p.y() + shiftY < WideDotExtents::kFirstMeasured)
                edgeDots << p;
            else
                wide << p;
        }
        painter->save();
        painter->setPen(pen());
        QwtPainter::drawPoints(painter, edgeDots);
        painter->restore();
    }

    QRect bounds;
    for (const QPoint &p : qAsConst(pixels))
        bounds |= QRect(p, QSize(1, 1));
    const int stampReach = qMax(qMax(dot.width(), mark.width()) / 2, qCeil(pen().widthF())) + 1;
    bounds.adjust(-stampReach, -stampReach, stampReach, stampReach);
    QImage layer(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    std::vector<quint8> usedRows(static_cast<size_t>(bounds.height()), 0);
    if (wideDots) {
        static WideDotExtents extents;
        const QRgb colour = pen().color().rgba();
        const WideDotExtents::Table &columns =
            extents.table(pen(), true, bounds.right() + shiftX + 1);
        const WideDotExtents::Table &rows = extents.table(pen(), false, bounds.bottom() + shiftY + 1);
        QRgb *bits = reinterpret_cast<QRgb *>(layer.bits());
        const int stride = layer.bytesPerLine() / 4;
        for (const QPoint &p : qAsConst(wide)) {
            const QPair<int, int> &xs = columns.at(p.x() + shiftX);
            const QPair<int, int> &ys = rows.at(p.y() + shiftY);
            const int x0 = qMax(0, xs.first - shiftX - bounds.left());
            const int x1 = qMin(bounds.width() - 1, xs.second - shiftX - bounds.left());
            const int y0 = qMax(0, ys.first - shiftY - bounds.top());
            const int y1 = qMin(bounds.height() - 1, ys.second - shiftY - bounds.top());
            for (int y = y0; y <= y1; ++y) {
                QRgb *line = bits + static_cast<ptrdiff_t>(y) * stride;
                std::fill(line + x0, line + x1 + 1, colour);
                usedRows[static_cast<size_t>(y)] = 1;
            }
        }
    } else {
        stamp_all(&layer, bounds.topLeft(), dot, pixels, &usedRows);
    }
    if (!mark.isNull())
        stamp_all(&layer, bounds.topLeft(), mark, pixels, &usedRows);
    // Curves of a few values are a few thin bands: only those are painted.
    for (int y = 0; y < bounds.height();) {
        if (!usedRows[y]) {
            ++y;
            continue;
        }
        int end = y;
        while (end < bounds.height() && usedRows[end])
            ++end;
        painter->drawImage(QPoint(bounds.left(), bounds.top() + y), layer,
                           QRect(0, y, bounds.width(), end - y));
        y = end;
    }
}

LiveGraph live_graph_named(const QString &itemText)
{
    static const QHash<QString, LiveGraph> graphs = {
        {QStringLiteral("SNR"), LiveGraph::Snr},
        {QStringLiteral("State"), LiveGraph::State},
        {QStringLiteral("CRCs"), LiveGraph::Crcs},
        {QStringLiteral("Bitswaps"), LiveGraph::BitSwaps},
        {QStringLiteral("Net Rates"), LiveGraph::NetRates},
        {QStringLiteral("Pilot Tone Constellation"), LiveGraph::PilotTone}};
    return graphs.value(itemText, LiveGraph::None);
}

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

QFont default_axis_title_font()
{
    static const QFont font = QwtPlot().axisTitle(QwtPlot::xBottom).font();
    return font;
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

bool plot_pilot_tone(LiveGraphData &data, bool korra, const QByteArray &header,
                     const QByteArray &payload, QwtPlot *plot, const QLineEdit *dslMode,
                     QwtLegend *, QwtPlotZoomer *zoomer, quint16 state, bool fromAnswer)
{
    const QwtText titleX = plot->axisTitle(QwtPlot::xBottom);
    const QwtText titleY = plot->axisTitle(QwtPlot::yLeft);
    const bool autoscaled = plot->axisAutoScale(QwtPlot::xBottom) && plot->axisAutoScale(QwtPlot::yLeft);
    plot->setAxisTitle(QwtPlot::yLeft, graph_axis_title(QStringLiteral("x100 Quadrature")));
    if (state < 6 || state > 9)
        return false;
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
        return false;
    }

    bool indexAnswer = false;
    bool arrayAnswer = false;
    if (korra) {
        if (header.size() < 12 || byte_at(header, 0) != 0 || byte_at(header, 1) != 0
            || byte_at(header, 2) != 0x40 || byte_at(header, 3) != 0x30)
            return false;
        const qint8 count = static_cast<qint8>(byte_at(header, 5));
        const qint8 elements = static_cast<qint8>(byte_at(header, 11));
        indexAnswer = count >= 1 && address_at(header, 6, data.pilot_tone_index_address)
                      && byte_at(header, 10) == 0 && elements >= 1;
        arrayAnswer = !indexAnswer && count >= 4 && address_at(header, 6, data.rx_pilot_tone_address)
                      && byte_at(header, 10) == 0 && elements >= 4;
    } else {
        if (header.size() < 2 || byte_at(header, 0) != 0 || (byte_at(header, 1) >> 4) != 3)
            return false;
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
        // A plain string would keep the graph title's small italic grey: the
        // index is shown in the plot's own title style.
        QwtText text(title.arg(pilot_tone_index));
        text.setFont(default_axis_title_font());
        plot->setAxisTitle(QwtPlot::xBottom, text);
        return false;
    }
    if (!arrayAnswer)
        return false;

    const double phase = signed_word_at(payload, 0) / 100.0;
    const double quadrature = signed_word_at(payload, 1) / 100.0;
    if (state == 6) {
        data.training_phase.append(phase);
        data.training_quadrature.append(quadrature);
    } else {
        data.showtime_phase.append(phase);
        data.showtime_quadrature.append(quadrature);
    }
    if (state != 6 && plot->axisTitle(QwtPlot::xBottom) == titleX
        && plot->axisTitle(QwtPlot::yLeft) == titleY
        && paint_showtime_point(data, plot, korra, autoscaled))
        return true;
    draw_pilot_points(data, plot, korra);
    return false;
}
