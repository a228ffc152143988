#include "result_records.h"

#include <QDataStream>
#include <QIODevice>

namespace {

// A null array would be written with the count 0xFFFFFFFF, which readers
// take for "no data"; a recorded field is always present, if empty.
QByteArray present(const QByteArray &data)
{
    return data.isNull() ? QByteArray("") : data;
}

void begin_record(QDataStream &out, qint8 kind, quint16 period)
{
    out.setVersion(QDataStream::Qt_4_8);
    out << kind << static_cast<qint16>(period);
}

// Reads a 32-bit big-endian count at `pos`; false when it does not fit.
bool read_count(const QByteArray &stream, qint64 pos, quint32 *count)
{
    if (pos < 0 || pos + 4 > stream.size())
        return false;
    const auto *p = reinterpret_cast<const uchar *>(stream.constData() + pos);
    *count = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    return true;
}

// Moves `pos` past a counted field (a byte array or a string); the count
// 0xFFFFFFFF stands for a null field with nothing after it.
bool skip_counted(const QByteArray &stream, qint64 *pos)
{
    quint32 count = 0;
    if (!read_count(stream, *pos, &count))
        return false;
    *pos += 4;
    if (count != 0xFFFFFFFFu)
        *pos += count;
    return *pos <= stream.size();
}

} // namespace

void append_cmv_read_record(QByteArray &buffer, quint16 period, qint8 group, qint8 address,
                            const QByteArray &data)
{
    QDataStream out(&buffer, QIODevice::WriteOnly | QIODevice::Append);
    begin_record(out, kCmvReadRecord, period);
    out << group << address << present(data);
}

void append_memory_read_record(QByteArray &buffer, qint8 kind, quint16 period, qint32 address,
                               const QByteArray &data)
{
    QDataStream out(&buffer, QIODevice::WriteOnly | QIODevice::Append);
    begin_record(out, kind, period);
    out << address << present(data);
}

void append_afe_read_record(QByteArray &buffer, quint16 period, qint16 reg, const QByteArray &data)
{
    QDataStream out(&buffer, QIODevice::WriteOnly | QIODevice::Append);
    begin_record(out, kAfeReadRecord, period);
    out << reg << present(data);
}

void append_time_stamp_record(QByteArray &buffer, quint16 period, const QStringList &entries)
{
    QDataStream out(&buffer, QIODevice::WriteOnly | QIODevice::Append);
    begin_record(out, kTimeStampRecord, period);
    out << entries;
}

QStringList time_stamp_entries(const QDateTime &now, const QStringList &description)
{
    QStringList entries;
    entries.reserve(description.size() + 1);
    entries << now.toString(QStringLiteral("yyyyMMddhhmmsszzz")) + QStringLiteral(",timestamp");
    entries << description;
    return entries;
}

qint64 result_record_size(const QByteArray &stream, qint64 offset)
{
    if (offset < 0 || offset + 3 > stream.size())
        return -1;
    qint64 pos = offset + 3;
    switch (stream.at(int(offset))) {
    case kCmvReadRecord:
    case kAfeReadRecord:
        pos += 2;
        break;
    case kMemory16Record:
    case kMemory32Record:
    case kMemory8Record:
        pos += 4;
        break;
    case kTimeStampRecord: {
        quint32 entries = 0;
        if (!read_count(stream, pos, &entries))
            return -1;
        pos += 4;
        for (quint32 i = 0; i < entries; ++i) {
            if (!skip_counted(stream, &pos))
                return -1;
        }
        return pos - offset;
    }
    default:
        return -1;
    }
    return skip_counted(stream, &pos) ? pos - offset : -1;
}
