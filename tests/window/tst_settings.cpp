#include <QtTest>

#include "LiveGraphData.h"
#include "SymbolMaps.h"
#include "Vemu.h"
#include "log_entries.h"
#include "message.h"
#include "settings_file.h"
#include "test_support.h"
#include "ui_Vemu.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextBrowser>

namespace {

const QString kStart = QStringLiteral("black|S|Vemu Started.");
const QString kParsed = QStringLiteral("black|S|Ini file parsed.");
const QString kIncomplete = QStringLiteral("red|S|Ini file parsed (some parameters were not found !)");
const QString kNoSymbols = QStringLiteral(
    "red|S|No information could be read out of the given Symbol file in the \"Vemu.ini\" file !");
const QString kInvalid = QStringLiteral("red|-|Invalid Automation value: set to 0");
const QString kPort0 = QStringLiteral("purple|S|Port 0 is selected.");
const QString kPort1 = QStringLiteral("purple|S|Port 1 is selected.");
const QString kOutputName = QStringLiteral("Results/%1_\\d{4}(_\\d\\d){5}_part0\\.bin");

// Address, input, symbol field, output base, size, polling interval (ms),
// mode, automation text, checked port.
QStringList fields_of(Vemu &w)
{
    const Ui_Vemu *ui = w.ui;
    const QString port = ui->m_R_Port_1->isChecked() ? "1" : ui->m_R_Port_0->isChecked() ? "0" : "none";
    return {ui->m_Eip->text(), ui->m_EinputFile->text(), ui->m_EsymbolFile->text(), w.m_outputBase,
            QString::number(ui->m_SoutputFileSize->value()), QString::number(w.m_pollingTimer->interval()),
            QString::number(w.m_automationMode), ui->m_GuiAutomation->text(), port};
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void noIniFile();
    void keys_data();
    void keys();
    void emptySymbolKeyStaysEmpty();
    void symbolFileAndScriptLoaded();
    void pollingChangeRestartsWait();
};

void TestSettings::noIniFile()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    // The automation field keeps the form's own text.
    QWidget host;
    Ui_Vemu form;
    form.setupUi(&host);
    QCOMPARE(fields_of(w), (QStringList{"x.x.x.x", "*.txt", "*.out", "default_output", "5", "0", "0",
                                        form.m_GuiAutomation->text(), "none"}));
    QVERIFY(QRegularExpression("^" + kOutputName.arg("default_output") + "$")
                .match(w.ui->m_EoutputFile->text()).hasMatch());
    QCOMPARE(log_entries(&w), (QStringList{kStart, "red|S|Ini file was NOT FOUND !", kNoSymbols}));
    QVERIFY(!w.ui->m_GuiAutomation->isEnabled());
    QVERIFY(w.m_symbols && w.m_symbols->isEmpty());
    QVERIFY(answerer.seen.isEmpty());
}

void TestSettings::keys_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("questions");

    const QString off = "0: Automation off";
    const QString invalid = "0: Automation off (Invalid value! Allowed are: 0,1,2)";
    const QString warning = "Warning|You are about to connect to the port 1 (Bonding CPEs). Are you sure "
                            "you want to continue ?\nIf you do not know what this is, then please click "
                            "on \"No\".";
    const QStringList plain{kStart, kPort0, kParsed, kNoSymbols};
    const QStringList incomplete{kStart, kPort0, kIncomplete, kNoSymbols};

    QTest::newRow("empty group") << QByteArray("")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "5", "0", "0", off, "0"} << plain
        << QStringList();
    QTest::newRow("values") << QByteArray("ip_address=10.0.0.1\noutput_file=run\nfile_size=7\n"
                                          "polling_time=3\nautomation=0\nport_ID=false\n")
        << QStringList{"10.0.0.1", "*.txt", "*.out", "run", "7", "3000", "0", off, "0"} << plain
        << QStringList();
    QTest::newRow("empty values") << QByteArray("ip_address=\ninput_file=\noutput_file=\nport_ID=\n")
        << QStringList{"x.x.x.x", "*.txt", "*.out", "default_output", "5", "0", "0", off, "0"} << incomplete
        << QStringList();
    QTest::newRow("ranges clamp") << QByteArray("file_size=50\npolling_time=1000\nport_ID=FALSE\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "20", "300000", "0", off, "0"} << plain
        << QStringList();
    QTest::newRow("size 0") << QByteArray("file_size=0\nport_ID=0\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "1", "0", "0", off, "0"} << plain
        << QStringList();
    QTest::newRow("size word, polling fraction") << QByteArray("file_size=abc\npolling_time=1.5\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "5", "0", "0", off, "0"} << incomplete
        << QStringList();
    QTest::newRow("automation abc") << QByteArray("automation=abc\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "5", "0", "0", invalid, "0"}
        << QStringList{kInvalid, kPort0, kIncomplete, kNoSymbols} << QStringList();
    QTest::newRow("automation 3") << QByteArray("automation=3\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "5", "0", "0", invalid, "0"}
        << QStringList{kInvalid, kPort0, kParsed, kNoSymbols} << QStringList();
    QTest::newRow("automation -1") << QByteArray("automation=-1\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "5", "0", "0", invalid, "0"}
        << QStringList{kInvalid, kPort0, kParsed, kNoSymbols} << QStringList();
    QTest::newRow("automation 2, port 1 asked") << QByteArray("ip_address=127.0.6.250\nautomation=2\nport_ID=true\n")
        << QStringList{"127.0.6.250", "*.txt", "*.out", "default_output", "5", "0", "2",
                       "2: Automation Runs Endless", "1"}
        << QStringList{kStart, kPort1, kParsed, kNoSymbols} << QStringList{warning};
    QTest::newRow("port 1 asked in mode 0") << QByteArray("port_ID=yes\n")
        << QStringList{"*.*.*.*", "*.txt", "*.out", "default_output", "5", "0", "0", off, "1"}
        << QStringList{kStart, kPort1, kParsed, kNoSymbols} << QStringList{warning};
    QTest::newRow("automation 1, port 1 not asked") << QByteArray("ip_address=127.0.6.250\nautomation=1\nport_ID=TRUE\n")
        << QStringList{"127.0.6.250", "*.txt", "*.out", "default_output", "5", "0", "1",
                       "1: Automation One Time Reading", "1"}
        << QStringList{kStart, kPort1, kParsed, kNoSymbols} << QStringList();
}

void TestSettings::keys()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, questions);

    ScopedWorkFolder folder;
    folder.writeFile("Vemu.ini", "[Settings]\n" + ini);
    ModalAnswerer answerer;
    {
        Vemu w;
        QCOMPARE(fields_of(w), fields);
        QVERIFY(QRegularExpression("^" + kOutputName.arg(fields.at(3)) + "$")
                    .match(w.ui->m_EoutputFile->text()).hasMatch());
        // Modes 1 and 2 go on connecting after the settings; only the
        // settings' own lines are compared.
        QCOMPARE(log_entries(&w).mid(0, lines.size()), lines);
        QCOMPARE(answerer.seen, questions);
        QVERIFY(!w.ui->m_GuiAutomation->isEnabled());
    }
    // A log that lost its start line gives the session log no time in its name.
    QCOMPARE(QFile::exists("Results/Logs/Vemu_session__.html"), lines.first() == kInvalid);
}

void TestSettings::emptySymbolKeyStaysEmpty()
{
    ScopedWorkFolder folder;
    folder.writeFile("Vemu.ini", "[Settings]\nsymbol_file=\noutput_file=\"C:/runs/x\"\n");
    QLineEdit ip, input, symbol, output, automation;
    QSpinBox size, polling;
    QRadioButton port0, port1;
    QTextBrowser log;
    QString base;
    int mode = 5;
    const QString result = read_ini_file(&ip, &input, &symbol, &base, &output, &size, &polling, &mode,
                                         &port0, &port1, "[stamp] ", &automation, &log);
    QCOMPARE(result, QString(" <font color=red>[stamp] Ini file parsed (some parameters were not found !)</font>"));
    QCOMPARE(symbol.text(), QString());
    QCOMPARE(base, QString("C:/runs/x"));
    QVERIFY(QRegularExpression("^" + kOutputName.arg("C:/runs/x") + "$").match(output.text()).hasMatch());
    QCOMPARE(mode, 0);
    QVERIFY(port0.isChecked());
}

void TestSettings::symbolFileAndScriptLoaded()
{
    ScopedWorkFolder folder;
    folder.writeFile("fw.s", ".globl gs_PilotToneIdx\n.set gs_PilotToneIdx, 0x2000\n"
                             ".globl gsa_RxPilotTone\n.set gsa_RxPilotTone, 0x2004\n");
    if (QProcess::execute("as", {"--32", "-o", folder.filePath("fw.out"), folder.filePath("fw.s")}) != 0)
        QSKIP("the assembler (as) is needed to make a symbol file");
    folder.writeFile("script.txt", "cr STAT 0 0 1\nmr gs_PilotToneIdx_ 1\n");
    folder.writeFile("Vemu.ini", "[Settings]\nport_ID=1\nsymbol_file=" + folder.filePath("fw.out").toUtf8()
                                     + "\ninput_file=" + folder.filePath("script.txt").toUtf8() + "\n");
    ModalAnswerer answerer;
    Vemu w;
    QCOMPARE(w.ui->m_EsymbolFile->text(), folder.filePath("fw.out"));
    QCOMPARE(log_entries(&w).mid(0, 4),
             (QStringList{kStart, kPort1, kParsed, "black|S|Symbol File parsed."}));
    QCOMPARE(w.m_graphData->pilot_tone_index_address, 0x2000u);
    QCOMPARE(w.m_graphData->rx_pilot_tone_address, 0x2004u);
    // The script is parsed after the symbols, so its memory read finds its symbol.
    QCOMPARE(w.m_requests.size(), 2);
    QCOMPARE(log_entries(&w).last(), QString("black|S|Input file parsed."));
}

void TestSettings::pollingChangeRestartsWait()
{
    ScopedWorkFolder folder;
    Vemu w;
    w.ui->m_SpollingTime->setValue(1);
    QCOMPARE(w.m_pollingTimer->interval(), 1000);
    QSignalSpy fired(w.m_pollingTimer, &QTimer::timeout);
    w.m_pollingTimer->start();
    QTest::qWait(600);
    QElapsedTimer sinceChange;
    sinceChange.start();
    w.ui->m_SpollingTime->setValue(2);
    QVERIFY(fired.wait(5000));
    // Counted from the change, not from the start of the wait.
    QVERIFY2(sinceChange.elapsed() >= 1850, qPrintable(QString::number(sinceChange.elapsed())));
    QCOMPARE(fired.count(), 1);

    // Outside a wait the change only sets the next wait.
    w.ui->m_SpollingTime->setValue(3);
    QCOMPARE(w.m_pollingTimer->interval(), 3000);
    QVERIFY(!w.m_pollingTimer->isActive());
}

QTEST_MAIN(TestSettings)
#include "tst_settings.moc"
