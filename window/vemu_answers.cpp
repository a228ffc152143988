// Answer reception: framing, matching against the request, retries and the
// records of completed reads.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "answer_framing.h"
#include "message.h"
#include "platform.h"
#include "result_records.h"

#include <QDateTime>
#include <QScopedValueRollback>
#include <QTcpSocket>
#include <QTimer>

namespace {

// The rest of an answer that has begun must come within this time; after it
// the fragment is handled as the whole answer.
const int kFragmentWaitMs = 1000;
const qint64 kSlowAnswerMs = 400;
// The fifth consecutive wrong answer to one packet gives the request up.
const int kWrongAnswerLimit = 4;
const int kGuiPollMs = 1500;
const int kErrorRetryWaitMs = 1000;
const int kAbortWaitMs = 2000;
const int kSlowLegacyWaitMs = 2000;

quint8 byte_at(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? static_cast<quint8>(bytes.at(index)) : 0;
}

// Answers count as slow only inside a period and past its opening state
// read; the legacy platform gives the CPE time to recover.
void warn_if_slow(Vemu &window, qint64 delayMs)
{
    if (!window.m_periodActive || window.m_requestIndex == 0 || delayMs <= kSlowAnswerMs)
        return;
    if (window.m_korraPlatform) {
        window.log_line("red", QStringLiteral("VERY SLOW response !!"));
    } else {
        window.log_line("red", QStringLiteral("VERY SLOW response ! Waiting for 2s..."));
        platform_sleep_ms(kSlowLegacyWaitMs);
    }
}

bool is_afe_data_word(const QByteArray &header)
{
    return byte_at(header, 7) == 0x20 && byte_at(header, 8) == 0xC6 && byte_at(header, 9) == 0xA4;
}

} // namespace

void Vemu::receive()
{
    // A pass already under way picks these bytes up when it ends.
    if (m_receiving)
        return;
    QScopedValueRollback<bool> guard(m_receiving, true);

    if (m_detectionPending) {
        // Whatever was gathered belongs to the link before this one.
        m_rxBuffer.clear();
        m_owedAnswerBytes = 0;
        m_answerArrivalMs = -1;
        if (m_fragmentTimer)
            m_fragmentTimer->stop();
        if (m_stopwatch->isValid())
            warn_if_slow(*this, m_stopwatch->elapsed());
        if (detect_platform())
            return;
        if (!m_periodActive)
            answer_outside_period();
        if (m_socket->bytesAvailable() > 0)
            queue_receive_pass();
        return;
    }

    read_link_input();
    handle_buffered_answers(false);
}

void Vemu::read_link_input()
{
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    if (m_rxBuffer.isEmpty())
        m_answerArrivalMs = m_stopwatch->isValid() ? m_stopwatch->elapsed() : 0;
    m_rxBuffer.append(bytes);
}

void Vemu::handle_buffered_answers(bool giveUpFragment)
{
    if (!m_fragmentTimer) {
        m_fragmentTimer = new QTimer(this);
        m_fragmentTimer->setSingleShot(true);
        m_fragmentTimer->setTimerType(Qt::PreciseTimer);
        connect(m_fragmentTimer, &QTimer::timeout, this, &Vemu::fragment_timeout);
    }

    while (!m_rxBuffer.isEmpty()) {
        if (m_detectionPending) {
            // The link was made anew meanwhile: these bytes are of the old one.
            m_rxBuffer.clear();
            m_owedAnswerBytes = 0;
            break;
        }
        if (m_owedAnswerBytes > 0) {
            // Bytes are owed only while nothing else is held, so the held
            // bytes are what arrived since: they tell a late rest from a
            // lost one.
            int late = late_rest_length(m_rxBuffer, m_owedAnswerBytes, m_korraPlatform, m_lastRequest);
            if (late < 0 && !giveUpFragment)
                break;
            // Too few bytes for a header even after the fragment wait: a rest.
            if (late < 0)
                late = qMin(m_owedAnswerBytes, m_rxBuffer.size());
            m_owedAnswerBytes = late == 0 ? 0 : m_owedAnswerBytes - late;
            if (late > 0) {
                // What is left begins a new answer, with a wait of its own.
                m_rxBuffer.remove(0, late);
                m_answerArrivalMs = -1;
                m_fragmentTimer->stop();
                giveUpFragment = false;
            }
            continue;
        }
        // Whether the answer rules size this answer: every legacy frame, a
        // Korra header only when it answers the request in flight.
        const bool sizeKnown
            = !m_korraPlatform
              || answer_matches_request(m_rxBuffer.left(kKorraHeaderSize), m_lastRequest);
        const AnswerFrame frame = answer_frame(m_rxBuffer, m_korraPlatform);
        int length = frame.length;
        if (length == 0 || length > m_rxBuffer.size()) {
            if (!giveUpFragment)
                break;
            // TCP loses nothing: should the rest of this answer come later,
            // it is not to be taken for the start of the next one.
            if (sizeKnown && length > 0)
                m_owedAnswerBytes = length - m_rxBuffer.size() + frame.optional;
            length = m_rxBuffer.size();
        } else {
            // What the rules let the device leave out is not waited for;
            // should it come after all, it is owed like a late rest.
            const int optional = qMin(frame.optional, m_rxBuffer.size() - length);
            if (sizeKnown)
                m_owedAnswerBytes = frame.optional - optional;
            length += optional;
        }
        giveUpFragment = false;
        m_fragmentTimer->stop();

        if (length == m_rxBuffer.size()) {
            m_answer.swap(m_rxBuffer);
            m_rxBuffer.clear();
        } else {
            m_answer = m_rxBuffer.left(length);
            m_rxBuffer.remove(0, length);
        }
        m_answerRead = 0;
        qint64 delay = m_answerArrivalMs;
        if (delay < 0)
            delay = m_stopwatch->isValid() ? m_stopwatch->elapsed() : 0;
        m_answerArrivalMs = -1;
        handle_answer(delay);
        m_answer.clear();
        m_answerRead = 0;
    }

    if (m_rxBuffer.isEmpty()) {
        m_fragmentTimer->stop();
        m_answerArrivalMs = -1;
    } else {
        if (m_answerArrivalMs < 0)
            m_answerArrivalMs = m_stopwatch->isValid() ? m_stopwatch->elapsed() : 0;
        if (!m_fragmentTimer->isActive())
            m_fragmentTimer->start(kFragmentWaitMs);
    }

    // Bytes taken in while a write was waited for raise no readyRead of
    // their own.
    if (m_socket->bytesAvailable() > 0)
        queue_receive_pass();
}

void Vemu::fragment_timeout()
{
    if (m_receiving) {
        m_fragmentTimer->start(kFragmentWaitMs / 10);
        return;
    }
    if (m_detectionPending) {
        // The platform reply is told by its size on the socket: leave it there.
        m_rxBuffer.clear();
        return;
    }
    QScopedValueRollback<bool> guard(m_receiving, true);
    read_link_input();
    handle_buffered_answers(true);
}

void Vemu::queue_receive_pass()
{
    if (m_receivePassQueued)
        return;
    m_receivePassQueued = true;
    QTimer::singleShot(0, Qt::PreciseTimer, this, [this]() {
        m_receivePassQueued = false;
        receive();
    });
}

void Vemu::discard_link_input()
{
    const qint64 dropped = m_socket->readAll().size() + m_rxBuffer.size();
    m_owedAnswerBytes = int(qMax<qint64>(0, m_owedAnswerBytes - dropped));
    m_rxBuffer.clear();
    m_answerRead = m_answer.size();
    m_answerArrivalMs = -1;
    if (m_fragmentTimer)
        m_fragmentTimer->stop();
}

QByteArray Vemu::take_answer_bytes(int count)
{
    const int available = m_answer.size() - m_answerRead;
    const int taken = qBound(0, count, available);
    const QByteArray bytes = m_answer.mid(m_answerRead, taken);
    m_answerRead += taken;
    return bytes;
}

void Vemu::answer_outside_period()
{
    // Only the answer that a request of the outside polling had in flight
    // when Start was pressed may open the first period; during a test the
    // outside polling stays quiet.
    if (m_testRunning && m_awaitingFirstPeriod)
        emit msgReceived();
    if (!m_testRunning)
        m_guiTimer->start(kGuiPollMs);
}

void Vemu::handle_answer(qint64 delayMs)
{
    warn_if_slow(*this, delayMs);

    if (m_korraPlatform)
        process_korra_answer();
    else
        process_legacy_answer();

    if (!m_periodActive) {
        answer_outside_period();
        return;
    }

    // Legacy answers carry nothing to match and are always taken.
    const bool accepted = !m_korraPlatform || m_answerMatched;
    if (accepted) {
        ++m_answersSinceState;
        m_wrongAnswers = 0;
    } else {
        ++m_wrongAnswers;
        if (m_wrongAnswers > kWrongAnswerLimit && m_requestIndex != 0) {
            log_line("red",
                     QStringLiteral(
                         "WRONG message received --> Aborting request and waiting for 2s..."));
            platform_sleep_ms(kAbortWaitMs);
            m_wrongAnswers = 0;
            m_lastRequest.clear();
            m_requestPayload.clear();
            if (m_requestIndex >= 0 && m_requestIndex < m_requests.size())
                m_requests.at(m_requestIndex)->reset_progress();
        } else {
            if (m_errorAnswer) {
                m_errorAnswer = false;
                log_line("red", QStringLiteral("ERROR message received --> Trying again in 1s..."));
                platform_sleep_ms(kErrorRetryWaitMs);
            } else {
                log_line("red", QStringLiteral("WRONG message received --> Trying again..."));
            }
            m_stopwatch->restart();
            m_socket->write(m_lastRequest);
            return;
        }
    }

    if (m_iterationBuffer.size() > m_flushThreshold)
        write_result_file();
    send_next_request();
}

void Vemu::process_korra_answer()
{
    QByteArray header = take_answer_bytes(kKorraHeaderSize);
    m_answerMatched = answer_matches_request(header, m_lastRequest);
    if (!m_answerMatched) {
        discard_link_input();
        m_errorAnswer = is_error_header(header);
        return;
    }
    m_errorAnswer = false;

    const int kind = korra_answer_kind(header);
    QByteArray payload = take_answer_bytes(korra_payload_size(header));

    display_firmware_info(header, payload);
    handle_state_answer(header, payload);
    if (!m_periodActive)
        return;

    apply_dsl_mode_to_state(header, payload);
    show_us_net_rate(header, payload);
    show_ds_net_rate(header, payload);
    mark_t1413(header, payload);
    display_crc_per_lp(header, payload);

    const int tab = ui->tabWidget->currentIndex();
    if (m_internalEdition) {
        if (tab == 2 || tab == 3)
            display_retransmission(header, payload);
        else if (tab >= 4 && tab <= 6)
            decode_info_answer(header, payload);
    } else if (tab >= 2 && tab <= 4) {
        decode_info_answer(header, payload);
    }

    const int state = m_cpeState % 100;
    if (state == 2 || state == 15)
        display_fail_states(header, payload);

    if (m_stateAnswer) {
        if (!m_openingStateRead)
            return;
        m_graphData->add_state_point(payload);
    }

    // An odd 8-bit count: the device fills the last word, and the byte that
    // fills it is the one kept in place of the last announced byte.
    if (kind == kMemory8Answer && header.size() >= kKorraHeaderSize && (byte_at(header, 11) & 1)
        && !payload.isEmpty()) {
        const QByteArray rest = take_answer_bytes(m_answer.size() - m_answerRead);
        payload[payload.size() - 1] = rest.isEmpty() ? char(0) : rest.at(0);
    }

    if (kind <= kMemory8Answer && !payload.isEmpty())
        m_requestPayload.append(payload);
    record_completed_request(kind, header, !payload.isEmpty());
    append_reset_time_stamp();
}

void Vemu::process_legacy_answer()
{
    QByteArray header = take_answer_bytes(kLegacyHeaderSize);
    QByteArray payload = take_answer_bytes(kLegacyPayloadSize);

    const int kind = legacy_answer_kind(header);
    if (kind == kWriteAck)
        payload.clear();
    const int count = header.size() >= 2 ? (byte_at(header, 1) & 0x0F) : 0;
    QByteArray data = payload.left(count * answer_unit(kind));

    display_legacy_firmware_info(header, payload);
    handle_legacy_state_answer(header, payload);
    mark_t1413(header, payload);

    const int tab = ui->tabWidget->currentIndex();
    if ((m_internalEdition && tab >= 4 && tab <= 6) || (!m_internalEdition && tab >= 2 && tab <= 4))
        decode_info_answer(header, payload);

    if (!m_periodActive)
        return;

    if (m_stateAnswer) {
        if (!m_openingStateRead)
            return;
        m_graphData->add_state_point(payload);
    }

    if (kind == kMemory8Answer && (count & 1) && payload.size() > count)
        data[count - 1] = payload.at(count);

    if (kind <= kMemory8Answer && !payload.isEmpty())
        m_requestPayload.append(data);
    record_completed_request(kind, header, !payload.isEmpty());
    append_reset_time_stamp();
}

void Vemu::record_completed_request(int kind, const QByteArray &header, bool answerHadPayload)
{
    if (!m_requestDone)
        return;
    // The request is complete: what it gathered goes into its record or is
    // dropped here, never onto the next request's record.
    const bool record = kind <= kMemory8Answer && (answerHadPayload || !m_requestPayload.isEmpty());
    if (!record) {
        m_requestPayload.clear();
        return;
    }

    const int position = m_requestIndex - 1;
    message *request = position >= 0 && position < m_requests.size() ? m_requests.at(position)
                                                                     : nullptr;
    // No request of the list was completed by this answer: the address is
    // unknown, and -1 is no firmware address.
    const qint32 address = request ? request->address() : -1;

    switch (kind) {
    case kCmvReadAnswer: {
        const qint8 group = static_cast<qint8>(byte_at(header, m_korraPlatform ? 7 : 3));
        const qint8 cmvAddress = static_cast<qint8>(byte_at(header, m_korraPlatform ? 6 : 5));
        append_cmv_read_record(m_iterationBuffer, m_iteration, group, cmvAddress, m_requestPayload);
        update_live_graph(header, true);
        break;
    }
    case kMemory16Answer:
        append_memory_read_record(m_iterationBuffer, kMemory16Record, m_iteration, address,
                                  m_requestPayload);
        update_live_graph(header, true);
        break;
    case kMemory32Answer: {
        const auto *memory = dynamic_cast<const MEMORY *>(request);
        if (m_korraPlatform && memory && memory->isAfeRead() && is_afe_data_word(header)) {
            append_afe_read_record(m_iterationBuffer, m_iteration, memory->afeRegister(),
                                   m_requestPayload);
            ++m_afeIndex;
        } else {
            append_memory_read_record(m_iterationBuffer, kMemory32Record, m_iteration, address,
                                      m_requestPayload);
        }
        break;
    }
    default:
        append_memory_read_record(m_iterationBuffer, kMemory8Record, m_iteration, address,
                                  m_requestPayload);
        break;
    }
    m_requestPayload.clear();
}

void Vemu::append_reset_time_stamp()
{
    if (m_stateAnswer && m_openingStateRead && m_cpeState % 100 == 0)
        append_time_stamp_record();
}
