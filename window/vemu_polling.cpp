// The polling cycle: Start and Stop, periods and the request scheduler.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "SymbolMaps.h"
#include "message.h"
#include "platform.h"
#include "result_records.h"
#include "session_log.h"

#include <QDateTime>
#include <QLineEdit>
#include <QMessageBox>
#include <QTcpSocket>
#include <QTimer>

#include <qwt_plot.h>
#include <qwt_plot_item.h>

namespace {

const int kStartDelayMs = 800;
const int kStopFallbackMs = 3000;
const int kCriticalWaitMs = 3000;
const int kGuiPollMs = 1500;

QString file_name_line(const QString &caption, const QString &value)
{
    return QStringLiteral("<font color=purple>") + QStringLiteral("&nbsp;").repeated(12) + caption
           + value + QStringLiteral("</font>");
}

} // namespace

void Vemu::set_test_widgets_enabled(bool enabled)
{
    QWidget *const widgets[] = {
        ui->m_Bconnect,        ui->m_Bmatlab,    ui->m_Bhtml,         ui->m_BinputFile,
        ui->m_BoutputFile,     ui->m_CliveDebugging, ui->m_SoutputFileSize, ui->m_SpollingTime,
        ui->m_Ccircbuff,       ui->m_BprepareInputFile, ui->m_CLBins,  ui->m_ClearMatlab,
        ui->m_CLHTML,          ui->m_ClLogs,     ui->m_R_Port_0,      ui->m_R_Port_1,
    };
    for (QWidget *widget : widgets)
        widget->setEnabled(enabled);
}

void Vemu::on_m_Bstart_clicked()
{
    if (ui->m_EinputFile->text().isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("Please select an input file before starting !"),
                              QMessageBox::Ok);
        return;
    }
    if (m_requests.isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("Please select a valid input file before starting !"),
                              QMessageBox::Ok);
        return;
    }
    if (ui->m_EoutputFile->text().isEmpty()) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("Please select an output file before starting !"),
                              QMessageBox::Ok);
        return;
    }

    if (m_testRunning) {
        m_testRunning = false;
        ui->m_Bstart->setEnabled(false);
        // A first period that has not opened yet never will.
        m_awaitingFirstPeriod = false;
        m_startTimer->stop();
        if (ui->m_SpollingTime->value() != 0 && m_requestIndex == 0)
            stop_processing();
        else
            m_stopTimer->start(kStopFallbackMs);
        return;
    }

    const bool symbolsMissing
        = ui->m_EsymbolFile->text().isEmpty() || !m_symbols || m_symbols->isEmpty();
    if (symbolsMissing) {
        if (m_automationMode == 0) {
            const auto answer = QMessageBox::warning(
                this, QStringLiteral("Information"),
                QStringLiteral("No symbol file was selected, would you like to continue anyways ?"),
                QMessageBox::Yes | QMessageBox::No);
            if (answer == QMessageBox::No)
                return;
        } else {
            log_line("red",
                     QStringLiteral(
                         "No or incorrect symbol file was given ---> Test will start anyways !"));
        }
    }

    m_testRunning = true;
    m_guiTimer->stop();
    ui->m_EoutputFile->setText(first_part_name());

    log_line("black", QStringLiteral("Test Started"));
    ui->m_Tlog->append(
        file_name_line(QStringLiteral("Input file name: "), ui->m_EinputFile->text()));
    ui->m_Tlog->append(
        file_name_line(QStringLiteral("Symbol file name: "), ui->m_EsymbolFile->text()));
    ui->m_Tlog->append(
        file_name_line(QStringLiteral("Result file name: "), ui->m_EoutputFile->text()));
    if (m_pollingTimer->interval() != 0)
        ui->m_Tlog->append(
            QStringLiteral("<font color=chocolate>") + log_time_stamp()
            + QStringLiteral("Polling Time = %1s</font>").arg(ui->m_SpollingTime->value()));

    m_iteration = 0;
    m_requestIndex = 0;
    m_afeIndex = 0;
    m_resumeAfterReconnect = false;
    for (message *request : qAsConst(m_requests))
        request->reset_progress();
    ui->m_Eiteration->setText(QStringLiteral("0"));
    ui->m_Bstart->setText(QStringLiteral("Stop"));

    set_test_widgets_enabled(false);

    if (m_plot) {
        m_plot->detachItems(QwtPlotItem::Rtti_PlotCurve, true);
        m_plot->setAxisAutoScale(QwtPlot::xBottom);
        m_plot->setAxisAutoScale(QwtPlot::yLeft);
        m_plot->replot();
    }
    make_results_dirs();

    const int state = m_cpeState % 100;
    m_showtimeFlag = state == 7 || state == 8;

    // A period armed after the previous test's stop must not open this one.
    m_pollingTimer->stop();
    m_awaitingFirstPeriod = true;
    m_startTimer->start(kStartDelayMs);
}

void Vemu::start_processing()
{
    // Runs once per test: a stray answer later in the test must not reopen
    // the first period (nor restart the part numbering).
    if (!m_testRunning || !m_awaitingFirstPeriod)
        return;
    m_awaitingFirstPeriod = false;

    m_startTimer->stop();
    m_requestPayload.clear();
    m_graphData->reset();
    m_lastRequest.clear();
    for (QWidget *page :
         {ui->tab_dsRetransmission, ui->tab_usRetransmission, ui->tab_lastExceptions}) {
        const auto edits = page->findChildren<QLineEdit *>();
        for (QLineEdit *edit : edits) {
            if (edit != ui->m_EETR)
                edit->clear();
        }
    }
    clear_cpe_infos();
    discard_link_input();
    m_periodActive = true;
    m_partNumber = 0;
    m_wrongAnswers = 0;
    m_stopwatch->restart();
    send_platform_state_request();
}

void Vemu::polling_timer()
{
    if (!m_testRunning)
        return;
    m_periodActive = true;
    discard_link_input();
    m_stopwatch->restart();
    send_platform_state_request();
}

void Vemu::write_request_packet(const QByteArray &packet)
{
    m_stopwatch->restart();
    m_socket->write(packet);
    m_socket->flush();
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(-1))
            break;
    }
}

void Vemu::start_next_period()
{
    if (m_pollingTimer->interval() != 0) {
        m_periodActive = false;
        if (m_testRunning)
            m_pollingTimer->start();
    } else {
        m_stopwatch->restart();
        send_platform_state_request();
    }
}

void Vemu::append_time_stamp_record()
{
    ::append_time_stamp_record(m_iterationBuffer, m_iteration,
                               time_stamp_entries(QDateTime::currentDateTime(), m_testDescription));
}

void Vemu::send_next_request()
{
    // Skipped requests are walked over here, one turn each, so a long run
    // of them costs no stack.
    for (;;) {
        if (!m_connected || !m_periodActive)
            return;

        int state = m_cpeState % 100;
        if (state == 2) {
            if (m_requestIndex == 0)
                m_failAtListStart = true;
        } else if (state != 15) {
            m_failAtListStart = false;
            if (m_linkDropped)
                close_result_part();
        }

        const int listSize = m_requests.size();
        if ((m_failAtListStart && m_requestIndex == listSize) || state == 0) {
            if (!m_testRunning)
                emit endOfCurntIter();
            if (state != 0) {
                log_line("blue", QStringLiteral("Critical phase detected --> waiting for 3s..."));
                platform_sleep_ms(kCriticalWaitMs);
            }
            ++m_iteration;
            m_requestIndex = 0;
            m_afeIndex = 0;
            m_answersSinceState = 0;
            m_openingStateRead = true;
            m_failAtListStart = false;
            ui->m_Eiteration->setText(QString::number(m_iteration));
            start_next_period();
            return;
        }

        if (m_answersSinceState == 5) {
            m_answersSinceState = 0;
            m_openingStateRead = false;
            if (m_requestDone) {
                m_stopwatch->restart();
                send_platform_state_request();
                return;
            }
            m_answersSinceState = 4;
        }

        if (m_requestIndex == 0 && m_requestDone)
            append_time_stamp_record();

        if (m_requestIndex == listSize) {
            m_openingStateRead = true;
            if (m_showtimeFlag) {
                m_showtimeFlag = false;
                if (ui->m_Ccircbuff->isChecked()) {
                    m_circularArmed = true;
                    write_result_file();
                }
            }
            m_requestIndex = 0;
            m_afeIndex = 0;
            m_answersSinceState = 0;
            if (!m_testRunning)
                emit endOfCurntIter();
            ++m_iteration;
            ui->m_Eiteration->setText(QString::number(m_iteration));
            if (m_partFull)
                close_result_part();
            start_next_period();
            return;
        }

        if (m_requestIndex > 0)
            m_openingStateRead = false;
        if (m_showtimeFlag)
            m_cpeState = static_cast<quint16>(m_cpeState / 100 * 100 + 9);

        message *request = m_requests.at(m_requestIndex);
        const QByteArray packet = m_korraPlatform
            ? request->buildPacket(&m_requestDone, &m_cpeState)
            : request->buildPacket32(&m_requestDone, &m_cpeState);
        m_lastRequest.clear();
        m_lastRequest.append(packet);
        if (packet.isEmpty()) {
            // Nothing goes on the wire, so nothing would ever call back for
            // this request: it counts as done.
            m_requestDone = true;
            ++m_requestIndex;
            continue;
        }
        write_request_packet(packet);
        if (m_requestDone)
            ++m_requestIndex;
        return;
    }
}

void Vemu::next_iteration()
{
    if (m_iteration == 0)
        return;
    ++m_iteration;
    m_requestIndex = 0;
    m_afeIndex = 0;
    m_answersSinceState = 0;
    ui->m_Eiteration->setText(QString::number(m_iteration));
    m_openingStateRead = true;
}

void Vemu::stop_processing()
{
    // A test ended by a drop winds down after the link has gone.
    ui->m_Bstart->setEnabled(link_ready());
    m_stopTimer->stop();
    // No period may begin after the test has stopped.
    m_startTimer->stop();
    m_pollingTimer->stop();
    m_awaitingFirstPeriod = false;

    log_line("black", QStringLiteral("Test Stopped"));

    make_results_dirs();
    write_result_file();

    m_requestPayload.clear();
    m_lastRequest.clear();
    m_circularBufferB.clear();
    m_circularBufferA.clear();
    m_partBuffer.clear();

    ui->m_Bstart->setText(QStringLiteral("Start"));
    set_test_widgets_enabled(true);

    clear_cpe_infos();

    m_periodActive = false;
    m_failAtListStart = false;
    m_linkDropped = false;
    m_partFull = false;
    m_openingStateRead = true;
    m_answersSinceState = 0;
    m_wrongAnswers = 0;

    m_guiTimer->start(kGuiPollMs);

    if (m_automationMode == 1) {
        if (m_connected)
            on_m_Bconnect_clicked();
        close();
    } else if (m_automationMode == 2) {
        if (!m_iterationBuffer.isEmpty())
            write_result_file();
    }
}
