#include <QtTest>

#include "result_records.h"
#include "test_support.h"

#include <functional>

// One row per rule of the record stream. The expected bytes are written out by
// hand: kind, period counter, fields, all big-endian; byte arrays and strings
// with a 32-bit count first, strings in UTF-16 big-endian.
class TestRecordStream : public QObject
{
    Q_OBJECT

private slots:
    void records_data();
    void records();
    void timeStampEntries();
};

void TestRecordStream::records_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("expectedHex");

    // Each row's bytes are appended to those of the rows before: a writer
    // that does not append gives the wrong bytes.
    QByteArray b("prefix");
    auto row = [&b](const char *name, const std::function<void()> &write, const char *hex) {
        const int before = b.size();
        write();
        QTest::newRow(name) << b.mid(before) << QString::fromLatin1(hex).remove(QLatin1Char(' '));
    };
    const auto data = &QByteArray::fromHex;
    row("cmv read: group, low address byte, counted data", [&] { append_cmv_read_record(b, 0x0102, 2, 0, data("0008")); },
        "00 0102 02 00 00000002 0008");
    row("empty data has count 0, top period, address byte above 127",
        [&] { append_cmv_read_record(b, 65535, 11, qint8(0xC8), QByteArray()); }, "00 FFFF 0B C8 00000000");
    row("memory 16-bit: 32-bit address", [&] { append_memory_read_record(b, 1, 7, 0x00401A2C, data("1234ABCD")); },
        "01 0007 00401A2C 00000004 1234ABCD");
    row("memory 32-bit: negative address, period above 32767",
        [&] { append_memory_read_record(b, 2, 0x8000, qint32(0xFFFF0010), data("0011223344556677")); },
        "02 8000 FFFF0010 00000008 0011223344556677");
    row("memory 8-bit: odd count", [&] { append_memory_read_record(b, 3, 300, 0x1000, data("AABBCC")); },
        "03 012C 00001000 00000003 AABBCC");
    row("time stamp: string list in UTF-16",
        [&] { append_time_stamp_record(b, 9, {QStringLiteral("20140306235959007,timestamp"), QStringLiteral("2é,l")}); },
        "07 0009 00000002"
        " 00000036 0032 0030 0031 0034 0030 0033 0030 0036 0032 0033 0035 0039 0035 0039 0030 0030 0037"
        " 002C 0074 0069 006D 0065 0073 0074 0061 006D 0070 00000008 0032 00E9 002C 006C");
    row("time stamp: an empty entry has count 0",
        [&] { append_time_stamp_record(b, 4, {QStringLiteral("1,a"), QStringLiteral("")}); },
        "07 0004 00000002 00000006 0031002C0061 00000000");
    row("afe read: signed 16-bit register", [&] { append_afe_read_record(b, 3, -2, data("DEADBEEF")); },
        "08 0003 FFFE 00000004 DEADBEEF");
}

void TestRecordStream::records()
{
    QFETCH(QByteArray, written);
    QFETCH(QString, expectedHex);
    QCOMPARE(written.toHex().toUpper(), expectedHex.toLatin1());

    // Records follow each other with nothing in between; each is found whole.
    QList<ResultRecord> read;
    QVERIFY(read_result_records(written + written, &read) && read.size() == 2);
    QCOMPARE(result_record_size(written + written, written.size()), qint64(written.size()));
    for (int cut = 1; cut < written.size(); ++cut)
        QCOMPARE(result_record_size(written.left(cut), 0), qint64(-1));
    // A kind never written has no size.
    QCOMPARE(result_record_size(QByteArray(1, '\x05') + written.mid(1), 0), qint64(-1));
}

void TestRecordStream::timeStampEntries()
{
    // 24-hour clock, every field zero-padded, milliseconds last; then the description.
    QCOMPARE(time_stamp_entries(QDateTime(QDate(2014, 3, 6), QTime(21, 5, 7, 12)), {"Loop 2,line", "600m,length"}),
             QStringList({"20140306210507012,timestamp", "Loop 2,line", "600m,length"}));
}

QTEST_MAIN(TestRecordStream)
#include "tst_record_stream.moc"
