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
