#include <QtTest>

#include "result_records.h"
#include "test_support.h"

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

    auto row = [](const char *name, const QByteArray &written, const char *hex, const ResultRecord &r) {
        QTest::newRow(name) << written << QString::fromLatin1(hex).remove(QLatin1Char(' ')) << r;
    };
    QByteArray b;
    ResultRecord r;

    b.clear();
    append_cmv_read_record(b, 0x0102, 2, 0, QByteArray::fromHex("0008"));
    r = {};
    r.kind = 0; r.period = 0x0102; r.group = 2; r.address8 = 0; r.data = QByteArray::fromHex("0008");
    row("cmv state read", b, "00 0102 02 00 00000002 0008", r);

    b.clear();
    append_cmv_read_record(b, 65535, 11, qint8(0xC8), QByteArray());
    r = {};
    r.kind = 0; r.period = -1; r.group = 11; r.address8 = qint8(0xC8); r.data = QByteArray("");
    row("cmv empty data, high address byte, top period", b, "00 FFFF 0B C8 00000000", r);

    b.clear();
    append_memory_read_record(b, 1, 7, 0x00401A2C, QByteArray::fromHex("1234ABCD"));
    r = {};
    r.kind = 1; r.period = 7; r.address = 0x00401A2C; r.data = QByteArray::fromHex("1234ABCD");
    row("memory 16-bit", b, "01 0007 00401A2C 00000004 1234ABCD", r);

    b.clear();
    append_memory_read_record(b, 2, 0x8000, qint32(0xFFFF0010), QByteArray::fromHex("0011223344556677"));
    r = {};
    r.kind = 2; r.period = qint16(0x8000); r.address = qint32(0xFFFF0010);
    r.data = QByteArray::fromHex("0011223344556677");
    row("memory 32-bit, negative address", b, "02 8000 FFFF0010 00000008 0011223344556677", r);

    b.clear();
    append_memory_read_record(b, 3, 300, 0x1000, QByteArray::fromHex("AABBCC"));
    r = {};
    r.kind = 3; r.period = 300; r.address = 0x1000; r.data = QByteArray::fromHex("AABBCC");
    row("memory 8-bit, odd count", b, "03 012C 00001000 00000003 AABBCC", r);

    b.clear();
    const QStringList entries = {QStringLiteral("20140306235959007,timestamp"), QStringLiteral("Loop 2é,line")};
    append_time_stamp_record(b, 9, entries);
    r = {};
    r.kind = 7; r.period = 9; r.entries = entries;
    row("time stamp with test description", b,
        "07 0009 00000002"
        " 00000036 0032 0030 0031 0034 0030 0033 0030 0036 0032 0033 0035 0039 0035 0039 0030 0030 0037"
        " 002C 0074 0069 006D 0065 0073 0074 0061 006D 0070"
        " 00000018 004C 006F 006F 0070 0020 0032 00E9 002C 006C 0069 006E 0065",
        r);

    b.clear();
    append_time_stamp_record(b, 0, {QStringLiteral("1,timestamp")});
    r = {};
    r.kind = 7; r.period = 0; r.entries = QStringList{QStringLiteral("1,timestamp")};
    row("time stamp without description", b,
        "07 0000 00000001 00000016 0031 002C 0074 0069 006D 0065 0073 0074 0061 006D 0070", r);

    b.clear();
    append_afe_read_record(b, 3, -2, QByteArray::fromHex("DEADBEEF"));
    r = {};
    r.kind = 8; r.period = 3; r.reg = -2; r.data = QByteArray::fromHex("DEADBEEF");
    row("afe read", b, "08 0003 FFFE 00000004 DEADBEEF", r);
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
