// The line state: the fixed state and firmware requests, the polling outside
// a test and the line-state answers of both platforms.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "message.h"
#include "platform.h"
#include "status_decoders.h"

#include <QTcpSocket>
#include <QTimer>

namespace {

const quint32 kGroupStat = 2;
const quint32 kGroupInfo = 3;
const quint32 kFirmwareAddress = 54;

quint16 first_word(const QByteArray &payload)
{
    return payload_word(payload, 0);
}

} // namespace

void Vemu::write_fixed_request(quint32 group, quint32 address, quint32 words, bool korra)
{
    // The request's only state is the current one, so it is never skipped.
    const QString states = korra ? QStringLiteral(",%1,").arg(m_cpeState) : QString::number(m_cpeState);
    CMV request(group, address, 0, words, states, false);
    if (korra && ui->m_R_Port_1->isChecked())
        request.set_port(0xC1);
    m_lastRequest.clear();
    m_lastRequest.append(korra ? request.buildPacket(&m_requestDone, &m_cpeState)
                               : request.buildPacket32(&m_requestDone, &m_cpeState));
    m_socket->write(m_lastRequest);
    m_socket->flush();
    while (m_socket->bytesToWrite() > 0 && m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->waitForBytesWritten(-1);
}

void Vemu::send_state_request()
{
    write_fixed_request(kGroupStat, 0, 1, false);
    if (m_iteration == 0 && m_requestIndex == 0)
        m_graphData->start_clock();
}

void Vemu::send_korra_state_request()
{
    write_fixed_request(kGroupStat, 0, 2, true);
    if (m_iteration == 0 && m_requestIndex == 0)
        m_graphData->start_clock();
}

void Vemu::send_version_request()
{
    write_fixed_request(kGroupInfo, kFirmwareAddress, 2, false);
}

void Vemu::send_korra_version_request()
{
    write_fixed_request(kGroupInfo, kFirmwareAddress, 3, true);
}

void Vemu::send_platform_state_request()
{
    if (m_korraPlatform)
        send_korra_state_request();
    else
        send_state_request();
}

void Vemu::gui_timer()
{
    if (m_detectionPending)
        return;
    // A test drives its own requests; a request of ours in between would be
    // taken for the answer the test waits for.
    if (m_testRunning)
        return;
    m_guiToggle = !m_guiToggle;
    if (m_guiToggle) {
        send_platform_state_request();
        return;
    }
    const quint16 state = m_cpeState % 100;
    if (state == 0 || state == 2) {
        m_guiTimer->stop();
        ui->m_Tlog->append(QStringLiteral("<em><font color=blue>") + log_time_stamp()
                           + QStringLiteral("Critical phase detected --> waiting for 3.5 s...</font></em>"));
        platform_sleep_ms(2000);
        m_guiTimer->start(1500);
    } else if (m_korraPlatform) {
        send_korra_version_request();
    } else {
        send_version_request();
    }
}

void Vemu::handle_state_answer(QByteArray &header, QByteArray &payload)
{
    static const int kStateHeader[12] = {0x00, 0x00, 0x40, 0x10, -1, 0x02,
                                         0x00, 0x02, 0x00, 0x00, 0x00, 0x02};
    bool isState = header.size() >= 12;
    for (int i = 0; isState && i < 12; ++i)
        isState = kStateHeader[i] < 0 || byte_at(header, i) == kStateHeader[i];
    if (!isState) {
        m_stateAnswer = false;
        return;
    }

    quint16 code = static_cast<quint16>((m_cpeState / 100) * 100 + first_word(payload));
    if (code % 100 == 14)
        code -= 8;
    if (code % 100 == 16)
        code -= 11;

    if (code == 240 || code == 340) {
        ui->m_EcpeState->setText(QStringLiteral("240"));
        ui->m_EcpeStateStr->setText(state_text(240));
    } else {
        ui->m_EcpeState->setText(QString::number(code % 100));
        ui->m_EcpeStateStr->setText(state_text(code % 100));
    }

    // Pre Fail and the sleep state count as Fail from here on.
    if (code % 100 == 15)
        code -= 13;
    if (code == 240)
        code = 2;
    else if (code == 340)
        code = 102;
    m_cpeState = code;

    const quint16 p = m_previousCpeState % 100;
    quint16 s = m_cpeState % 100;
    if (is_showtime(p) && !is_showtime(s) && m_testRunning) {
        m_linkDropped = true;
        if (ui->m_Ccircbuff->isChecked())
            write_result_file();
    }
    if (!is_showtime(p) && (s == 7 || s == 8) && m_testRunning) {
        m_showtimeFlag = true;
        m_cpeState = static_cast<quint16>((m_cpeState / 100) * 100 + 9);
        s = 9;
        next_iteration();
    }
    const bool sevenEight = (p == 7 && s == 8) || (p == 8 && s == 7);
    if (s != p && m_testRunning && m_requestIndex != 0 && !m_showtimeFlag && !sevenEight)
        next_iteration();

    m_previousCpeState = m_cpeState;
    m_stateAnswer = true;
}

void Vemu::handle_legacy_state_answer(QByteArray &header, QByteArray &payload)
{
    if (byte_at(header, 3) != 0x02 || byte_at(header, 4) != 0 || byte_at(header, 5) != 0
        || byte_at(header, 6) != 0 || byte_at(header, 7) != 0) {
        m_stateAnswer = false;
        return;
    }

    quint16 code = first_word(payload);
    ui->m_EcpeState->setText(QString::number(code));
    ui->m_EcpeStateStr->setText(legacy_state_text(code));
    if (code == 11)
        code = 6;
    m_cpeState = code;

    const quint16 p = m_previousCpeState;
    const auto legacyShowtime = [](quint16 v) { return v == 7 || v == 9; };
    if (legacyShowtime(p) && !legacyShowtime(m_cpeState) && m_testRunning) {
        m_linkDropped = true;
        if (ui->m_Ccircbuff->isChecked())
            write_result_file();
    }
    if (!legacyShowtime(p) && m_cpeState == 7 && m_testRunning) {
        m_showtimeFlag = true;
        m_cpeState = 9;
        next_iteration();
    }
    if (m_cpeState != p && m_testRunning && m_requestIndex != 0 && !m_showtimeFlag)
        next_iteration();

    m_previousCpeState = m_cpeState;
    m_stateAnswer = true;
}
