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

void Vemu::update_live_graph(QByteArray header, bool fromAnswer)
{
    const quint16 state = m_testRunning ? m_cpeState % 100 : 7;
    switch (ui->m_liveGraphsSelection->currentIndex()) {
    case 1:
        plot_snr(*m_graphData, m_korraPlatform, header, m_requestPayload, m_plot, m_legend,
                 ui->m_EdslMode, state, fromAnswer);
        break;
    case 2:
        plot_state(*m_graphData, m_plot, m_legend);
        break;
    case 3:
        plot_crcs(*m_graphData, m_plot);
        break;
    case 4:
        if (m_korraPlatform)
            plot_bit_swaps(*m_graphData, m_korraPlatform, header, m_requestPayload, m_plot,
                           fromAnswer);
        else
            plot_pilot_tone(*m_graphData, m_korraPlatform, header, m_requestPayload, m_plot,
                            ui->m_EdslMode, m_legend, m_zoomer, state, fromAnswer);
        break;
    case 5:
        plot_net_rates(*m_graphData, m_plot);
        break;
    case 6:
        plot_pilot_tone(*m_graphData, m_korraPlatform, header, m_requestPayload, m_plot,
                        ui->m_EdslMode, m_legend, m_zoomer, state, fromAnswer);
        break;
    default:
        m_plot->setAxisTitle(QwtPlot::xBottom, blank_axis_title());
        m_plot->setAxisTitle(QwtPlot::yLeft, blank_axis_title());
        remove_all_curves(m_plot);
        break;
    }
    m_plot->replot();
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
    switch (ui->m_liveGraphsSelection->currentIndex()) {
    case 1:
        m_graphData->clear_snr();
        break;
    case 2:
        m_graphData->clear_state();
        break;
    case 3:
        m_graphData->clear_crcs();
        break;
    case 4:
        if (m_korraPlatform)
            m_graphData->clear_bit_swaps();
        else
            m_graphData->clear_pilot_tone();
        break;
    case 5:
        m_graphData->clear_net_rates();
        break;
    case 6:
        m_graphData->clear_pilot_tone();
        break;
    default:
        break;
    }
    m_plot->setAxisTitle(QwtPlot::xBottom, blank_axis_title());
    m_plot->setAxisTitle(QwtPlot::yLeft, blank_axis_title());
    remove_all_curves(m_plot);
    m_plot->replot();
}
