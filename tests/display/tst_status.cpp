#include <QtTest>

#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

#include "LiveGraphData.h"
#include "Vemu.h"
#include "simcpe.h"
#include "test_support.h"
#include "ui_Vemu.h"

using Fields = QMap<QString, QString>; // object name -> expected text

namespace {

const QColor kUntouched(Qt::magenta);

QByteArray korra_header(quint8 group, quint8 address, int words)
{
    QByteArray h(12, '\0');
    h[2] = char(0x40);
    h[3] = char(0x10);
    h[5] = h[11] = char(words);
    h[6] = char(address);
    h[7] = char(group);
    return h;
}

QByteArray with_byte(QByteArray h, int index, quint8 value)
{
    h[index] = char(value);
    return h;
}

QByteArray legacy_header(quint8 group, quint16 address, int words, quint16 index = 0)
{
    QByteArray h(8, '\0');
    h[1] = char(words & 0x0F);
    h[3] = char(group);
    h[4] = char(address >> 8);
    h[5] = char(address);
    h[6] = char(index >> 8);
    h[7] = char(index);
    return h;
}

// Words 1, 2, 3, ...: every 32-bit pair reads as k + (k + 1) * 65536.
QByteArray counting_words(int n)
{
    QByteArray p;
    for (int k = 1; k <= n; ++k)
        p += char(k >> 8), p += char(k);
    return p;
}

QString pair(int firstWord) { return QString::number(firstWord + (firstWord + 1) * 65536); }

// The text colour if every colour group agrees, else an invalid colour.
QColor colour_of(const QLineEdit *field)
{
    const QPalette p = field->palette();
    const QColor c = p.color(QPalette::Active, QPalette::Text);
    for (auto group : {QPalette::Inactive, QPalette::Disabled})
        if (p.color(group, QPalette::Text) != c)
            return QColor();
    return c;
}

void preset(QLineEdit *field, const QString &text = QStringLiteral("old"))
{
    QPalette p = field->palette();
    p.setBrush(QPalette::Text, kUntouched);
    field->setPalette(p);
    field->setText(text);
}

const QStringList kRetransmissionFields = {
    "m_EDtuRetr", "m_EDtuCorr", "m_EDtuUncorr", "m_EDtuTot", "m_EDtuGood", "m_EDtuBad",
    "m_EDtuUnxpct", "m_EErrBitsps", "m_EDtuFwd", "m_EETR", "m_USRetxDtu", "m_UScorrectDtu",
    "m_USuncorrecDtu", "m_USEtr", "m_US_ActDelay", "m_US_INP_shine", "m_US_INP_REIN",
    "m_ErrorFreebit", "m_Eftr_min", "m_Eftr_defectsec"};
const QStringList kFailFields = {"m_EFWFail", "m_ETxSCAF", "m_ETxErrState", "m_ETxSubErrState",
                                 "m_ERxSCAF", "m_ERxErrState", "m_ERxSubErrState"};

} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls << url; }
};

class TestStatus : public QObject
{
    Q_OBJECT

private:
    QLineEdit *field(Vemu &w, const QString &name) { return w.findChild<QLineEdit *>(name); }
    // Checks changed fields against `expected` (black, or gray for "Not
    // available") and every other listed field for its untouched preset.
    void checkFields(Vemu &w, const QStringList &names, const Fields &expected);

private slots:
    void firmwareDisplay_data();
    void firmwareDisplay();
    void t1413Mark_data();
    void t1413Mark();
    void dslRange_data();
    void dslRange();
    void netRates_data();
    void netRates();
    void crcCounters_data();
    void crcCounters();
    void retransmission_data();
    void retransmission();
    void failStates();
    void clearing();
    void infoTabs();
    void help();
    void endToEnd();
};

void TestStatus::checkFields(Vemu &w, const QStringList &names, const Fields &expected)
{
    for (const QString &name : names) {
        QLineEdit *f = field(w, name);
        QVERIFY2(f, qPrintable(name));
        const QString text = expected.value(name, QStringLiteral("old"));
        QCOMPARE(f->text(), text);
        const QColor colour = !expected.contains(name) ? kUntouched
            : text == QLatin1String("Not available")   ? QColor(Qt::gray)
                                                       : QColor(Qt::black);
        QVERIFY2(colour_of(f) == colour, qPrintable(name));
    }
}

void TestStatus::firmwareDisplay_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<QString>("modeBefore");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("texts"); // firmware, platform, DSL mode; empty: unchanged
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<QColor>("modeColour");

    const QByteArray info = korra_header(3, 54, 3);
    const QColor black(Qt::black), blue(Qt::blue), red(Qt::red), green(Qt::darkGreen);
    QTest::newRow("korra") << true << "" << info << QByteArray::fromHex("050346122143")
        << QStringList{"3.5.1.2.1.6_4.3.2.1", "Orkan-SE", "VDSL"} << black << black;
    QTest::newRow("korra bytes 4 5 11 free") << true << "" << with_byte(with_byte(with_byte(info, 4, 0x55), 5, 0x99), 11, 0x01)
        << QByteArray::fromHex("51230047") << QStringList{"5.1.2.3.4.7", "Korra - 1", "VDSL"} << black << black;
    QTest::newRow("korra keeps mark") << true << "ADSL Annex A  T1.413" << info << QByteArray::fromHex("721002000000")
        << QStringList{"7.2.1.0.0.2_0.0", "Korra - 2", "ADSL Annex B  T1.413"} << black << green;
    QTest::newRow("korra zeros") << true << "ADSL Annex A  T1.413" << info << QByteArray(6, '\0')
        << QStringList{"VDSL FW", "Korra platform", " "} << blue << blue;
    QTest::newRow("korra zeros with suffix") << true << "" << info << QByteArray::fromHex("000000002143")
        << QStringList{"0.0.0.0.0.0_4.3.2.1", "Unknown Chip", "Unknown"} << black << black;
    QTest::newRow("korra other group") << true << "VDSL" << with_byte(info, 7, 2) << QByteArray::fromHex("05034612")
        << QStringList() << kUntouched << kUntouched;
    QTest::newRow("korra byte 2 not exact") << true << "VDSL" << with_byte(info, 2, 0x41) << QByteArray::fromHex("05034612")
        << QStringList() << kUntouched << kUntouched;
    QTest::newRow("korra index 1") << true << "VDSL" << with_byte(info, 9, 1) << QByteArray::fromHex("05034612")
        << QStringList() << kUntouched << kUntouched;
    QTest::newRow("legacy") << false << "" << legacy_header(3, 54, 2) << QByteArray::fromHex("05034612")
        << QStringList{"3.5.1.2.1.6", "Orkan-SE", "VDSL"} << black << black;
    QTest::newRow("legacy all ones") << false << "" << legacy_header(3, 54, 2) << QByteArray::fromHex("FFFFFFFF")
        << QStringList{"F.F.F.F.3.F", "Unknown Chip", "Unknown"} << black << black;
    QTest::newRow("legacy zeros") << false << "ADSL Annex A  T1.413" << legacy_header(3, 54, 2) << QByteArray(4, '\0')
        << QStringList{"Not available", "Chip not available", " "} << red << red;
    QTest::newRow("legacy index 1") << false << "VDSL" << legacy_header(3, 54, 2, 1) << QByteArray::fromHex("05034612")
        << QStringList() << kUntouched << kUntouched;
}

void TestStatus::firmwareDisplay()
{
    QFETCH(bool, korra);
    QFETCH(QString, modeBefore);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, texts);
    QFETCH(QColor, colour);
    QFETCH(QColor, modeColour);

    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = korra;
    preset(w.ui->m_Efirmware);
    preset(w.ui->m_Eplateform);
    preset(w.ui->m_EdslMode, modeBefore);
    if (korra)
        w.display_firmware_info(header, payload);
    else
        w.display_legacy_firmware_info(header, payload);
    if (texts.isEmpty())
        texts = QStringList{"old", "old", modeBefore};
    QCOMPARE(w.ui->m_Efirmware->text(), texts.at(0));
    QCOMPARE(w.ui->m_Eplateform->text(), texts.at(1));
    QCOMPARE(w.ui->m_EdslMode->text(), texts.at(2));
    QCOMPARE(colour_of(w.ui->m_Efirmware), colour);
    QCOMPARE(colour_of(w.ui->m_Eplateform), colour);
    QCOMPARE(colour_of(w.ui->m_EdslMode), modeColour);
}

void TestStatus::t1413Mark_data()
{
    QTest::addColumn<bool>("korra");
    QTest::addColumn<uint>("state");
    QTest::addColumn<QString>("modeBefore");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QColor>("colour");

    const QByteArray stat1 = korra_header(2, 1, 2);
    const QByteArray one = QByteArray::fromHex("00010000");
    const QByteArray zero = QByteArray::fromHex("00000000");
    const QString plain = "ADSL Annex A", marked = "ADSL Annex A  T1.413";
    const QColor black(Qt::black), green(Qt::darkGreen);
    QTest::newRow("sets") << true << 7u << plain << stat1 << one << marked << green;
    QTest::newRow("already set") << true << 7u << marked << stat1 << one << marked << kUntouched;
    QTest::newRow("removes") << true << 7u << marked << stat1 << zero << plain << black;
    QTest::newRow("word 0 is 0x0100") << true << 7u << marked << stat1 << QByteArray::fromHex("0100") << plain << black;
    QTest::newRow("one byte") << true << 7u << marked << stat1 << QByteArray::fromHex("01") << plain << black;
    QTest::newRow("empty payload") << true << 7u << marked << stat1 << QByteArray() << plain << black;
    QTest::newRow("three words") << true << 7u << plain << korra_header(2, 1, 3) << one << marked << green;
    QTest::newRow("other variable") << true << 7u << marked << korra_header(2, 2, 2) << zero << marked << kUntouched;
    QTest::newRow("korra reset") << true << 0u << marked << korra_header(2, 0, 2) << zero << marked << kUntouched;
    QTest::newRow("legacy sets") << false << 7u << plain << legacy_header(2, 1, 2) << one << marked << green;
    QTest::newRow("legacy other") << false << 7u << marked << legacy_header(2, 0, 2) << zero << marked << kUntouched;
    QTest::newRow("legacy ready") << false << 1u << marked << legacy_header(2, 1, 2) << one << plain << black;
    QTest::newRow("legacy reset, any answer") << false << 0u << marked << legacy_header(3, 54, 2) << one << plain << black;
}

void TestStatus::t1413Mark()
{
    QFETCH(bool, korra);
    QFETCH(uint, state);
    QFETCH(QString, modeBefore);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, payload);

    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = korra;
    w.m_cpeState = state;
    preset(w.ui->m_EdslMode, modeBefore);
    w.mark_t1413(header, payload);
    QTEST(w.ui->m_EdslMode->text(), "mode");
    QTEST(colour_of(w.ui->m_EdslMode), "colour");
}

void TestStatus::dslRange_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint>("code");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<uint>("expected");

    const QByteArray stat1 = korra_header(2, 1, 2);
    QTest::newRow("blank, VDSL") << " " << 7u << stat1 << QByteArray::fromHex("00000004") << 107u;
    QTest::newRow("blank, ADSL") << " " << 7u << stat1 << QByteArray::fromHex("00000002") << 7u;
    QTest::newRow("VDSL field") << "VDSL" << 107u << stat1 << QByteArray::fromHex("00000002") << 107u;
    QTest::newRow("ADSL field") << "ADSL Annex A" << 107u << stat1 << QByteArray() << 7u;
    QTest::newRow("loose type bytes") << " " << 7u << with_byte(with_byte(stat1, 2, 0x4F), 3, 0x1F) << QByteArray::fromHex("00000004") << 107u;
    QTest::newRow("three words") << " " << 7u << korra_header(2, 1, 3) << QByteArray::fromHex("00000004") << 7u;
    QTest::newRow("byte 11 differs") << " " << 7u << with_byte(stat1, 11, 3) << QByteArray::fromHex("00000004") << 7u;
    QTest::newRow("STAT 0") << " " << 7u << korra_header(2, 0, 2) << QByteArray::fromHex("00000004") << 7u;
}

void TestStatus::dslRange()
{
    QFETCH(QString, mode);
    QFETCH(uint, code);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, payload);

    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_cpeState = code;
    w.ui->m_EdslMode->setText(mode);
    w.apply_dsl_mode_to_state(header, payload);
    QTEST(uint(w.m_cpeState), "expected");
}

void TestStatus::netRates_data()
{
    QTest::addColumn<bool>("downstream");
    QTest::addColumn<uint>("state");
    QTest::addColumn<QString>("firmware");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("text");  // "old": unchanged
    QTest::addColumn<int>("path");      // 5: unchanged
    QTest::addColumn<double>("point");  // -1: no graph point

    const QByteArray rate1 = korra_header(6, 1, 4), rate0 = korra_header(6, 0, 4);
    const QByteArray p20000 = QByteArray::fromHex("4E20000000000000");
    QTest::newRow("DS example") << true << 7u << "3.6.1.2.1.6" << rate1 << p20000 << "DS: 20000 kbps" << 0 << 20000.0;
    QTest::newRow("x4 firmware") << true << 7u << "3.5.1.2.1.6" << rate1 << p20000 << "DS: 80000 kbps" << 0 << 80000.0;
    QTest::newRow("x4 default text") << true << 7u << "VDSL FW" << rate1 << p20000 << "DS: 80000 kbps" << 0 << 80000.0;
    QTest::newRow("empty firmware") << true << 7u << "" << rate1 << p20000 << "DS: 20000 kbps" << 0 << 20000.0;
    QTest::newRow("second field A") << true << 7u << "3.A.0.0.0.1" << rate1 << p20000 << "DS: 20000 kbps" << 0 << 20000.0;
    QTest::newRow("tie") << true << 7u << "3.6.1.2.1.6" << rate1 << QByteArray::fromHex("0010000000100000") << "DS: 16 kbps" << 1 << 16.0;
    QTest::newRow("top bit") << true << 7u << "3.6.1.2.1.6" << rate1 << QByteArray::fromHex("0000800000010000") << "DS: 2147483648 kbps" << 0 << 2147483648.0;
    QTest::newRow("VDSL showtime") << true << 107u << "3.6.1.2.1.6" << rate1 << p20000 << "DS: 20000 kbps" << 0 << 20000.0;
    QTest::newRow("three words") << true << 7u << "3.6.1.2.1.6" << korra_header(6, 1, 3) << p20000 << "old" << 5 << -1.0;
    QTest::newRow("count 0x80") << true << 7u << "3.6.1.2.1.6" << korra_header(6, 1, 0x80) << p20000 << "old" << 5 << -1.0;
    QTest::newRow("byte 3 not exact") << true << 7u << "3.6.1.2.1.6" << with_byte(rate1, 3, 0x11) << p20000 << "old" << 5 << -1.0;
    QTest::newRow("RATE 0 to DS") << true << 7u << "3.6.1.2.1.6" << rate0 << p20000 << "old" << 5 << -1.0;
    QTest::newRow("outside showtime") << true << 106u << "3.6.1.2.1.6" << rate1 << p20000 << "Not available" << 5 << -1.0;
    QTest::newRow("US") << false << 8u << "3.6.1.2.1.6" << rate0 << QByteArray::fromHex("0001000000020000") << "US: 2 kbps" << 1 << 2.0;
    QTest::newRow("RATE 1 to US") << false << 8u << "3.6.1.2.1.6" << rate1 << p20000 << "old" << 5 << -1.0;
    QTest::newRow("US outside showtime") << false << 2u << "" << rate0 << p20000 << "Not available" << 5 << -1.0;
}

void TestStatus::netRates()
{
    QFETCH(bool, downstream);
    QFETCH(uint, state);
    QFETCH(QString, firmware);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, payload);
    QFETCH(QString, text);
    QFETCH(double, point);

    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_cpeState = state;
    w.m_dsRatePath = w.m_usRatePath = 5;
    w.ui->m_Efirmware->setText(firmware);
    QLineEdit *shown = downstream ? w.ui->m_DSdatarate : w.ui->m_USdatarate;
    QLineEdit *other = downstream ? w.ui->m_USdatarate : w.ui->m_DSdatarate;
    preset(shown);
    preset(other);
    if (downstream)
        w.show_ds_net_rate(header, payload);
    else
        w.show_us_net_rate(header, payload);
    checkFields(w, {shown->objectName(), other->objectName()},
                text == QLatin1String("old") ? Fields() : Fields{{shown->objectName(), text}});
    QTEST(downstream ? w.m_dsRatePath : w.m_usRatePath, "path");
    QCOMPARE(downstream ? w.m_usRatePath : w.m_dsRatePath, 5);
    const QVector<double> &points = downstream ? w.m_graphData->ds_rates : w.m_graphData->us_rates;
    QCOMPARE(points, point < 0 ? QVector<double>() : QVector<double>{point});
    QVERIFY((downstream ? w.m_graphData->us_rates : w.m_graphData->ds_rates).isEmpty());
}

void TestStatus::crcCounters_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<uint>("state");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QStringList>("texts"); // empty: unchanged
    QTest::addColumn<bool>("point");

    const QByteArray cntr8 = korra_header(10, 8, 4), cntr35 = korra_header(10, 35, 2);
    const QByteArray adslPayload = QByteArray::fromHex("0005000100070000");
    const QByteArray vdslPayload = QByteArray::fromHex("00050007");
    const QStringList na = {"Not available", "Not available"};
    QTest::newRow("ADSL") << "ADSL Annex A" << 7u << cntr8 << adslPayload << QStringList{"LP0: 65541", "LP1: 7"} << true;
    QTest::newRow("ADSL marked") << "ADSL Annex A  T1.413" << 9u << cntr8 << adslPayload << QStringList{"LP0: 65541", "LP1: 7"} << true;
    QTest::newRow("ADSL loose type") << "ADSL Annex B" << 7u << with_byte(with_byte(cntr8, 2, 0x4A), 3, 0x1B) << adslPayload << QStringList{"LP0: 65541", "LP1: 7"} << true;
    QTest::newRow("ADSL ignores CNTR 35") << "ADSL Annex A" << 7u << cntr35 << vdslPayload << QStringList() << false;
    QTest::newRow("ADSL three words") << "ADSL Annex A" << 7u << korra_header(10, 8, 3) << adslPayload << QStringList() << false;
    QTest::newRow("VDSL") << "VDSL" << 107u << cntr35 << vdslPayload << QStringList{"LP0: 5", "LP1: 7"} << true;
    QTest::newRow("VDSL ignores CNTR 8") << "VDSL" << 107u << cntr8 << adslPayload << QStringList() << false;
    QTest::newRow("VDSL count 0x80") << "VDSL" << 107u << korra_header(10, 35, 0x80) << vdslPayload << QStringList() << false;
    QTest::newRow("VDSL one word") << "VDSL" << 107u << korra_header(10, 35, 1) << vdslPayload << QStringList() << false;
    QTest::newRow("blank mode") << " " << 7u << cntr35 << vdslPayload << na << false;
    QTest::newRow("Unknown mode") << "Unknown" << 7u << cntr8 << adslPayload << na << false;
    QTest::newRow("outside showtime") << "VDSL" << 106u << cntr35 << vdslPayload << na << false;
}

void TestStatus::crcCounters()
{
    QFETCH(QString, mode);
    QFETCH(uint, state);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, payload);
    QFETCH(QStringList, texts);
    QFETCH(bool, point);

    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_cpeState = state;
    w.ui->m_EdslMode->setText(mode);
    preset(w.ui->m_CRCLP0);
    preset(w.ui->m_CRCLP1);
    w.display_crc_per_lp(header, payload);
    Fields expected;
    if (!texts.isEmpty())
        expected = Fields{{"m_CRCLP0", texts.at(0)}, {"m_CRCLP1", texts.at(1)}};
    checkFields(w, {"m_CRCLP0", "m_CRCLP1"}, expected);
    if (point) {
        QCOMPARE(w.m_graphData->crc_lp0.size(), 1);
        QCOMPARE("LP0: " + QString::number(quint32(w.m_graphData->crc_lp0.at(0))), texts.at(0));
        QCOMPARE("LP1: " + QString::number(quint32(w.m_graphData->crc_lp1.at(0))), texts.at(1));
    } else {
        QVERIFY(w.m_graphData->crc_lp0.isEmpty());
    }
}

void TestStatus::retransmission_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<uint>("state");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<Fields>("expected"); // internal edition

    const Fields ds = {{"m_EDtuRetr", "Retransmitted: " + pair(1)}, {"m_EDtuCorr", "Corrected: " + pair(3)},
                       {"m_EDtuUncorr", "Uncorrected: " + pair(5)}, {"m_EDtuTot", "Total: " + pair(9)},
                       {"m_EDtuGood", "Good: " + pair(11)}, {"m_EDtuBad", "Bad: " + pair(13)},
                       {"m_EDtuUnxpct", "Unexpected: " + pair(19)}, {"m_EErrBitsps", pair(23)},
                       {"m_EDtuFwd", "Forwarded: " + pair(25)}};
    Fields dsShort = ds;
    dsShort["m_EDtuFwd"] = "Forwarded: 0";
    Fields na;
    for (const QString &name : kRetransmissionFields)
        na[name] = "Not available";

    QTest::newRow("CNTR 44") << 2 << 7u << korra_header(10, 44, 27) << counting_words(27) << ds;
    QTest::newRow("CNTR 44 short payload") << 2 << 7u << korra_header(10, 44, 27) << counting_words(24) << dsShort;
    QTest::newRow("CNTR 44 26 words") << 2 << 7u << korra_header(10, 44, 26) << counting_words(27) << Fields();
    QTest::newRow("RATE 2") << 2 << 108u << korra_header(6, 2, 2) << counting_words(2) << Fields{{"m_EETR", pair(1)}};
    QTest::newRow("RATE 3 on DS page") << 2 << 7u << korra_header(6, 3, 5) << counting_words(5) << Fields();
    QTest::newRow("RATE 3") << 3 << 9u << korra_header(6, 3, 5) << counting_words(5)
        << Fields{{"m_USEtr", pair(1)}, {"m_US_ActDelay", "Actual Delay: 3"},
                  {"m_US_INP_REIN", "Actual INP Shine: 4"}, {"m_US_INP_shine", "Actual INP Rein: 5"}};
    QTest::newRow("CNTR 58") << 3 << 7u << korra_header(10, 58, 5) << counting_words(5)
        << Fields{{"m_USRetxDtu", "Retransmitted: " + pair(1)}, {"m_UScorrectDtu", "Corrected: " + pair(3)},
                  {"m_USuncorrecDtu", "Uncorrected: 5"}};
    QTest::newRow("CNTR 59") << 3 << 7u << korra_header(10, 59, 6) << counting_words(6)
        << Fields{{"m_ErrorFreebit", "Error freebits: " + pair(1)}, {"m_Eftr_min", "Eftr min: " + pair(3)},
                  {"m_Eftr_defectsec", "Eftr Defect seconds: " + pair(5)}};
    QTest::newRow("CNTR 59 four words") << 3 << 7u << korra_header(10, 59, 4) << counting_words(6) << Fields();
    QTest::newRow("CNTR 44 on US page") << 3 << 7u << korra_header(10, 44, 27) << counting_words(27) << Fields();
    QTest::newRow("Fail") << 2 << 2u << korra_header(10, 44, 27) << counting_words(27) << na;
    QTest::newRow("VDSL Full Init") << 3 << 106u << korra_header(6, 3, 5) << counting_words(5) << na;
}

void TestStatus::retransmission()
{
    QFETCH(int, tab);
    QFETCH(uint, state);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, payload);
    QFETCH(Fields, expected);

    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_cpeState = state;
    w.ui->tabWidget->setCurrentIndex(tab);
    for (const QString &name : kRetransmissionFields)
        preset(field(w, name));
    // In the customer edition indexes 2 and 3 are other pages: only the
    // outage texts are written there.
    if (!w.m_internalEdition && expected.size() != kRetransmissionFields.size())
        expected.clear();
    w.display_retransmission(header, payload);
    checkFields(w, kRetransmissionFields, expected);
}

void TestStatus::failStates()
{
    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_cpeState = 2;
    for (const QString &name : kFailFields)
        preset(field(w, name));
    QByteArray payload = counting_words(9);
    for (QByteArray header : {korra_header(2, 5, 9), korra_header(2, 6, 10), korra_header(10, 5, 10)})
        w.display_fail_states(header, payload);
    for (const QString &name : kFailFields)
        QCOMPARE(field(w, name)->text(), QString("old"));
    QByteArray stat5 = with_byte(korra_header(2, 5, 10), 3, 0x1F);
    w.display_fail_states(stat5, payload);
    const QStringList texts = {"2", pair(3), "5", "6", pair(7), "9", "0"};
    for (int i = 0; i < kFailFields.size(); ++i) {
        QCOMPARE(field(w, kFailFields.at(i))->text(), texts.at(i));
        QCOMPARE(colour_of(field(w, kFailFields.at(i))), kUntouched);
    }
}

void TestStatus::clearing()
{
    ScopedWorkFolder folder;
    Vemu w;
    const QStringList panel = {"m_Efirmware", "m_Eplateform", "m_EdslMode", "m_EcpeState",
                               "m_EcpeStateStr"};
    const QStringList live = {"m_DSdatarate", "m_USdatarate", "m_CRCLP0", "m_CRCLP1"};
    QList<QLineEdit *> info;
    for (int i = 0; i < w.ui->tabWidget->count(); ++i) {
        if (w.ui->tabWidget->tabText(i).startsWith("Live param")
            || w.ui->tabWidget->tabText(i) == "Configuration")
            info += w.ui->tabWidget->widget(i)->findChildren<QLineEdit *>();
    }
    for (QLineEdit *f : w.findChildren<QLineEdit *>())
        preset(f);

    w.clear_Tabs_infos(5);
    w.clear_Tabs_infos(2);
    for (int i = 0; i < kRetransmissionFields.size(); ++i)
        QCOMPARE(field(w, kRetransmissionFields.at(i))->text().isEmpty(), i < 10);
    w.clear_Tabs_infos(3);
    for (const QString &name : kRetransmissionFields)
        QVERIFY(field(w, name)->text().isEmpty());
    QCOMPARE(field(w, "m_EFWFail")->text(), QString("old"));

    w.clear_cpe_infos();
    for (const QString &name : live)
        QVERIFY2(field(w, name)->text().isEmpty() && colour_of(field(w, name)) == kUntouched, qPrintable(name));
    for (const QString &name : panel)
        QCOMPARE(field(w, name)->text(), QString("old"));
    QCOMPARE(info.size(), 35);
    for (QLineEdit *f : info) {
        QVERIFY2(f->text().isEmpty(), qPrintable(f->objectName()));
        f->hide();
    }
    w.show_info_fields();
    for (QLineEdit *f : info)
        QVERIFY2(!f->isHidden(), qPrintable(f->objectName()));
}

void TestStatus::infoTabs()
{
    ScopedWorkFolder folder;
    Vemu w;
    w.m_korraPlatform = true;
    w.m_cpeState = 107;
    w.m_dslFamily = 0;
    w.ui->m_EdslMode->setText(" ");
    QByteArray stat1 = korra_header(2, 1, 2), other = korra_header(10, 35, 2);
    QByteArray adsl = QByteArray::fromHex("00000002"), vdsl = QByteArray::fromHex("00000004");
    w.decode_info_answer(other, adsl);
    QCOMPARE(w.m_dslFamily, quint16(0));
    w.decode_info_answer(stat1, adsl);
    QCOMPARE(w.m_dslFamily, quint16(1));
    QVERIFY(w.ui->m_Profil->isHidden());
    QVERIFY(!w.ui->m_SNRM_DS->isHidden());
    w.decode_info_answer(stat1, vdsl);
    QCOMPARE(w.m_dslFamily, quint16(2));
    QVERIFY(!w.ui->m_Profil->isHidden());
    w.ui->m_EdslMode->setText("ADSL Annex A  T1.413");
    w.decode_info_answer(stat1, vdsl);
    QCOMPARE(w.m_dslFamily, quint16(1));
    QVERIFY(w.ui->m_SNRM_DS->text().isEmpty());

    w.m_korraPlatform = false;
    w.m_cpeState = 2;
    w.ui->m_EdslMode->setText(" ");
    QByteArray legacyStat1 = legacy_header(2, 1, 2);
    w.decode_info_answer(legacyStat1, vdsl);
    QCOMPARE(w.m_dslFamily, quint16(2));
    QVERIFY(w.ui->UBPO->isHidden());
    QCOMPARE(w.ui->m_SNRM_DS->text(), QString("Not available"));
    QCOMPARE(colour_of(w.ui->m_b_BAND), QColor(Qt::gray));
}

void TestStatus::help()
{
    ScopedWorkFolder folder;
    Vemu w;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    w.on_m_BHelp_clicked();
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.urls.size(), 1);
    const QUrl url = catcher.urls.first();
    QCOMPARE(url.scheme(), QString("https"));
    QVERIFY(!url.host().isEmpty());
    QCOMPARE(url.path(), QString("/display/FW/User+Documentation"));
}

void TestStatus::endToEnd()
{
    QSKIP("end-to-end check not written yet");
}

QTEST_MAIN(TestStatus)
#include "tst_status.moc"
