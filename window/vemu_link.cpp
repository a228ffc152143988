// The CPE link: connect and disconnect, platform detection, ports, socket
// errors and reconnection.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "message.h"

#include <QMessageBox>
#include <QTcpSocket>
#include <QTimer>

namespace {

const int kConnectWaitMs = 2500;
const int kReconnectDelayMs = 5000;
const int kReconnectAttempts = 10;

} // namespace

void Vemu::on_m_Bconnect_clicked()
{
    m_connected = !m_connected;
    if (m_connected) {
        m_socket->abort();
        m_socket->disconnectFromHost();
        m_socket->connectToHost(ui->m_Eip->text(), m_port, QIODevice::ReadWrite);
        ui->m_Eip->setEnabled(false);
        ui->m_Bconnect->setText(QStringLiteral("Disconnect"));
        if (m_socket->waitForConnected(kConnectWaitMs)) {
            // Start waits for the platform detection: before it, no packet
            // format is known.
            log_line("green", QStringLiteral("CPE connected (IP is: ") + ui->m_Eip->text()
                                  + QLatin1Char(')'));
            // Made by hand during the reconnection wait, the link must neither
            // be dropped by the next attempt nor hide a later drop.
            end_reconnection();
            m_guiTimer->start(1500);
        } else {
            log_line("red", QStringLiteral("Connection failure! (IP is: ") + ui->m_Eip->text()
                                + QLatin1Char(')'));
            if (m_automationMode == 1 || m_automationMode == 2)
                setEnabled(true);
            ui->m_Eip->setEnabled(true);
            ui->m_Bconnect->setText(QStringLiteral("Connect"));
            m_connected = false;
            m_socket->abort();
            m_socket->disconnectFromHost();
        }
    } else {
        m_socket->abort();
        m_socket->disconnectFromHost();
        m_socket->close();
        log_line("green", QStringLiteral("CPE disconnected "));
        m_guiTimer->stop();
        ui->m_Bconnect->setText(QStringLiteral("Connect"));
        ui->m_Eip->setEnabled(true);
        ui->m_Bstart->setEnabled(false);
        for (QLineEdit *field : {ui->m_Efirmware, ui->m_Eplateform, ui->m_EdslMode, ui->m_Eiteration,
                                 ui->m_EcpeState, ui->m_EcpeStateStr, ui->m_EDtuBad, ui->m_EDtuCorr,
                                 ui->m_EDtuFwd, ui->m_EDtuGood, ui->m_EDtuRetr, ui->m_EDtuUnxpct,
                                 ui->m_EDtuTot, ui->m_EDtuUncorr, ui->m_EErrBitsps, ui->m_EFWFail,
                                 ui->m_ETxErrState, ui->m_ETxSCAF, ui->m_ETxSubErrState,
                                 ui->m_ERxErrState, ui->m_ERxSCAF, ui->m_ERxSubErrState})
            field->clear();
        m_graphData->reset();
        for (QLineEdit *field : {ui->m_USRetxDtu, ui->m_UScorrectDtu, ui->m_USuncorrecDtu,
                                 ui->m_USEtr, ui->m_US_ActDelay, ui->m_US_INP_shine,
                                 ui->m_US_INP_REIN, ui->m_ErrorFreebit, ui->m_Eftr_min,
                                 ui->m_Eftr_defectsec})
            field->clear();
        clear_cpe_infos();
    }
    m_detectionPending = true;
    m_wrongAnswers = 0;
}

void Vemu::get_chip()
{
    // A Korra CMV read of STAT 0 in form; a legacy CPE answers it with one
    // 32-byte frame, a Korra CPE with an answer of another size.
    QByteArray query(32, '\0');
    query[0] = char(0xC0);
    query[2] = char(0x40);
    query[5] = char(0x0A);
    query[7] = char(0x02);
    query[11] = char(0x01);
    m_socket->write(query);
}

bool Vemu::detect_platform()
{
    // Only the size of the reply tells the platform, so this must run before
    // anything else takes bytes from the socket.
    const qint64 available = m_socket->bytesAvailable();
    QComboBox *graphs = ui->m_liveGraphsSelection;
    if (available != 32) {
        m_korraPlatform = true;
        for (QWidget *w : {static_cast<QWidget *>(ui->m_DSdatarate), static_cast<QWidget *>(ui->m_USdatarate),
                           static_cast<QWidget *>(ui->m_NetRates), static_cast<QWidget *>(ui->m_CRCLP0),
                           static_cast<QWidget *>(ui->m_CRCLP1), static_cast<QWidget *>(ui->m_CRCs)})
            w->show();
        ui->m_R_Port_0->setEnabled(true);
        ui->m_R_Port_1->setEnabled(true);
        show_info_fields();
        if (graphs->itemText(3) != QLatin1String("CRCs"))
            graphs->insertItem(3, QStringLiteral("CRCs"));
        if (graphs->itemText(4) != QLatin1String("Bitswaps"))
            graphs->insertItem(4, QStringLiteral("Bitswaps"));
        if (graphs->itemText(5) != QLatin1String("Net Rates"))
            graphs->insertItem(5, QStringLiteral("Net Rates"));
        if (ui->tabWidget->count() > 2
            && graphs->itemText(6) != QLatin1String("Pilot Tone Constellation"))
            graphs->insertItem(6, QStringLiteral("Pilot Tone Constellation"));
        setMinimumHeight(800);
    } else {
        m_korraPlatform = false;
        for (QWidget *w : {static_cast<QWidget *>(ui->m_DSdatarate), static_cast<QWidget *>(ui->m_USdatarate),
                           static_cast<QWidget *>(ui->m_NetRates), static_cast<QWidget *>(ui->m_CRCLP0),
                           static_cast<QWidget *>(ui->m_CRCLP1), static_cast<QWidget *>(ui->m_CRCs)})
            w->hide();
        ui->m_R_Port_0->setEnabled(false);
        ui->m_R_Port_1->setEnabled(false);
        ui->UBPO->hide();
        show_info_fields();
        if (graphs->itemText(3) == QLatin1String("CRCs"))
            graphs->removeItem(3);
        if (graphs->itemText(3) == QLatin1String("Bitswaps"))
            graphs->removeItem(3);
        setMinimumHeight(750);
    }
    m_socket->readAll();
    m_detectionPending = false;
    ui->m_Bstart->setEnabled(true);

    if (m_automationMode == 1 || m_automationMode == 2
        || (m_automationMode == 0 && m_resumeAfterReconnect)) {
        on_m_Bstart_clicked();
        return true;
    }
    return false;
}

void Vemu::on_m_R_Port_0_toggled(bool checked)
{
    if (checked) {
        for (message *request : qAsConst(m_requests))
            request->set_port(0xC0);
        log_line("purple", QStringLiteral("Port 0 is selected."));
    }
    for (QLineEdit *field : {ui->m_Efirmware, ui->m_EcpeState, ui->m_EcpeStateStr, ui->m_EdslMode,
                             ui->m_Eplateform})
        field->clear();
}

void Vemu::on_m_R_Port_1_toggled(bool checked)
{
    if (!checked)
        return;
    if (m_automationMode != 1) {
        const QMessageBox::StandardButton answer = QMessageBox::warning(
            this, QStringLiteral("Warning"),
            QStringLiteral("You are about to connect to the port 1 (Bonding CPEs). Are you sure you "
                           "want to continue ?\nIf you do not know what this is, then please "
                           "click on \"No\"."),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
        if (answer == QMessageBox::No) {
            ui->m_R_Port_0->setChecked(true);
            return;
        }
    }
    for (message *request : qAsConst(m_requests))
        request->set_port(0xC1);
    log_line("purple", QStringLiteral("Port 1 is selected."));
}

bool Vemu::link_ready() const
{
    return m_connected && !m_detectionPending
           && m_socket->state() == QAbstractSocket::ConnectedState;
}

void Vemu::end_reconnection()
{
    m_waitingTimer->stop();
    m_reconnecting = false;
    m_reconnectAttempts = 0;
}

void Vemu::socket_error(QAbstractSocket::SocketError error)
{
    if (m_reconnecting)
        return;
    m_reconnecting = true;
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        log_line("red", QStringLiteral("SOCKET ERROR: Server refuses the connexion, check IP and port number !"));
        break;
    case QAbstractSocket::RemoteHostClosedError:
        log_line("red", QStringLiteral("SOCKET ERROR: Server connection is down !"));
        break;
    case QAbstractSocket::HostNotFoundError:
        log_line("red", QStringLiteral("SOCKET ERROR: Server can not be found, please check IP and port number !"));
        break;
    default:
        log_line("red", QStringLiteral("SOCKET ERROR: ") + m_socket->errorString() + QLatin1Char('!'));
        break;
    }

    if (m_testRunning) {
        on_m_Bstart_clicked();
        m_resumeAfterReconnect = true;
    } else {
        m_resumeAfterReconnect = false;
    }

    if (error == QAbstractSocket::RemoteHostClosedError) {
        if (m_connected)
            on_m_Bconnect_clicked();
        log_line("chocolate", QStringLiteral("Trying to reconnect in 5s..."));
        m_waitingTimer->start(kReconnectDelayMs);
    } else {
        m_reconnecting = false;
    }
    if (!link_ready())
        ui->m_Bstart->setEnabled(false);
}

void Vemu::waitingTimer()
{
    // Connect is a toggle: an attempt on a link made meanwhile would drop it.
    if (m_connected) {
        end_reconnection();
        return;
    }
    m_reconnectAttempts += 1;
    if (m_reconnectAttempts > kReconnectAttempts) {
        log_line("blue", QStringLiteral("Aborting reconnection."));
        m_reconnecting = false;
        m_reconnectAttempts = 0;
        return;
    }
    on_m_Bconnect_clicked();
    if (m_socket->state() == QAbstractSocket::ConnectedState) {
        end_reconnection();
        return;
    }
    if (m_reconnectAttempts == kReconnectAttempts) {
        m_waitingTimer->start(5);
    } else {
        log_line("chocolate", QStringLiteral("Trying to reconnect in 5s..."));
        m_waitingTimer->start(kReconnectDelayMs);
    }
}
