#include "answer_framing.h"

namespace {

quint8 byte_at(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? static_cast<quint8>(bytes.at(index)) : 0;
}

} // namespace

int korra_answer_kind(const QByteArray &header)
{
    if (header.size() < 4)
        return kOtherAnswer;
    const quint8 size = byte_at(header, 2);
    switch (byte_at(header, 3)) {
    case 0x10:
        return kCmvReadAnswer;
    case 0x30:
        if (size == 0x00)
            return kMemory8Answer;
        if (size == 0x80)
            return kMemory32Answer;
        return kMemory16Answer;
    case 0x50:
    case 0xB0:
        return kWriteAck;
    default:
        return kOtherAnswer;
    }
}

int answer_unit(int kind)
{
    switch (kind) {
    case kMemory32Answer:
        return 4;
    case kMemory8Answer:
        return 1;
    case kWriteAck:
        return 0;
    default:
        return 2;
    }
}

int korra_element_count(const QByteArray &header)
{
    if (header.size() <= 10)
        return 0;
    return (byte_at(header, 10) << 8) | byte_at(header, 11);
}

int korra_payload_size(const QByteArray &header)
{
    if (byte_at(header, 3) >> 4 == 0x5)
        return 0;
    return korra_element_count(header) * answer_unit(korra_answer_kind(header));
}

AnswerFrame answer_frame(const QByteArray &stream, bool korra)
{
    AnswerFrame frame;
    if (!korra) {
        frame.length = stream.isEmpty() ? 0 : kLegacyAnswerSize;
        return frame;
    }
    if (stream.size() < kKorraHeaderSize)
        return frame;
    const QByteArray header = stream.left(kKorraHeaderSize);
    frame.length = kKorraHeaderSize;
    // An ERROR answer repeats the request's count but carries no data.
    if (is_error_header(header))
        return frame;
    frame.length += korra_payload_size(header);
    const int kind = korra_answer_kind(header);
    if (kind == kMemory8Answer && (korra_element_count(header) & 1))
        frame.optional = 1;
    else if (kind == kOtherAnswer && byte_at(header, 3) >> 4 == 0x5)
        frame.optional = korra_element_count(header) * answer_unit(kind);
    return frame;
}

int late_rest_length(const QByteArray &arrival, int owed, bool korra, const QByteArray &request)
{
    if (owed <= 0 || arrival.isEmpty())
        return 0;
    if (!korra)
        return arrival.size() % kLegacyAnswerSize == 0 ? 0 : qMin(owed, arrival.size());
    if (arrival.size() < kKorraHeaderSize)
        return -1;
    const QByteArray header = arrival.left(kKorraHeaderSize);
    if (answer_matches_request(header, request) || is_error_header(header))
        return 0;
    return qMin(owed, arrival.size());
}

bool is_error_header(const QByteArray &header)
{
    if (header.size() < 4)
        return false;
    return byte_at(header, 1) == 0x80 && (byte_at(header, 2) & 0x0F) == 0
           && (byte_at(header, 3) & 0xF0) == 0xF0;
}

bool answer_matches_request(const QByteArray &answer, const QByteArray &request)
{
    if (request.isEmpty())
        return true;
    if (byte_at(answer, 0) != 0 || byte_at(answer, 1) != 0)
        return false;

    const quint8 key = static_cast<quint8>(((byte_at(request, 2) & 0x0F) << 4)
                                           | (byte_at(request, 3) >> 4));
    const quint8 size = byte_at(answer, 2);
    const quint8 operation = byte_at(answer, 3);
    auto same = [&](std::initializer_list<int> positions) {
        for (int position : positions) {
            if (byte_at(answer, position) != byte_at(request, position))
                return false;
        }
        return true;
    };

    switch (key) {
    case 0x00:
        return (size >> 4) == 0x4 && operation == 0x10 && same({6, 7, 8, 9, 10, 11});
    case 0x02:
        return size == byte_at(request, 2) && operation == 0x30 && same({7, 8, 9, 10, 11});
    case 0x04:
        return size == 0x40 && (operation >> 4) == 0x5 && same({6, 8, 9, 10, 11});
    case 0x0A:
        return size == byte_at(request, 2) && operation == 0xB0 && same({7, 8, 9, 10, 11});
    default:
        return false;
    }
}

int legacy_answer_kind(const QByteArray &header)
{
    if (header.size() < 2)
        return kCmvReadAnswer;
    const int operation = static_cast<qint8>(header.at(1)) >> 4;
    if (operation == 3) {
        const quint8 size = byte_at(header, 0);
        if (size == 0x40)
            return kMemory8Answer;
        if (size == 0x80)
            return kMemory32Answer;
        return kMemory16Answer;
    }
    if (operation == 5)
        return kWriteAck;
    return kCmvReadAnswer;
}
