#include <QtTest>

#include "status_decoders.h"

class TestStatusDecoders : public QObject
{
    Q_OBJECT

private slots:
    void nameTables();
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
