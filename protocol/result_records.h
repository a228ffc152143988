#ifndef RESULT_RECORDS_H
#define RESULT_RECORDS_H

// Room protocol/: the wire and the files (request packets, script parsing, answer framing, result records); no window.

// Writers of the result record stream. Each appends one record to the end of
// `buffer`; a record is its kind (8-bit), the period counter (16-bit) and its
// fields, big-endian, in the data stream form of Qt 4.8.

#include <QByteArray>
#include <QDateTime>
#include <QStringList>

enum ResultRecordKind {
    kCmvReadRecord = 0,
    kMemory16Record = 1,
    kMemory32Record = 2,
    kMemory8Record = 3,
    kTimeStampRecord = 7,
    kAfeReadRecord = 8
};

void append_cmv_read_record(QByteArray &buffer, quint16 period, qint8 group, qint8 address,
                            const QByteArray &data);

// `kind` is 1, 2 or 3 (16-, 32- or 8-bit elements).
void append_memory_read_record(QByteArray &buffer, qint8 kind, quint16 period, qint32 address,
                               const QByteArray &data);

void append_afe_read_record(QByteArray &buffer, quint16 period, qint16 reg, const QByteArray &data);

void append_time_stamp_record(QByteArray &buffer, quint16 period, const QStringList &entries);

// The entries of a time-stamp record: the time as "yyyyMMddhhmmsszzz" and
// ",timestamp", then the test description.
QStringList time_stamp_entries(const QDateTime &now, const QStringList &description);

// The length in bytes of the record that begins at `offset` of `stream`; -1
// when the record is cut short or of a kind that is never written.
qint64 result_record_size(const QByteArray &stream, qint64 offset);

#endif
