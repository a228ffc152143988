#include <QtTest>

#include "result_records.h"
#include "test_support.h"

#include <functional>

// The expected bytes are written out by hand: kind, period counter, fields,
// all big-endian; byte arrays and strings with a 32-bit count first, strings
// in UTF-16 big-endian.
class TestRecordStream : public QObject
{
    Q_OBJECT

private slots:
    void records_data();
    void records();
    void timeStampEntries_data();
    void timeStampEntries();
};

Q_DECLARE_METATYPE(ResultRecord)

void TestRecordStream::records_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QString>("expectedHex");
    QTest::addColumn<ResultRecord>("expected");

    // Each row's bytes are appended to those of the rows before: a writer
    // that does not append gives the wrong bytes.
    QByteArray b("prefix");
    auto row = [&b](const char *name, const std::function<void()> &write, const char *hex, const ResultRecord &r) {
        const int before = b.size();
        write();
        QTest::newRow(name) << b.mid(before) << QString::fromLatin1(hex).remove(QLatin1Char(' ')) << r;
    };
    const auto data = &QByteArray::fromHex;
    row("cmv state read", [&] { append_cmv_read_record(b, 0x0102, 2, 0, data("0008")); },
        "00 0102 02 00 00000002 0008", {0, 0x0102, 2, 0, 0, 0, data("0008"), {}});
    row("cmv empty data, high address byte, top period",
        [&] { append_cmv_read_record(b, 65535, 11, qint8(0xC8), QByteArray()); }, "00 FFFF 0B C8 00000000",
        {0, -1, 11, qint8(0xC8), 0, 0, QByteArray(""), {}});
    row("memory 16-bit", [&] { append_memory_read_record(b, 1, 7, 0x00401A2C, data("1234ABCD")); },
        "01 0007 00401A2C 00000004 1234ABCD", {1, 7, 0, 0, 0x00401A2C, 0, data("1234ABCD"), {}});
    row("memory 32-bit, negative address",
        [&] { append_memory_read_record(b, 2, 0x8000, qint32(0xFFFF0010), data("0011223344556677")); },
        "02 8000 FFFF0010 00000008 0011223344556677",
        {2, qint16(0x8000), 0, 0, qint32(0xFFFF0010), 0, data("0011223344556677"), {}});
    row("memory 32-bit, no data", [&] { append_memory_read_record(b, kMemory32Record, 3, -1, QByteArray()); },
        "02 0003 FFFFFFFF 00000000", {2, 3, 0, 0, -1, 0, QByteArray(""), {}});
    row("memory 8-bit, odd count", [&] { append_memory_read_record(b, 3, 300, 0x1000, data("AABBCC")); },
        "03 012C 00001000 00000003 AABBCC", {3, 300, 0, 0, 0x1000, 0, data("AABBCC"), {}});
    const QStringList entries = {QStringLiteral("20140306235959007,timestamp"), QStringLiteral("Loop 2é,line")};
    row("time stamp with test description", [&] { append_time_stamp_record(b, 9, entries); },
        "07 0009 00000002"
        " 00000036 0032 0030 0031 0034 0030 0033 0030 0036 0032 0033 0035 0039 0035 0039 0030 0030 0037"
        " 002C 0074 0069 006D 0065 0073 0074 0061 006D 0070"
        " 00000018 004C 006F 006F 0070 0020 0032 00E9 002C 006C 0069 006E 0065",
        {7, 9, 0, 0, 0, 0, {}, entries});
    row("time stamp without description", [&] { append_time_stamp_record(b, 0, {QStringLiteral("1,timestamp")}); },
        "07 0000 00000001 00000016 0031 002C 0074 0069 006D 0065 0073 0074 0061 006D 0070",
        {7, 0, 0, 0, 0, 0, {}, {QStringLiteral("1,timestamp")}});
    // An empty entry is written with a count of 0, not as a null string.
    row("time stamp with an empty entry",
        [&] { append_time_stamp_record(b, 4, {QStringLiteral("1,a"), QStringLiteral("")}); },
        "07 0004 00000002 00000006 0031002C0061 00000000", {7, 4, 0, 0, 0, 0, {}, {"1,a", ""}});
    row("afe read", [&] { append_afe_read_record(b, 3, -2, data("DEADBEEF")); }, "08 0003 FFFE 00000004 DEADBEEF",
        {8, 3, 0, 0, 0, -2, data("DEADBEEF"), {}});
}

void TestRecordStream::records()
{
    QFETCH(QByteArray, written);
    QFETCH(QString, expectedHex);
    QFETCH(ResultRecord, expected);
    QCOMPARE(written.toHex().toUpper(), expectedHex.toLatin1());

    // Records follow each other with nothing in between.
    QByteArray stream = written;
    stream += written;
    QList<ResultRecord> read;
    QString error;
    QVERIFY2(read_result_records(stream, &read, &error), qPrintable(error));
    QCOMPARE(read.size(), 2);
    for (const ResultRecord &got : read) {
        QCOMPARE(got.kind, expected.kind);
        QCOMPARE(got.period, expected.period);
        QCOMPARE(got.group, expected.group);
        QCOMPARE(got.address8, expected.address8);
        QCOMPARE(got.address, expected.address);
        QCOMPARE(got.reg, expected.reg);
        QCOMPARE(got.data, expected.data);
        QCOMPARE(got.entries, expected.entries);
    }

    // A record cut anywhere is never read as whole.
    for (int cut = 1; cut < written.size(); ++cut) {
        read.clear();
        QVERIFY(!read_result_records(written.left(cut), &read));
        QVERIFY(read.isEmpty());
    }
}

void TestRecordStream::timeStampEntries_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QStringList>("description");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("morning, no description")
        << QDateTime(QDate(2014, 3, 6), QTime(9, 5, 7, 12)) << QStringList()
        << QStringList{QStringLiteral("20140306090507012,timestamp")};
    QTest::newRow("afternoon, description")
        << QDateTime(QDate(2014, 12, 31), QTime(23, 59, 59, 999))
        << QStringList{QStringLiteral("Loop 2,line"), QStringLiteral("600m,length")}
        << QStringList{QStringLiteral("20141231235959999,timestamp"), QStringLiteral("Loop 2,line"),
                       QStringLiteral("600m,length")};
}

void TestRecordStream::timeStampEntries()
{
    QFETCH(QDateTime, now);
    QFETCH(QStringList, description);
    QFETCH(QStringList, expected);
    QCOMPARE(time_stamp_entries(now, description), expected);
}

QTEST_MAIN(TestRecordStream)
#include "tst_record_stream.moc"
