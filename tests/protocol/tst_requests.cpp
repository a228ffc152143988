#include <QtTest>

#include "message.h"

// Builds the request of one table row: CMV(a, b, c, d) or MEMORY(a, b, c).
static message *make_request(bool cmv, uint a, uint b, uint c, uint d, const QString &states,
                             bool write)
{
    if (cmv)
        return new CMV(a, b, c, d, states, write);
    return new MEMORY(a, b, c, states, write);
}

// Legacy packets are written as their leading bytes; the rest is zero.
static QByteArray packet_bytes(const QString &hex, bool korra)
{
    QByteArray bytes = QByteArray::fromHex(hex.toLatin1());
    if (!korra && !bytes.isEmpty())
        bytes.append(QByteArray(32 - bytes.size(), '\0'));
    return bytes;
}

class TestRequests : public QObject
{
    Q_OBJECT

private slots:
    void packets_data();
    void packets();
    void progressKeptOverSkipAndReset();
    void legacyMemoryWriteNeverSent();
    void addressAndText();
    void fillCmvGroups();
};

void TestRequests::packets_data()
{
    QTest::addColumn<bool>("cmv");
    QTest::addColumn<uint>("a");
    QTest::addColumn<uint>("b");
    QTest::addColumn<uint>("c");
    QTest::addColumn<uint>("d");
    QTest::addColumn<bool>("write");
    QTest::addColumn<bool>("korra");
    QTest::addColumn<QString>("states");
    QTest::addColumn<uint>("state");
    QTest::addColumn<uint>("port");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("done");

    const QString all = QStringLiteral(",1,2,3,4,5,6,7,8,9,15,101,102,103,104,105,106,107,108,109,115,");
    // Korra CMV.
    QTest::newRow("korra STAT 0 2 words") << true << 2u << 0u << 0u << 2u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 00 00 00 00 02 00 00 00 02"} << "T";
    QTest::newRow("korra CMV 300 words from 10") << true << 2u << 0u << 10u << 300u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 00 00 00 00 02 00 0A 00 80", "C0 00 40 00 00 00 00 02 00 8A 00 80",
                       "C0 00 40 00 00 00 00 02 01 0A 00 2C"} << "FFT";
    QTest::newRow("korra CMV 128 words") << true << 2u << 0u << 0u << 128u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 00 00 00 00 02 00 00 00 80"} << "T";
    QTest::newRow("korra CMV count 0") << true << 2u << 0u << 0u << 0u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 00 00 00 00 02 00 00 00 00"} << "T";
    QTest::newRow("korra CMV masks") << true << 70u << 300u << 0x12345u << 1u << false << true << all << 7u << 0xC1u
        << QStringList{"C1 00 40 00 00 00 2C 06 23 45 00 01"} << "T";
    QTest::newRow("korra CMV write") << true << 2u << 5u << 3u << 0x51234u << true << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 40 00 01 05 02 00 03 00 01 12 34"} << "T";
    // Legacy CMV.
    QTest::newRow("legacy STAT 0 1 word") << true << 2u << 0u << 0u << 1u << false << false << all << 7u << 0xC0u
        << QStringList{"00 01 00 02"} << "T";
    QTest::newRow("legacy CMV 12 words") << true << 2u << 0x102u << 4u << 12u << false << false << all << 7u << 0xC0u
        << QStringList{"00 0C 00 02 01 02 00 04"} << "T";
    QTest::newRow("legacy CMV 13 words") << true << 2u << 0x102u << 4u << 13u << false << false << all << 7u << 0xC0u
        << QStringList{"00 0C 00 02 01 02 00 04", "00 01 00 02 01 02 00 10"} << "FT";
    QTest::newRow("legacy CMV read group 200") << true << 200u << 1u << 0u << 1u << false << false << all << 7u << 0xC0u
        << QStringList{"00 01 00 48 00 01 00 00"} << "T";
    QTest::newRow("legacy CMV write group 200") << true << 200u << 0x1234u << 7u << 0xBEEFu << true << false << all << 7u << 0xC0u
        << QStringList{"00 41 00 C8 12 34 00 07 BE EF"} << "T";
    // Korra memory reads: 256 bytes per packet.
    QTest::newRow("korra mem16 200 at 0x1000") << false << 2u << 0x1000u << 200u << 0u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 20 00 00 00 00 10 00 00 80", "C0 00 40 20 00 00 00 00 11 00 00 48"} << "FT";
    QTest::newRow("korra mem8 257") << false << 1u << 0x3F0000u << 257u << 0u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 00 20 00 00 00 3F 00 00 01 00", "C0 00 00 20 00 00 00 3F 01 00 00 01"} << "FT";
    QTest::newRow("korra mem32 65") << false << 4u << 0x2000u << 65u << 0u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 80 20 00 00 00 00 20 00 00 40", "C0 00 80 20 00 00 00 00 21 00 00 01"} << "FT";
    QTest::newRow("korra mem address to 22 bits") << false << 2u << 0x7F1234u << 1u << 0u << false << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 20 00 00 00 3F 12 34 00 01"} << "T";
    // Korra memory writes of each width.
    QTest::newRow("korra AFE select write") << false << 4u << 0x20C69Cu << 0x300u << 0u << true << true << all << 7u << 0xC0u
        << QStringList{"C0 00 80 A0 00 02 00 20 C6 9C 00 01 03 00 00 00"} << "T";
    QTest::newRow("korra mem32 write") << false << 4u << 0x100u << 0x12345678u << 0u << true << true << all << 7u << 0xC1u
        << QStringList{"C1 00 80 A0 00 02 00 00 01 00 00 01 56 78 12 34"} << "T";
    QTest::newRow("korra mem16 write") << false << 2u << 0x100u << 0x1ABCDu << 0u << true << true << all << 7u << 0xC0u
        << QStringList{"C0 00 40 A0 00 01 00 00 01 00 00 01 AB CD"} << "T";
    QTest::newRow("korra mem8 write") << false << 1u << 0x101u << 0x1ABu << 0u << true << true << all << 7u << 0xC0u
        << QStringList{"C0 00 00 A0 00 01 00 00 01 01 00 01 00 AB"} << "T";
    // Legacy memory reads.
    QTest::newRow("legacy mem8 30") << false << 1u << 0x123456u << 30u << 0u << false << false << all << 7u << 0xC0u
        << QStringList{"40 2E 00 00 00 12 34 56", "40 2E 00 00 00 12 34 64", "40 22 00 00 00 12 34 72"} << "FFT";
    QTest::newRow("legacy mem16 13") << false << 2u << 0x1000u << 13u << 0u << false << false << all << 7u << 0xC0u
        << QStringList{"00 2C 00 00 00 00 10 00", "00 21 00 00 00 00 10 18"} << "FT";
    QTest::newRow("legacy mem32 7") << false << 4u << 0x1000u << 7u << 0u << false << false << all << 7u << 0xC0u
        << QStringList{"80 26 00 00 00 00 10 00", "80 21 00 00 00 00 10 18"} << "FT";
    // State lists.
    QTest::newRow("korra ,7,8,9, lets 7") << true << 2u << 0u << 0u << 1u << false << true << ",7,8,9," << 7u << 0xC0u
        << QStringList{"C0 00 40 00 00 00 00 02 00 00 00 01"} << "T";
    QTest::newRow("korra ,7,8,9, skips 107") << true << 2u << 0u << 0u << 1u << false << true << ",7,8,9," << 107u << 0xC0u
        << QStringList{""} << "T";
    QTest::newRow("korra 7,8,9 skips 7") << true << 2u << 0u << 0u << 1u << false << true << "7,8,9" << 7u << 0xC0u
        << QStringList{""} << "T";
    QTest::newRow("korra 7,8,9 lets 8") << false << 2u << 0u << 1u << 0u << false << true << "7,8,9" << 8u << 0xC0u
        << QStringList{"C0 00 40 20 00 00 00 00 00 00 00 01"} << "T";
    QTest::newRow("korra write skipped") << false << 2u << 0u << 1u << 0u << true << true << ",7," << 8u << 0xC0u
        << QStringList{""} << "T";
    QTest::newRow("legacy 7,8,9 lets 7") << true << 2u << 0u << 0u << 1u << false << false << "7,8,9" << 7u << 0xC0u
        << QStringList{"00 01 00 02"} << "T";
    QTest::newRow("legacy 10 lets 1") << false << 2u << 0u << 1u << 0u << false << false << ",10," << 1u << 0xC0u
        << QStringList{"00 21"} << "T";
    QTest::newRow("legacy 7,8 skips 9") << true << 2u << 0u << 0u << 20u << false << false << "7,8" << 9u << 0xC0u
        << QStringList{""} << "T";
}

void TestRequests::packets()
{
    QFETCH(bool, cmv);
    QFETCH(uint, a);
    QFETCH(uint, b);
    QFETCH(uint, c);
    QFETCH(uint, d);
    QFETCH(bool, write);
    QFETCH(bool, korra);
    QFETCH(QString, states);
    QFETCH(uint, state);
    QFETCH(uint, port);
    QFETCH(QStringList, expected);
    QFETCH(QString, done);

    QScopedPointer<message> request(make_request(cmv, a, b, c, d, states, write));
    if (port != 0xC0)
        request->set_port(quint8(port));
    const quint16 code = quint16(state);
    for (int i = 0; i < expected.size(); ++i) {
        const bool wantDone = done.at(i) == QLatin1Char('T');
        bool flag = !wantDone;
        const QByteArray packet = korra ? request->buildPacket(&flag, &code)
                                        : request->buildPacket32(&flag, &code);
        QCOMPARE(packet.toHex(' '), packet_bytes(expected.at(i), korra).toHex(' '));
        QCOMPARE(flag, wantDone);
    }
    QCOMPARE(request->progress(), 0u);
}

void TestRequests::progressKeptOverSkipAndReset()
{
    CMV read(2, 0, 10, 300, QStringLiteral(",7,"), false);
    const quint16 showtime = 7, reset = 0;
    bool done = true;
    auto firstIndex = [](const QByteArray &packet) {
        return (quint8(packet.at(8)) << 8) | quint8(packet.at(9));
    };

    QCOMPARE(firstIndex(read.buildPacket(&done, &showtime)), 10);
    QCOMPARE(read.progress(), 128u);
    QVERIFY(read.buildPacket(&done, &reset).isEmpty());
    QVERIFY(done);
    QCOMPARE(read.progress(), 128u);
    QCOMPARE(firstIndex(read.buildPacket(&done, &showtime)), 138);
    QCOMPARE(read.progress(), 256u);
    QVERIFY(!done);

    read.reset_progress();
    QCOMPARE(firstIndex(read.buildPacket(&done, &showtime)), 10);
    QCOMPARE(read.progress(), 128u);

    // The legacy builder shares the same progress counter.
    read.reset_progress();
    read.buildPacket32(&done, &showtime);
    QCOMPARE(read.progress(), 12u);
}

void TestRequests::legacyMemoryWriteNeverSent()
{
    const quint16 state = 7;
    for (quint32 width : {1u, 2u, 4u}) {
        MEMORY write(width, 0x100, 5, QStringLiteral(",7,"), true);
        for (bool initial : {true, false}) {
            bool done = initial;
            QVERIFY(write.buildPacket32(&done, &state).isEmpty());
            QCOMPARE(done, initial);
        }
    }
}

void TestRequests::addressAndText()
{
    CMV cmv(10, 35, 0, 2, QStringLiteral(",7,"), false);
    MEMORY memory(2, 0x20C6A4, 3, QStringLiteral(",7,"), false);
    const message &asCmv = cmv;
    const message &asMemory = memory;
    QCOMPARE(asCmv.address(), -1);
    QCOMPARE(asMemory.address(), 0x20C6A4);
    QCOMPARE(asCmv.toString(), QStringLiteral("10 35 0 2 \t,7,"));
    QCOMPARE(asMemory.toString(), QStringLiteral("2 2148004 3 "));
    QCOMPARE(cmv.port(), quint8(0xC0));
    QVERIFY(!memory.isAfeRead());
}

void TestRequests::fillCmvGroups()
{
    QHash<QString, uchar> groups{{QStringLiteral("STAT"), 99}, {QStringLiteral("MINE"), 7}};
    fill_cmv_groups(groups);
    QCOMPARE(groups.size(), 20);
    QCOMPARE(groups.value(QStringLiteral("MINE")), uchar(7));
    const QHash<QString, uchar> expected{
        {"CNTL", 1}, {"STAT", 2}, {"INFO", 3}, {"TEST", 4}, {"OPTN", 5}, {"RATE", 6}, {"PLAM", 7},
        {"CNFG", 8}, {"MONI", 9}, {"CNTR", 10}, {"ALGS", 11}, {"DBUG", 12}, {"ACFG", 13},
        {"AINF", 14}, {"AOPT", 15}, {"CST1", 16}, {"CST16", 31}, {"SELT", 32}, {"DSL", 34}};
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(groups.value(it.key(), 0xFF), it.value());
}

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
