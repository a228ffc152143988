#ifndef LIVE_GRAPH_PLOTS_H
#define LIVE_GRAPH_PLOTS_H

// Room display/: status decoders, the live-graph store and the plot drawings; no window.

// The drawings of the live graphs. Each one reads the store, adds to it what
// it takes from the answer (bit swaps, pilot-tone points, the SNR answer) and
// rebuilds the plot's curves; none of them replots.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <qwt_plot_curve.h>

struct LiveGraphData;
class QLineEdit;
class QwtLegend;
class QwtPlot;
class QwtPlotZoomer;
class QwtText;

// A dot curve of a day of points puts dozens of points on every pixel. On a
// raster device Qwt rounds every point to its pixel, so the picture is made of
// the dots and symbols of the distinct pixels alone: this curve finds them in
// one tight pass over the series and paints each once, where Qwt would map
// and paint every point.
class DenseDotCurve : public QwtPlotCurve
{
public:
    explicit DenseDotCurve(const QString &title = QString());
    void drawSeries(QPainter *painter, const QwtScaleMap &xMap, const QwtScaleMap &yMap,
                    const QRectF &canvasRect, int from, int to) const override;

    // Below this many points Qwt's own path is as quick.
    static const int kDenseFrom = 2000;
};

// The graphs of the selection list. The list changes with the platform (the
// legacy list lacks "CRCs" and "Bitswaps"), so a graph is known by its item's
// text, never by its place in the list.
enum class LiveGraph { None, Snr, State, Crcs, BitSwaps, NetRates, PilotTone };
LiveGraph live_graph_named(const QString &itemText);

// Pilot-tone index of the last index answer; kept for the whole run.
extern int pilot_tone_index;

// " " in the small italic axis font.
QwtText blank_axis_title();
// Axis titles of the graphs: the small italic font in dark grey.
QwtText graph_axis_title(const QString &text);
// The font Qwt gives an axis title that no one has styled.
QFont default_axis_title_font();
// Deletes every curve of the plot; the grid stays.
void remove_all_curves(QwtPlot *plot);

void plot_snr(LiveGraphData &data, bool korra, const QByteArray &header, const QByteArray &payload,
              QwtPlot *plot, QwtLegend *legend, const QLineEdit *dslMode, quint16 state,
              bool fromAnswer);
void plot_state(LiveGraphData &data, QwtPlot *plot, QwtLegend *legend);
void plot_crcs(LiveGraphData &data, QwtPlot *plot);
void plot_bit_swaps(LiveGraphData &data, bool korra, const QByteArray &header,
                    const QByteArray &payload, QwtPlot *plot, bool fromAnswer);
void plot_net_rates(LiveGraphData &data, QwtPlot *plot);
// True when the answer's point was painted onto the canvas as it stands,
// which then needs no replot.
bool plot_pilot_tone(LiveGraphData &data, bool korra, const QByteArray &header,
                     const QByteArray &payload, QwtPlot *plot, const QLineEdit *dslMode,
                     QwtLegend *legend, QwtPlotZoomer *zoomer, quint16 state, bool fromAnswer);

#endif
