// The window: its two editions, its session log, and its inputs:
// "Vemu.ini" with the script it names, the automation file and unattended
// runs, and a firmware symbol file on the whole road.

#include "rig.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "session_log.h"

#include <QMessageBox>
#include <QTcpSocket>
#include <QtTest>
#include <sys/stat.h>

namespace {

// Log lines by letter, for the tables' "lines" columns.
const QMap<QChar, QString> kLines{
    {'s', "black|S|Vemu Started."}, {'0', "purple|S|Port 0 is selected."}, {'1', "purple|S|Port 1 is selected."},
    {'p', "black|S|Ini file parsed."}, {'i', "red|S|Ini file parsed (some parameters were not found !)"}, {'x', "red|S|Ini file was NOT FOUND !"},
    {'v', "red|-|Invalid Automation value: set to 0"}, {'n', "red|S|No information could be read out of the given Symbol file in the \"Vemu.ini\" file !"},
    {'P', "black|S|Parsing Input File..."}, {'I', "black|S|Input file parsed."}, {'u', "darkred|-|Line 2: Unknown request !"},
    {'e', "red|S|The selected Input File could not be opened !"}, {'N', "red|S|No information could be extracted out of the selected Input file !"},
    {'a', "black|S|Parsing automation file (InputForDebugTool.txt)..."}, {'A', "black|S|Automation file parsed."},
    {'S', "red|-|- Some (or all) of the automation parameters were not found !!"},
    {'2', "red|-|- Vemu could not find minimum_showtime !! ---> Setting default value of 20 seconds."},
    {'R', "red|-|- Vemu could not find result_file_name !! ---> Setting default output file name: default_output%T_part0.bin"},
    {'D', "red|-|- Vemu could not find result_folder_name !! ---> Setting default output folder: /Results."},
    {'F', "green|-|- Vemu will put the results files in the following folder: %F/RT/INTERNAL/"},
    {'r', "green|-|- Result file name is: %N_part0.bin"}, {'c', "green|S|CPE connected (IP is: %I)"}, {'d', "green|S|CPE disconnected"},
    {'f', "red|S|Connection failure! (IP is: %I)"}, {'t', "black|S|Test Started"}, {'T', "black|S|Test Stopped"}, {'y', "black|S|Symbol File parsed."},
    {'X', "red|S|Automation file was NOT FOUND ! ---> Adapting default setting (5 seconds of Showtime and result file will be "
          "put inside the /Results folder of the Vemu directory)."}};

QStringList lines_of(const QString &codes)
{
    QStringList lines;
    for (QChar c : codes)
        lines << kLines.value(c);
    return lines;
}

// A complete automation file, values changed ("-" drops a key, other keys are added), then the folder line.
QByteArray automation_file(const QMap<QString, QString> &changes = {}, const QString &folder = "result_folder_name = %F")
{
    QString text = "[default_parameters]\nlink_number = 3\nloop_simulator_model = LS5\nmain_loop_length = 300\nbt_loop_length = 20\n"
                   "noise_generator_model = NG2\nco_noise = AWGN\ncpe_noise = none\nresult_file_name = Test1.txt\ntest_suite_name = Suite\n"
                   "test_chapter = Ch2\ntest_name = Sync\nDSLAM = Dslam7\nminimum_showtime = 60\npolling_time = 2\n";
    for (auto it = changes.cbegin(); it != changes.cend(); ++it) {
        const QRegularExpression line("^" + it.key() + " = .*\n", QRegularExpression::MultilineOption);
        const QString now = it.value() == "-" ? "" : it.key() + " = " + it.value() + "\n";
        text = text.contains(line) ? text.replace(line, now) : text + now;
    }
    return (text + folder + "\n").toUtf8();
}

QStringList description(const QString &link = "3", const QString &coNoise = "AWGN")
{
    return {link + ",link_number", "LS5,loop_simulator_model", "300,main_loop_length", "20,bt_loop_length", "NG2,noise_generator_model",
            coNoise + ",co_noise", "none,cpe_noise", "Suite,test_suite_name", "Ch2,test_chapter", "Sync,test_name", "Dslam7,DSLAM"};
}

// Whole-text match; "%F" is the folder, "%T" a time suffix.
bool matches(QString pattern, const QString &folder, const QString &text)
{
    pattern = QRegularExpression::escape(pattern.replace("%F", folder)).replace("\\%T", "_\\d{4}(_\\d\\d){5}");
    return QRegularExpression("^" + pattern + "$").match(text).hasMatch();
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void editionAndSessionLog_data();
    void editionAndSessionLog();
    void settings_data();
    void settings();
    void automation_data();
    void automation();
    void unattended_data();
    void unattended();
    void browse_data();
    void browse();
    void afeTextMode();
};

// The edition's layout; closing saves the session log, named by the start line, or shows the box when no folder can be made.
void TestWindow::editionAndSessionLog_data()
{
    QTest::addColumn<bool>("blocked");
    QTest::newRow("saved") << false;
    QTest::newRow("Results is a file") << true;
}

void TestWindow::editionAndSessionLog()
{
    QFETCH(bool, blocked);
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    QString stamp, html;
    {
        Vemu w;
        // Nothing linked or running yet; the line is taken for showtime (8) until the CPE tells, and nothing is shown.
        QVERIFY(!w.m_connected && !w.m_testRunning && !w.m_periodActive && !w.m_partFull && !w.m_showtimeFlag && !w.m_linkDropped
                && !w.m_resumeAfterReconnect && w.m_openingStateRead && !w.m_stateAnswer && !w.m_failAtListStart && !w.m_errorAnswer
                && !w.m_guiToggle && !w.m_reconnecting && !w.m_firstBlockInA && !w.m_circularArmed && w.m_answerMatched
                && !w.ui->m_Bstart->isEnabled() && !w.ui->m_BResetGraph->isEnabled() && w.ui->m_EcpeState->text().isEmpty()
                && w.ui->m_EcpeStateStr->text().isEmpty());
        QCOMPARE(QString("%1 %2 %3 %4 %5 %6 %7 %8 %9").arg(w.m_cpeState).arg(w.m_previousCpeState).arg(w.m_flushThreshold).arg(w.m_automationMode)
                     .arg(w.m_answersSinceState).arg(w.m_wrongAnswers).arg(w.m_reconnectAttempts).arg(w.m_partNumber).arg(w.m_dslFamily),
                 QString("8 8 100000 0 0 0 0 0 0"));
        const bool internal = VEMU_INTERNAL_EDITION;
        QStringList tabs, graphs, all{"Test configuration", "Live graphs", "DS Retransmission", "US Retransmission", "Live param 1",
                                      "Live param 2", "Configuration", "Last Exceptions", "Manage Files", "Analysis"};
        for (int i = 0; i < w.ui->tabWidget->count(); ++i)
            tabs << w.ui->tabWidget->tabText(i);
        for (int i = 0; i < w.ui->m_liveGraphsSelection->count(); ++i)
            graphs << w.ui->m_liveGraphsSelection->itemText(i);
        QCOMPARE(tabs, internal ? all : QStringList({all[0], all[1], all[4], all[5], all[6]}));
        QCOMPARE(graphs.join('|'), QString("None|SNR|State|CRCs|Bitswaps|Net Rates") + (internal ? "|Pilot Tone Constellation" : ""));
        QCOMPARE(QList<bool>({w.ui->m_EsymbolFile->isHidden(), w.ui->label_7->isHidden(), w.ui->m_BHelp->isHidden()}),
                 QList<bool>({!internal, !internal, !internal}));
        QCOMPARE(w.ui->m_LsoftwareVersion->text(), QString("Norvane Vemu %1 Version: 2.0.1.5").arg(internal ? "Internal" : "Customer"));
        stamp = log_text(&w).mid(1, 21).replace(" / ", "_").replace(':', '_').replace('.', '_');
        w.log_line("red", "a line before closing");
        html = w.ui->m_Tlog->toHtml();
        if (blocked)
            QDir("Results").removeRecursively(), folder.writeFile("Results", "not a folder");
    }
    QCOMPARE(answerer.seen, blocked ? QStringList{"ERROR|Log file could not be created !"} : QStringList());
    QFile log(folder.filePath("Results/Logs/Vemu_session_" + stamp + ".html"));
    // The file is the log view's own HTML, as it stood at closing.
    QCOMPARE(log.open(QIODevice::ReadOnly) && log.readAll() == html.toUtf8() && html.contains("a line before closing"), !blocked);
    // A log that lost its start line gives "_" for the time.
    QCOMPARE(session_log_file_name("Invalid Automation value: set to 0\n[2026.12.05 / 17:35:22] Ini"), QString("Results/Logs/Vemu_session__.html"));
}

// Fields: address, script, symbol file, output base, size, polling interval, mode, automation text,
// port checked, requests with the first and last one's port. Scripts: two requests and an AFE read.
void TestWindow::settings_data()
{
    QTest::addColumn<QStringList>("row"); // Vemu.ini (none for "-"), fields, lines, modal boxes
    auto row = [](const char *tag, const QString &ini, const QString &fields, const char *lines, const QString &box = "") {
        QTest::newRow(tag) << QStringList{ini.contains('[') || ini == "-" ? ini : "[Settings]\n" + ini, fields, lines, box};
    };
    const QString off = "|0|0: Automation off|0|0", bad = "|0|0: Automation off (Invalid value! Allowed are: 0,1,2)|0|0";
    const QString plain = "*.*.*.*|*.txt|*.out|default_output|";
    row("no file", "-", "x.x.x.x|*.txt|*.out|default_output|5|0|0|0: Automation off|none|0", "sxn");
    row("empty group", "", plain + "5|0" + off, "s0pn");
    row("values", "ip_address=10.0.0.1\noutput_file=run\nfile_size=7\npolling_time=3\nautomation=0\nport_ID=false\n",
        "10.0.0.1|*.txt|*.out|run|7|3000" + off, "s0pn");
    row("empty values", "ip_address=\ninput_file=\noutput_file=\nsymbol_file=\nport_ID=\n", "x.x.x.x|*.txt|*.out|default_output|5|0" + off, "s0in");
    row("numbers clamped", "file_size=0\npolling_time=1000\n", plain + "1|300000" + off, "s0pn");
    row("numbers beyond int clamped", "file_size=99999999999\npolling_time=-99999999999\n", plain + "20|0" + off, "s0pn");
    row("word and fraction", "file_size=abc\npolling_time=1.5\n", plain + "5|0" + off, "s0in");
    row("automation word replaces the log", "automation=abc\n", plain + "5|0" + bad, "v0in");
    row("automation beyond int", "automation=99999999999\n", plain + "5|0" + bad, "v0pn");
    row("automation 2 asks for port 1", "automation=2\nport_ID=yes\n", plain + "5|0|2|2: Automation Runs Endless|1|0", "s1pn",
        "Warning|You are about to connect to the port 1 (Bonding CPEs). Are you sure you want to continue ?\n"
        "If you do not know what this is, then please click on \"No\".");
    row("UTF-8, names in any case", "\xEF\xBB\xBF[SETTINGS]\nIP_Address=10.0.0.2\nINPUT_FILE=scr\xC3\xA9.txt\nOutput_File=r\xC3\xA9sum\xC3\xA9\n",
        "10.0.0.2|scré.txt|*.out|résumé|5|0|0|0: Automation off|0|4@c0c0", "s0pnPuI");
    row("comments only", "input_file=notes.txt\n", "*.*.*.*|notes.txt|*.out|default_output|5|0" + off, "s0pnPN");
    row("script a FIFO", "input_file=fifo.txt\n", "*.*.*.*|fifo.txt|*.out|default_output|5|0" + off, "s0pne",
        "Error|The selected Input File could not be opened !");
}

void TestWindow::settings()
{
    QFETCH(QStringList, row);
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    if (row[0] != "-")
        folder.writeFile("Vemu.ini", row[0].toUtf8());
    for (const char *name : {"script.txt", "scré.txt"})
        folder.writeFile(name, "cr STAT 0 0\nbogus 1 2\n# note\nafe korra 1 // the last line\n");
    folder.writeFile("notes.txt", "# one\n/ two\n");
    QCOMPARE(mkfifo("fifo.txt", 0600), 0);
    Vemu w;
    const Ui_Vemu *ui = w.ui;
    const QString port = ui->m_R_Port_1->isChecked() ? "1" : ui->m_R_Port_0->isChecked() ? "0" : "none", requests = w.m_requests.isEmpty() ? "0"
        : QString("%1@%2%3").arg(w.m_requests.size()).arg(w.m_requests.first()->port(), 0, 16).arg(w.m_requests.last()->port(), 0, 16);
    QCOMPARE(QStringList({ui->m_Eip->text(), ui->m_EinputFile->text(), ui->m_EsymbolFile->text(), w.m_outputBase, QString::number(ui->m_SoutputFileSize->value()),
                          QString::number(w.m_pollingTimer->interval()), QString::number(w.m_automationMode), ui->m_GuiAutomation->text(), port, requests}).join('|'), row[1]);
    QVERIFY(matches("Results/" + w.m_outputBase + "%T_part0.bin", "", ui->m_EoutputFile->text()));
    // Modes 1 and 2 go on to connect; only the settings' own lines count.
    QCOMPARE(log_entries(&w).mid(0, row[2].size()), lines_of(row[2]));
    QCOMPARE(answerer.seen, row[3].isEmpty() ? QStringList() : QStringList(row[3]));
}

// Each row: the file (none for "-"), the output base, the lines, close timer|polling time, the description, files already there.
void TestWindow::automation_data()
{
    QTest::addColumn<QStringList>("row");
    auto row = [](const char *tag, const QString &file, const QString &base, const char *lines, const QString &timers = "60180|2",
                  const QStringList &desc = description(), const QStringList &existing = {}) {
        QTest::newRow(tag) << QStringList{file, base, lines, timers, desc.join('|'), existing.join('|')};
    };
    const QString in = "%F/RT/INTERNAL/", earlier = "Test1_L3_2013_01_01_00_00_00";
    row("complete", automation_file(), in + "Test1_L3%T", "FrA");
    row("earlier run gives the suffix", automation_file(), in + earlier, "FrA", "60180|2", description(),
        {"Other_2012_01_01_00_00_00_part0.bin", "Test1_L3_0_long_notes_file.txt", earlier + "_part0.BIN", "Test1_L3_2014_03_06_10_11_12_part2.7z"});
    row("TXT removed, link with blanks, a tab, a zero", automation_file({{"result_file_name", "A.txtB.TXT"}, {"link_number", "\" \t05 \""}}),
        in + "AB_L05%T", "FrA", "60180|2", description(" \t05 "));
    row("link word, polling clamped", automation_file({{"link_number", "abc"}, {"polling_time", "1000"}}), in + "Test1_%T", "FrA",
        "60180|300", description("abc"));
    row("no folder line", automation_file({}, ""), "Test1_L3", "rA");
    row("folder key in capitals, tabs, blanks", automation_file({}, "RESULT_FOLDER_NAME\t=\t  %F"), in + "Test1_L3%T", "FrA");
    row("folder line without value", automation_file({}, "result_folder_name ="), "Test1_L3", "rA");
    row("folder missing", automation_file({}, "result_folder_name = %F/missing"), "%F/missing/Test1_L3%T", "rA");
    row("sub-path cannot be created", automation_file(), "%F/Test1_L3", "rA", "60180|2", description(), {"../../RT"});
    row("incomplete", automation_file({{"co_noise", "-"}, {"minimum_showtime", "-"}, {"result_file_name", ""}}, ""),
        "default_output_L3", "S2RDA", "20060|2", description("3", ""));
    row("showtime 65536, polling word", automation_file({{"minimum_showtime", "65536"}, {"polling_time", "abc"}}), in + "Test1_L3%T",
        "S2FrA", "20060|0");
    row("numbers beyond int held in 16 bits", automation_file({{"minimum_showtime", "99999999999"}, {"polling_time", "4294967297"}}),
        in + "Test1_L3%T", "FrA", "59569173|1");
    row("UTF-8, keys in any case", automation_file({{"co_noise", "-"}, {"result_file_name", "-"}, {"Result_File_Name", "résumé"},
        {"link_number", "-"}, {"LINK_NUMBER", "4"}}, "RESULT_FOLDER_NAME = %F"), in + "résumé_L4%T", "SFrA", "60180|2", description("4", ""));
    row("no file", "-", "default_output", "X", "5015|0", {});
}

void TestWindow::automation()
{
    QFETCH(QStringList, row);
    ScopedWorkFolder work;
    const QString runs = work.filePath("runs");
    QDir().mkpath(runs);
    for (const QString &name : row[5].split('|', Qt::SkipEmptyParts)) {
        QDir().mkpath(QFileInfo(QDir::cleanPath("runs/RT/INTERNAL/" + name)).path());
        work.writeFile(QDir::cleanPath("runs/RT/INTERNAL/" + name), "x");
    }
    if (row[0] != "-")
        work.writeFile("InputForDebugTool.txt", QString(row[0]).replace("%F", runs).toUtf8());
    Vemu w;
    w.m_automationMode = 1;
    const int before = log_entries(&w).size();
    w.parse_automation_file();
    // The log lines, then the output base (also shown), the timers, and the description.
    const QStringList expected = lines_of("a" + row[2]).replaceInStrings("%N", row[1].section('/', -1))
        << row[1] << (row[0] == "-" ? w.ui->m_EoutputFile->text() : row[1]) << row[3] + "|" + row[3].section('|', 1) << row[4];
    const QStringList actual = log_entries(&w).mid(before) << w.m_outputBase << w.ui->m_EoutputFile->text()
        << QString("%1|%2|%3").arg(w.m_automationCloseTimer->isActive() ? w.m_automationCloseTimer->interval() : -1)
               .arg(w.ui->m_SpollingTime->value()).arg(w.m_pollingTimer->interval() / 1000) << w.m_testDescription.join('|');
    QVERIFY2(matches(expected.join('\n'), runs, actual.join('\n')), qPrintable(actual.join('\n')));
}

// Mode 1 runs one test and closes by its timer. The firmware is linked at
// 0x08048000: the wire carries the low 22 bits of each symbol's address, the
// records the whole of it, and every time stamp the description of the run.
void TestWindow::unattended_data()
{
    QTest::addColumn<QStringList>("row"); // settings, fault, lines in order, modal box
    const QString run = "input_file=script.txt\nsymbol_file=fw.out\npolling_time=0\noutput_file=out\nautomation=1\n";
    QTest::newRow("firmware above 4 MB") << QStringList{run, "", "1pyPIActTd", ""};
    QTest::newRow("no CPE: the window waits for a user") << QStringList{run, "no CPE", "Af", ""};
    QTest::newRow("no script: Start refused") << QStringList{"automation=1\n", "", "Acd", "Error|Please select a valid input file before starting !"};
}

void TestWindow::unattended()
{
    QFETCH(QStringList, row);
    Rig rig;
    // A port bound but never listened on refuses connections, and no other test takes its address meanwhile.
    QTcpSocket refusing;
    for (int n = 2; row[1] == "no CPE" && n < 255 && !refusing.bind(QHostAddress(QString("127.0.0.%1").arg(n)), 2000, QAbstractSocket::DontShareAddress); ++n) {}
    const QString ip = row[1] == "no CPE" ? refusing.localAddress().toString() : rig.ip;
    rig.folder.writeFile("Vemu.ini", ("[Settings]\nip_address=" + ip + "\n" + row[0] + "port_ID=1\n").toUtf8());
    rig.folder.writeFile("fw.s", ".text\n.globl _start\n_start: nop\n.balign 16\ntable: .space 16\nword: .space 8\ngs_PilotToneIdx: .space 4\n");
    QCOMPARE(QProcess::execute("as", {"--32", "-o", "fw.o", "fw.s"}) + QProcess::execute("ld", {"-m", "elf_i386", "-Ttext=0x08048000", "-o", "fw.out", "fw.o"}), 0);
    rig.folder.writeFile("script.txt", "cr CNTR 35 0 2\nmr table_ 8\nmrd word_ 2\nmrb gs_PilotToneIdx_ 3\n");
    rig.folder.writeFile("InputForDebugTool.txt", automation_file({{"minimum_showtime", "2"}, {"polling_time", "0"}}, ""));
    rig.cpe.setMemory(0x48010, QByteArray::fromHex("00112233445566778899aabbccddeeff0f1e2d3c4b5a69788796a5b4"));
    QElapsedTimer clock;
    clock.start();
    rig.open(false);
    Vemu &w = *rig.window;
    w.show();
    // The close timer: 2 x 1003 ms, never shorter.
    QVERIFY(wait_until([&] { return !w.isVisible(); }, 10000) && clock.elapsed() >= 2006);
    QCOMPARE(w.isEnabled(), row[1] == "no CPE");
    // These lines in this order, others between them.
    QStringList lines = lines_of(row[2]).replaceInStrings("%I", ip);
    const QRegularExpression inOrder("^(.*\n)?" + lines.replaceInStrings(QRegularExpression("^(.*)$"), "\\Q\\1\\E").join("\n(.*\n)?") + "(\n.*)?$",
                                     QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(inOrder.match(rig.logEntries().join('\n')).hasMatch(), qPrintable(rig.logEntries().join('\n')));
    QCOMPARE(rig.answerer.seen, row[3].isEmpty() ? QStringList() : QStringList(row[3]));
    if (!row[1].isEmpty() || !row[3].isEmpty())
        return;
    QVERIFY(!rig.log().contains("Line "));
    QCOMPARE(w.m_graphData->pilot_tone_index_address, 0x08048028u);
    QString wire;
    for (const SimRequest &r : rig.cpe.requests())
        wire += r.kind == SimRequest::MemoryRead ? QString("%1@%2 ").arg(r.address, 0, 16).arg(r.port, 0, 16) : "";
    QVERIFY2(wire.startsWith("48010@c1 48020@c1 48028@c1 48010@c1 48020@c1 48028@c1 "), qPrintable(wire));
    QStringList period = rig.expectedPeriod();
    QCOMPARE(period.mid(3), QStringList({"m1@8048010:00112233445566778899aabbccddeeff", "m2@8048020:0f1e2d3c4b5a6978", "m3@8048028:8796a5"}));
    const QMap<int, QStringList> periods = rig.periods();
    QVERIFY(periods.size() >= 2 && periods.lastKey() == periods.size() - 1);
    for (QStringList records : periods) {
        QVERIFY2(records.value(1).endsWith(",timestamp|" + description().join('|')), qPrintable(records.value(1)));
        records[1] = "t";
        QCOMPARE(records, period);
    }
}

// The user's picks with the two Browse buttons and Start, the window opened on first.txt.
// Fields: script, symbol field, symbol path, pilot-tone index and array addresses,
// requests (count:last:AFE registers), test, output base, result file.
void TestWindow::browse_data()
{
    QTest::addColumn<QStringList>("row"); // settings, symbol field ("-" as loaded), action, answer, files, dialogs then boxes, lines, fields
    auto row = [](const char *tag, const QStringList &r) { QTest::newRow(tag) << r; };
    const QString ask = "\nSymbol File|Do you want to choose a symbol file ?", info = "Information|No symbol file was selected, would you like to continue anyways ?";
    const QString parse = "black|S|Parsing Input File...\n", end = "darkred|-|Line 5: Unknown request !\nblack|S|Input file parsed.";
    const QString missing = parse + "darkred|-|Line 3: Unable to find symbol \"gs_PilotToneIdx_\"\n" + end, out = "|default_output|Results/default_output%T_part0.bin";
    const QString first = "first.txt|*.out|before|1,2|4:2 0 0 1 \t,7,:1|idle" + out, second = "|1:10 35 0 2 \t,7,:0|idle" + out;
    row("script dialog cancelled", {"", "-", "input", "Yes", "", "Open CMV File", "", first});
    row("second script, no symbol file", {"", "", "input", "No", "second.txt", "Open CMV File" + ask + "\nWarning|All the memory reads will be ignored !",
        missing, "%F/second.txt||before|1,2" + second});
    row("second script, symbol file kept", {"", "-", "input", "No", "second.txt", "Open CMV File" + ask, missing, "%F/second.txt|*.out|before|1,2" + second});
    row("symbol dialog cancelled", {"", "-", "input", "Yes", "second.txt", "Open CMV File\nSelect Symbol File" + ask, missing, "%F/second.txt|*.out||1,2" + second});
    row("unusable symbol file", {"", "-", "input", "Yes", "second.txt|first.txt", "Open CMV File\nSelect Symbol File" + ask,
        "red|S|No information could be read out of the selected Symbol file !\n" + missing, "%F/second.txt|%F/first.txt|%F/first.txt|1,2" + second});
    row("firmware symbols", {"", "-", "input", "Yes", "second.txt|fw.out", "Open CMV File\nSelect Symbol File" + ask, "black|S|Symbol File parsed.\n" + parse + end,
        "%F/second.txt|%F/fw.out|%F/fw.out|4112,4116|2:10 35 0 2 \t,7,:0|idle" + out});
    // Only the name's own endings go: a folder called "runs.bin" stays where the user chose it.
    row("output name loses its .bin endings", {"", "-", "output", "Yes", "runs.bin/x.bin.bin", "Save Output File", "",
        QString(first).replace(out, "|%F/runs.bin/x|%F/runs.bin/x%T_part0.bin")});
    row("output dialog cancelled", {"", "-", "output", "Yes", "", "Save Output File", "", first});
    row("Start asks without a symbol table", {"", "-", "start", "No", "", info, "", first});
    row("Start asks without a symbol field", {"symbol_file=fw.out\n", "", "start", "No", "", info, "", QString(first).replace("*.out", "")});
    row("Start with symbols asks nothing", {"symbol_file=fw.out\n", "-", "start", "No", "", "", "black|S|Test Started", QString(first).replace("*.out", "fw.out").replace("idle", "running")});
    row("unattended Start without symbols", {"", "-", "unattended start", "No", "", "", "red|S|No or incorrect symbol file was given ---> Test will start anyways !\n"
        "black|S|Test Started", QString(first).replace("idle", "running").replace("%T", "")});
}

void TestWindow::browse()
{
    QFETCH(QStringList, row);
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    answerer.preferred = {row[3] == "No" ? QMessageBox::No : QMessageBox::Yes, QMessageBox::Ok};
    folder.writeFile("Vemu.ini", ("[Settings]\ninput_file=first.txt\n" + row[0]).toUtf8());
    folder.writeFile("first.txt", "afe korra 1 [,7,]\ncr STAT 0 0 [,7,]\n");
    folder.writeFile("second.txt", "# two\n\nmr gs_PilotToneIdx_ 2 [,7,]\n/ three\nfoo 1 2\ncr CNTR 35 0 2 [,7,]\n");
    folder.writeFile("fw.s", ".text\n.globl _start\n_start: nop\n.balign 16\ngs_PilotToneIdx: .space 4\ngsa_RxPilotTone: .space 8\n");
    QCOMPARE(QProcess::execute("as", {"--32", "-o", "fw.o", "fw.s"}) + QProcess::execute("ld", {"-m", "elf_i386", "-Ttext=0x1000", "-o", "fw.out", "fw.o"}), 0);
    QVERIFY(QDir().mkdir("runs.bin"));
    Vemu w;
    if (row[1] != "-")
        w.ui->m_EsymbolFile->setText(row[1]);
    w.m_symbolFilePath = "before";
    w.m_graphData->set_pilot_tone_addresses(1, 2);
    w.m_automationMode = row[2] == "unattended start";
    for (const QString &name : row[4].split('|', Qt::SkipEmptyParts))
        answerer.files << folder.filePath(name);
    const int before = log_entries(&w).size();
    row[2] == "input" ? w.on_m_BinputFile_clicked() : row[2] == "output" ? w.on_m_BoutputFile_clicked() : w.on_m_Bstart_clicked();
    QCOMPARE(answerer.dialogs + answerer.seen, row[5].split('\n', Qt::SkipEmptyParts));
    const QStringList lines = row[6].split('\n', Qt::SkipEmptyParts);
    QCOMPARE(log_entries(&w).mid(before, w.m_testRunning ? lines.size() : -1), lines);
    const QString fields = QStringList({w.ui->m_EinputFile->text(), w.ui->m_EsymbolFile->text(), w.m_symbolFilePath,
        QString("%1,%2").arg(w.m_graphData->pilot_tone_index_address).arg(w.m_graphData->rx_pilot_tone_address),
        QString("%1:%2:%3").arg(w.m_requests.size()).arg(w.m_requests.isEmpty() ? "" : w.m_requests.last()->toString()).arg(w.m_afeRegisters.size()),
        w.m_testRunning ? "running" : "idle", w.m_outputBase, w.ui->m_EoutputFile->text()}).join('|');
    QVERIFY2(matches(row[7], folder.path(), fields), qPrintable(fields));
}

// The customer script generator hands over its output file, open for writing only, and gets script lines back.
void TestWindow::afeTextMode()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    QFile out("generated.txt"), in("generated.txt");
    QVERIFY(out.open(QIODevice::WriteOnly) && w.m_requests.isEmpty());
    const int before = log_entries(&w).size();
    QCOMPARE(QStringList({w.parse_afe_read("0x1A", 3, ",7,", &out), w.parse_afe_read("all", 3, ",7,", &out), w.parse_afe_read("foo", 3, ",7,", &out)}),
             QStringList({"afe korra 0x1a ,7,\n", "afe korra all ,7,\n", ""}));
    QCOMPARE(log_entries(&w).mid(before), QStringList{"darkred|-|Line 3: Invalid value in AFE read !"});
    QVERIFY(w.m_requests.isEmpty() && w.m_afeRegisters.isEmpty());
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(w.parse_afe_read("0x1A", 3, ",7,", &in), QString());
    QCOMPARE(QList<int>({w.m_requests.size(), w.m_afeRegisters.value(0)}), QList<int>({3, 0x1A}));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
