// The live graphs: plot set-up, drawing, selection and reset.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "live_graph_plots.h"

#include <qwt_legend.h>
#include <qwt_plot.h>
#include <qwt_plot_canvas.h>
#include <qwt_plot_grid.h>
#include <qwt_plot_zoomer.h>
#include <qwt_scale_div.h>
#include <qwt_text.h>

void Vemu::setup_plot()
{
    m_plot = new QwtPlot();
    ui->m_graphsLayout->addWidget(m_plot, 1, 0, 1, 3);
    m_plot->setCanvasBackground(QBrush(Qt::white));
    m_zoomer = new QwtPlotZoomer(m_plot->canvas(), true);
    m_plot->setAxisTitle(QwtPlot::xBottom, blank_axis_title());
    m_plot->setAxisTitle(QwtPlot::yLeft, blank_axis_title());
    m_grid = new QwtPlotGrid;
    m_grid->setPen(QPen(Qt::gray));
    m_grid->attach(m_plot);
    m_legend = new QwtLegend;
    m_plot->insertLegend(m_legend, QwtPlot::TopLegend, -1.0);
    m_legend->hide();
    m_plot->show();
}

bool Vemu::answer_may_change_graph(LiveGraph graph, const QByteArray &header) const
{
    // A coarse filter: every answer that a drawing takes data from passes,
    // so only answers that the drawing would ignore are turned away.
    const auto at = [&header](int i) { return i < header.size() ? quint8(header.at(i)) : quint8(0); };
    switch (graph) {
    case LiveGraph::PilotTone:
        return m_korraPlatform ? at(3) == 0x30 : (at(1) >> 4) == 3;
    case LiveGraph::Snr: // INFO 11
        return m_korraPlatform ? at(7) == 3 && at(6) == 11 : at(3) == 3 && at(5) == 11;
    case LiveGraph::BitSwaps: // INFO 95 and 96
        return at(7) == 3 && (at(6) == 95 || at(6) == 96);
    default: // drawn from the store alone
        return false;
    }
}

QVector<double> Vemu::graph_view_state() const
{
    QVector<double> view;
    for (int axis : {int(QwtPlot::xBottom), int(QwtPlot::yLeft)}) {
        const QwtScaleDiv &div = m_plot->axisScaleDiv(axis);
        view << div.lowerBound() << div.upperBound() << m_plot->axisStepSize(axis)
             << double(m_plot->axisAutoScale(axis)) << double(qHash(m_plot->axisTitle(axis).text()));
    }
    view << double(m_plot->itemList(QwtPlotItem::Rtti_PlotCurve).size());
    return view;
}

QVector<double> Vemu::graph_data_state() const
{
    const LiveGraphData &d = *m_graphData;
    QVector<double> data;
    data << double(shown_graph()) << double(m_korraPlatform)
         << double(pilot_tone_index) << double(reinterpret_cast<quintptr>(d.snr_answer.constData()))
         << d.snr_answer.size();
    for (const QVector<double> *series :
         {&d.state_times, &d.crc_times, &d.us_rate_times, &d.ds_rate_times, &d.us_swap_times,
          &d.ds_swap_times, &d.showtime_phase, &d.training_phase}) {
        data << series->size() << (series->isEmpty() ? 0.0 : series->last());
    }
    return data;
}

void Vemu::update_live_graph(QByteArray header, bool fromAnswer)
{
    // Answers come far more often than the series gain points (at most one
    // a second): when the drawing changed neither the data nor the view that
    // the canvas shows since its last replot, the canvas already shows this
    // picture, and redrawing a day of points for every answer is skipped.
    const QVector<double> viewBefore = graph_view_state();
    const LiveGraph graph = shown_graph();
    if (fromAnswer && !answer_may_change_graph(graph, header) && viewBefore == m_drawnView
        && graph_data_state() == m_drawnData)
        return;
    const quint16 state = m_testRunning ? m_cpeState % 100 : 7;
    bool paintedInPlace = false;
    switch (graph) {
    case LiveGraph::Snr:
        plot_snr(*m_graphData, m_korraPlatform, header, m_requestPayload, m_plot, m_legend,
                 ui->m_EdslMode, state, fromAnswer);
        break;
    case LiveGraph::State:
        plot_state(*m_graphData, m_plot, m_legend);
        break;
    case LiveGraph::Crcs:
        plot_crcs(*m_graphData, m_plot);
        break;
    case LiveGraph::BitSwaps:
        plot_bit_swaps(*m_graphData, m_korraPlatform, header, m_requestPayload, m_plot, fromAnswer);
        break;
    case LiveGraph::NetRates:
        plot_net_rates(*m_graphData, m_plot);
        break;
    case LiveGraph::PilotTone:
        paintedInPlace = plot_pilot_tone(*m_graphData, m_korraPlatform, header, m_requestPayload,
                                         m_plot, ui->m_EdslMode, m_legend, m_zoomer, state, fromAnswer);
        break;
    case LiveGraph::None: {
        // Every answer comes here while "None" is shown; once the plot is
        // blank a replot would only draw the same empty frame again.
        const QwtText blank = blank_axis_title();
        if (m_plot->axisTitle(QwtPlot::xBottom) == blank && m_plot->axisTitle(QwtPlot::yLeft) == blank
            && m_plot->itemList(QwtPlotItem::Rtti_PlotCurve).isEmpty())
            return;
        m_plot->setAxisTitle(QwtPlot::xBottom, blank);
        m_plot->setAxisTitle(QwtPlot::yLeft, blank);
        remove_all_curves(m_plot);
        break;
    }
    }
    const QVector<double> data = graph_data_state();
    if (paintedInPlace) {
        m_drawnData = data;
        return;
    }
    if (fromAnswer && viewBefore == m_drawnView && graph_view_state() == m_drawnView
        && data == m_drawnData)
        return;
    m_plot->replot();
    m_drawnData = data;
    m_drawnView = graph_view_state();
}

LiveGraph Vemu::shown_graph() const
{
    return live_graph_named(ui->m_liveGraphsSelection->currentText());
}

void Vemu::on_m_liveGraphsSelection_currentIndexChanged()
{
    // The form's signals are bound before the plot exists.
    if (!m_plot)
        return;
    remove_all_curves(m_plot);
    m_plot->replot();
    if (!m_testRunning)
        update_live_graph(QByteArray(12, '\0'), false);
    ui->m_BResetGraph->setEnabled(ui->m_liveGraphsSelection->currentIndex() != 0);
}

void Vemu::on_m_BResetGraph_clicked()
{
    switch (shown_graph()) {
    case LiveGraph::Snr:
        m_graphData->clear_snr();
        break;
    case LiveGraph::State:
        m_graphData->clear_state();
        break;
    case LiveGraph::Crcs:
        m_graphData->clear_crcs();
        break;
    case LiveGraph::BitSwaps:
        m_graphData->clear_bit_swaps();
        break;
    case LiveGraph::NetRates:
        m_graphData->clear_net_rates();
        break;
    case LiveGraph::PilotTone:
        m_graphData->clear_pilot_tone();
        break;
    case LiveGraph::None:
        break;
    }
    m_plot->setAxisTitle(QwtPlot::xBottom, blank_axis_title());
    m_plot->setAxisTitle(QwtPlot::yLeft, blank_axis_title());
    remove_all_curves(m_plot);
    m_plot->replot();
}
