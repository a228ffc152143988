#include <QtTest>

#include "status_decoders.h"

class TestStatusDecoders : public QObject
{
    Q_OBJECT

private slots:
    void nameTables();
    void firmwareVersions_data();
    void firmwareVersions();
    void rateRule_data();
    void rateRule();
    void dslRange_data();
    void dslRange();
    void headerTests();
    void payloadWords();
    void t1413Mark();
};

void TestStatusDecoders::nameTables()
{
    const QStringList korra = {"Reset", "Ready", "Fail", "Diag Complete", "unknown", "Ghs",
                               "Full Init", "Steady-State Tc Not Sync", "Steady-State Tc Sync",
                               "Diagnostic Mode", "unknown", "unknown", "SELT Mode",
                               "SELT Complete", "unknown", "Pre Fail", "unknown"};
    const QStringList legacy = {"Reset", "Ready", "Fail", "Idle", "Reserved", "Ghs", "Full Init",
                                "Showtime", "Kestra: TC Sync", "Diagnostic Mode",
                                "Short Initialization", "T.1413 Activation", "unknown",
                                "unknown", "unknown", "unknown", "unknown"};
    const QStringList modes = {"Unknown", "ADSL Annex A", "ADSL Annex B", "Unknown", "Unknown",
                               "Unknown", "VDSL", "VDSL", "Unknown", "Unknown", "Unknown",
                               "Unknown", "Unknown", "Unknown", "Unknown", "Unknown"};
    const QStringList chips = {"Unknown Chip", "Orkan", "Selvo", "Orkan-SE", "Tavi-A",
                               "Korra - 1", "Tavi-B", "Korra - 2", "Unknown Chip",
                               "Unknown Chip", "Unknown Chip", "Unknown Chip", "Unknown Chip",
                               "Unknown Chip", "Unknown Chip", "Unknown Chip"};
    for (int code = 0; code < korra.size(); ++code) {
        QCOMPARE(state_text(code), korra.at(code));
        QCOMPARE(legacy_state_text(code), legacy.at(code));
    }
    QCOMPARE(state_text(240), QString("Sleep State"));
    QCOMPARE(state_text(107), QString("unknown"));
    QCOMPARE(legacy_state_text(240), QString("unknown"));
    for (int code = 0; code < 16; ++code) {
        QCOMPARE(dsl_mode_text(code), modes.at(code));
        QCOMPARE(chip_name_text(code), chips.at(code));
        QCOMPARE(hex_upper(code), QString("0123456789ABCDEF").mid(code, 1));
    }
}

void TestStatusDecoders::firmwareVersions_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("chip");
    QTest::addColumn<QString>("mode");

    QTest::newRow("legacy example") << false << QByteArray::fromHex("05034612") << "3.5.1.2.1.6" << "Orkan-SE" << "VDSL";
    QTest::newRow("legacy zeros") << false << QByteArray::fromHex("00000000") << "0.0.0.0.0.0" << "Unknown Chip" << "Unknown";
    QTest::newRow("legacy all ones") << false << QByteArray::fromHex("FFFFFFFF") << "F.F.F.F.3.F" << "Unknown Chip" << "Unknown";
    QTest::newRow("legacy short") << false << QByteArray::fromHex("05") << "0.5.0.0.0.0" << "Unknown Chip" << "Unknown";
    QTest::newRow("korra B no suffix") << true << QByteArray::fromHex("050346120000") << "3.5.1.2.1.6" << "Orkan-SE" << "VDSL";
    QTest::newRow("korra B suffix") << true << QByteArray::fromHex("050346122143") << "3.5.1.2.1.6_4.3.2.1" << "Orkan-SE" << "VDSL";
    QTest::newRow("korra B 4 bytes") << true << QByteArray::fromHex("05034612") << "3.5.1.2.1.6" << "Orkan-SE" << "VDSL";
    QTest::newRow("korra B only b5") << true << QByteArray::fromHex("05034612000A") << "3.5.1.2.1.6_0.A.0.0" << "Orkan-SE" << "VDSL";
    QTest::newRow("korra A b2 set") << true << QByteArray::fromHex("721001000000") << "7.2.1.0.0.1_0.0" << "Korra - 2" << "ADSL Annex A";
    QTest::newRow("korra A b2 zero") << true << QByteArray::fromHex("512300470000") << "5.1.2.3.4.7" << "Korra - 1" << "VDSL";
    QTest::newRow("korra A mode from b3") << true << QByteArray::fromHex("51230002") << "5.1.2.3.0.2" << "Korra - 1" << "ADSL Annex B";
    QTest::newRow("korra empty") << true << QByteArray() << "0.0.0.0.0.0" << "Unknown Chip" << "Unknown";
    QTest::newRow("korra zeros suffix") << true << QByteArray::fromHex("000000002143") << "0.0.0.0.0.0_4.3.2.1" << "Unknown Chip" << "Unknown";
}

void TestStatusDecoders::firmwareVersions()
{
    QFETCH(bool, korra);
    QFETCH(QByteArray, payload);
    QString version, mode, chip;
    if (korra)
        decode_fw_version(payload, version, mode, chip);
    else
        decode_legacy_fw_version(payload, version, mode, chip);
    QTEST(version, "version");
    QTEST(chip, "chip");
    QTEST(mode, "mode");
}

void TestStatusDecoders::rateRule_data()
{
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<bool>("times4");

    QTest::newRow("second field 6") << "3.6.1.2.1.6" << false;
    QTest::newRow("second field 5") << "3.5.1.2.1.6" << true;
    QTest::newRow("second field 0") << "3.0.1.2.1.6" << true;
    QTest::newRow("second field A") << "3.A.0.0.0.1" << false;
    QTest::newRow("suffix") << "7.2.1.0.0.1_0.0" << true;
    QTest::newRow("Korra default") << "VDSL FW" << true;
    QTest::newRow("legacy default") << "Not available" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("three characters") << "3.6" << false;
    QTest::newRow("no second dot") << "3.FFF" << false;
}

void TestStatusDecoders::rateRule()
{
    QFETCH(QString, firmware);
    QTEST(firmware_multiplies_rates(firmware), "times4");
}

void TestStatusDecoders::dslRange_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<uint>("expected");

    QTest::newRow("blank, VDSL payload") << " " << 7u << QByteArray::fromHex("00000004") << 107u;
    QTest::newRow("blank, word 1 is 1") << " " << 7u << QByteArray::fromHex("00000001") << 107u;
    QTest::newRow("blank, ADSL payload") << " " << 107u << QByteArray::fromHex("00000002") << 7u;
    QTest::newRow("blank, short payload") << " " << 107u << QByteArray::fromHex("000004") << 7u;
    QTest::newRow("VDSL keeps 107") << "VDSL" << 107u << QByteArray::fromHex("00000002") << 107u;
    QTest::newRow("VDSL adds 100") << "VDSL" << 99u << QByteArray() << 199u;
    QTest::newRow("ADSL drops 100") << "ADSL Annex A" << 107u << QByteArray::fromHex("00000004") << 7u;
    QTest::newRow("marked ADSL") << "ADSL Annex B  T1.413" << 102u << QByteArray() << 2u;
    QTest::newRow("lower case is no mode") << "adsl" << 7u << QByteArray::fromHex("00000004") << 107u;
}

void TestStatusDecoders::dslRange()
{
    QFETCH(QString, mode);
    QFETCH(uint, code);
    QFETCH(QByteArray, payload);
    QTEST(uint(dsl_range_code(code, mode, payload)), "expected");
}

void TestStatusDecoders::headerTests()
{
    const QByteArray cntr35 = QByteArray::fromHex("00004010000223 0A000000 02");
    QVERIFY(is_korra_cmv_answer(cntr35, GroupCntr, 35, KorraTypeTest::Exact));
    QVERIFY(!is_korra_cmv_answer(cntr35, GroupCntr, 8, KorraTypeTest::Exact));
    QVERIFY(!is_korra_cmv_answer(cntr35, GroupRate, 35, KorraTypeTest::Exact));
    QVERIFY(has_at_least_words(cntr35, 2));
    QVERIFY(!has_at_least_words(cntr35, 3));

    QByteArray loose = cntr35;
    loose[2] = char(0x4F);
    loose[3] = char(0x1A);
    QVERIFY(!is_korra_cmv_answer(loose, GroupCntr, 35, KorraTypeTest::Exact));
    QVERIFY(is_korra_cmv_answer(loose, GroupCntr, 35, KorraTypeTest::HighNibbles));

    for (int byte : {0, 1, 8, 9, 10}) {
        QByteArray other = cntr35;
        other[byte] = char(1);
        QVERIFY2(!is_korra_cmv_answer(other, GroupCntr, 35, KorraTypeTest::HighNibbles),
                 qPrintable(QString::number(byte)));
    }
    QByteArray big = cntr35;
    big[5] = big[11] = char(0x80);
    QVERIFY(!has_at_least_words(big, 2));
    big[5] = char(0x7F);
    QVERIFY(!has_at_least_words(big, 2));
    QVERIFY(!has_at_least_words(cntr35.left(11), 1));

    const QByteArray legacy = QByteArray::fromHex("00020003003600 00");
    QVERIFY(is_legacy_cmv_answer(legacy, GroupInfo, 54));
    QVERIFY(!is_legacy_cmv_answer(legacy, GroupInfo, 55));
    QVERIFY(!is_legacy_cmv_answer(QByteArray::fromHex("0002000300360001"), GroupInfo, 54));
}

void TestStatusDecoders::payloadWords()
{
    const QByteArray payload = QByteArray::fromHex("0005000180");
    QCOMPARE(payload_word(payload, 0), quint16(5));
    QCOMPARE(payload_word(payload, 2), quint16(0x8000));
    QCOMPARE(payload_word(payload, 3), quint16(0));
    QCOMPARE(payload_dword(payload, 0), quint32(5 + 65536));
    QCOMPARE(payload_dword(payload, 2), quint32(0x8000));

    NetRate top = pick_net_rate(0x80000000u, 1u, false);
    QCOMPARE(top.value, 2147483648u);
    QCOMPARE(top.path, 0);
    NetRate tie = pick_net_rate(16u, 16u, false);
    QCOMPARE(tie.value, 16u);
    QCOMPARE(tie.path, 1);
    NetRate wrapped = pick_net_rate(0x40000001u, 2u, true);
    QCOMPARE(wrapped.value, 8u);
    QCOMPARE(wrapped.path, 1);
}

void TestStatusDecoders::t1413Mark()
{
    QString text = QStringLiteral("ADSL Annex A");
    for (int i = 0; i < 3; ++i) {
        text = with_t1413_mark(with_t1413_mark(text));
        QCOMPARE(text, QString("ADSL Annex A  T1.413"));
        text = without_t1413_mark(text);
        QCOMPARE(text, QString("ADSL Annex A"));
    }
    QVERIFY(!has_t1413_mark(QStringLiteral("T1.413 ")));
}

QTEST_APPLESS_MAIN(TestStatusDecoders)
#include "tst_status_decoders.moc"
