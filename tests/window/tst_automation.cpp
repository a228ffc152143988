#include <QtTest>

#include "Vemu.h"
#include "log_entries.h"
#include "simcpe.h"
#include "test_support.h"
#include "ui_Vemu.h"

namespace {

const QString kTime = QStringLiteral("_\\d{4}(_\\d\\d){5}");
const QString kParsing = QStringLiteral("black|S|Parsing automation file (InputForDebugTool.txt)...");
const QString kParsed = QStringLiteral("black|S|Automation file parsed.");
const QString kSome = QStringLiteral("red|-|- Some (or all) of the automation parameters were not found !!");
const QString kNotFound = QStringLiteral(
    "red|S|Automation file was NOT FOUND ! ---> Adapting default setting (5 seconds of Showtime and result file "
    "will be put inside the /Results folder of the Vemu directory).");
const QString kShowtime20 = QStringLiteral(
    "red|-|- Vemu could not find minimum_showtime !! ---> Setting default value of 20 seconds.");

QString folder_line(const QString &folder)
{
    return "green|-|- Vemu will put the results files in the following folder: " + folder;
}

QString name_line(const QString &name)
{
    return "green|-|- Result file name is: " + name + "_part0.bin";
}

const QStringList kKeys{"link_number", "loop_simulator_model", "main_loop_length", "bt_loop_length",
                        "noise_generator_model", "co_noise", "cpe_noise", "result_file_name",
                        "test_suite_name", "test_chapter", "test_name", "DSLAM", "minimum_showtime",
                        "polling_time"};
const QStringList kValues{"3", "LS5", "300", "20", "NG2", "AWGN", "none", "Test1.txt", "Suite", "Ch2",
                          "Sync", "Dslam7", "60", "2"};

// A complete automation file, with some values changed ("-" drops the key)
// and the folder line as given.
QByteArray automation_file(const QMap<QString, QString> &changes, const QString &folderLine)
{
    QByteArray text = "[default_parameters]\n";
    for (int i = 0; i < kKeys.size(); ++i) {
        const QString value = changes.value(kKeys[i], kValues[i]);
        if (value != "-")
            text += (kKeys[i] + " = " + value + "\n").toUtf8();
    }
    if (!folderLine.isEmpty())
        text += folderLine.toUtf8() + "\n";
    return text;
}

QStringList description(const QString &link = "3", const QString &coNoise = "AWGN")
{
    return {link + ",link_number", "LS5,loop_simulator_model", "300,main_loop_length",
            "20,bt_loop_length", "NG2,noise_generator_model", coNoise + ",co_noise", "none,cpe_noise",
            "Suite,test_suite_name", "Ch2,test_chapter", "Sync,test_name", "Dslam7,DSLAM"};
}

bool matches(const QString &pattern, const QString &folder, const QString &text)
{
    QString regex = QRegularExpression::escape(QString(pattern).replace("%F", folder));
    regex.replace("\\%T", kTime);
    return QRegularExpression("^" + regex + "$").match(text).hasMatch();
}

QByteArray ini(const QString &ip, const QString &script, int automation)
{
    return QString("[Settings]\nip_address=%1\ninput_file=%2\nautomation=%3\noutput_file=run\n")
        .arg(ip, script)
        .arg(automation)
        .toUtf8();
}

} // namespace

class TestAutomation : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void unattendedRun();
    void unattendedRunWithoutAutomationFile();
    void unattendedRunWithoutCpe();
    void closeWhileConnectedWithoutTest();
};

void TestAutomation::parse_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("base");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("closeMs");
    QTest::addColumn<int>("polling");
    QTest::addColumn<QStringList>("description");

    const QString folder = "result_folder_name = %F", in = "%F/RT/INTERNAL/";
    const QByteArray plain = automation_file({}, folder);
    auto row = [](const char *tag, const QByteArray &file, const QString &base, const QStringList &lines,
                  const QStringList &existing = {}, int polling = 2, const QStringList &desc = description(),
                  int closeMs = 60180, int mode = 1) {
        QTest::newRow(tag) << mode << file << existing << base << lines << closeMs << polling << desc;
    };
    auto named = [&](const QString &name) { return QStringList{folder_line(in), name_line(name), kParsed}; };
    const QString earlier = "Test1_L3_2013_01_01_00_00_00";
    row("complete", plain, in + "Test1_L3%T", named("Test1_L3%T"));
    row("earlier run gives the suffix", plain, in + earlier, named(earlier),
        {"RT/INTERNAL/Other_2012_01_01_00_00_00_part0.bin", "RT/INTERNAL/Test1_L3_0_long_notes_file.txt",
         "RT/INTERNAL/" + earlier + "_part0.BIN", "RT/INTERNAL/Test1_L3_2014_03_06_10_11_12_part2.7z"});
    row("TXT removed, link with blanks",
        automation_file({{"result_file_name", "A.txtB.TXT"}, {"link_number", "\" 7 \""}}, folder), in + "AB_L7%T",
        named("AB_L7%T"), {}, 2, description(" 7 "));
    row("link with a tab", automation_file({{"link_number", "\"\t5\""}}, folder), in + "Test1_L5%T",
        named("Test1_L5%T"), {}, 2, description("\t5"));
    row("link 07", automation_file({{"link_number", "07"}}, folder), in + "Test1_L07%T", named("Test1_L07%T"), {}, 2,
        description("07"));
    row("link word, polling clamped", automation_file({{"link_number", "abc"}, {"polling_time", "1000"}}, folder),
        in + "Test1_%T", named("Test1_%T"), {}, 300, description("abc"));
    row("no folder line", automation_file({}, ""), "Test1_L3", {name_line("Test1_L3"), kParsed});
    row("key in capitals, tabs, blanks", automation_file({}, "RESULT_FOLDER_NAME\t=\t  %F"), in + "Test1_L3%T",
        named("Test1_L3%T"));
    row("folder line without value", automation_file({}, "result_folder_name ="), "Test1_L3",
        {name_line("Test1_L3"), kParsed});
    row("folder missing", automation_file({}, "result_folder_name = %F/missing"), "%F/missing/Test1_L3%T",
        {name_line("Test1_L3%T"), kParsed});
    row("sub-path cannot be created", plain, "%F/Test1_L3", {name_line("Test1_L3"), kParsed}, {"RT"});
    row("incomplete", automation_file({{"co_noise", "-"}, {"minimum_showtime", "-"}, {"result_file_name", ""}}, ""),
        "default_output_L3",
        {kSome, kShowtime20,
         "red|-|- Vemu could not find result_file_name !! ---> Setting default output file name: "
         "default_output%T_part0.bin",
         "red|-|- Vemu could not find result_folder_name !! ---> Setting default output folder: /Results.", kParsed},
        {}, 2, description("3", ""), 20060);
    row("showtime 65536, polling word",
        automation_file({{"minimum_showtime", "65536"}, {"polling_time", "abc"}}, folder), in + "Test1_L3%T",
        QStringList{kSome, kShowtime20} + named("Test1_L3%T"), {}, 0, description(), 20060);
    row("no file", QByteArray(), "default_output", {kNotFound}, {}, 0, {}, 5015);
    row("mode 2 reads nothing", plain, "default_output", {}, {}, 0, {}, -1, 2);
}

void TestAutomation::parse()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, file);
    QFETCH(QStringList, existing);
    QFETCH(QString, base);
    QFETCH(QStringList, lines);
    QFETCH(int, closeMs);
    QFETCH(int, polling);
    QFETCH(QStringList, description);

    ScopedWorkFolder work;
    const QString runs = work.filePath("runs");
    QDir(work.path()).mkdir("runs");
    for (const QString &name : existing) {
        QDir(runs).mkpath(QFileInfo(name).path());
        work.writeFile("runs/" + name, "x");
    }
    if (!file.isNull())
        work.writeFile("InputForDebugTool.txt", QString(file).replace("%F", runs).toUtf8());

    Vemu w;
    w.m_automationMode = mode;
    const int before = log_entries(&w).size();
    w.parse_automation_file();

    if (mode == 1)
        lines.prepend(kParsing);
    const QStringList actual = log_entries(&w).mid(before);
    QCOMPARE(actual.size(), lines.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(matches(lines[i], runs, actual[i]), qPrintable(actual[i]));
    QVERIFY2(matches(base, runs, w.m_outputBase), qPrintable(w.m_outputBase));
    if (mode == 1 && !file.isNull())
        QCOMPARE(w.ui->m_EoutputFile->text(), w.m_outputBase);
    QCOMPARE(w.m_automationCloseTimer->isActive() ? w.m_automationCloseTimer->interval() : -1, closeMs);
    QCOMPARE(w.ui->m_SpollingTime->value(), polling);
    QCOMPARE(w.m_pollingTimer->interval(), polling * 1000);
    QCOMPARE(w.m_testDescription, description);
}

// Runs a mode-1 window until it closes itself. The close timer is a coarse
// timer, which may fire up to 5 % early; the closing times checked allow that.
struct UnattendedRun
{
    QStringList log;
    QString outputBase;
    qint64 closedAfterMs = -1;
    bool enabledAfterStart = false;
    bool framelessAtStart = false;
    int closeEvents = 0;
    QStringList boxes;
};

class CloseCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Close;
        return false;
    }
};

static UnattendedRun run_until_closed()
{
    UnattendedRun run;
    ModalAnswerer answerer;
    CloseCounter closes;
    QElapsedTimer clock;
    clock.start();
    Vemu w;
    run.enabledAfterStart = w.isEnabled();
    run.framelessAtStart = w.windowFlags().testFlag(Qt::FramelessWindowHint);
    w.installEventFilter(&closes);
    w.show();
    if (wait_until([&] { return !w.isVisible(); }, 60000))
        run.closedAfterMs = clock.elapsed();
    run.log = log_entries(&w);
    run.outputBase = w.m_outputBase;
    run.closeEvents = closes.count;
    run.boxes = answerer.seen;
    return run;
}

// True when `wanted` appear in `log` in this order (other lines between).
static bool in_order(const QStringList &log, const QStringList &wanted)
{
    int at = 0;
    for (const QString &line : wanted) {
        at = log.indexOf(line, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}

void TestAutomation::unattendedRun()
{
    ScopedWorkFolder work;
    SimCpe cpe(SimCpe::Korra);
    QVERIFY2(cpe.start(QHostAddress("127.0.6.1")), qPrintable(cpe.errorString()));
    const QString runs = work.filePath("runs");
    QDir(work.path()).mkdir("runs");
    work.writeFile("script.txt", "cr STAT 0 0 1\ncr CNTR 35 0 2\n");
    work.writeFile("Vemu.ini", ini("127.0.6.1", work.filePath("script.txt"), 1));
    work.writeFile("InputForDebugTool.txt",
                   automation_file({{"minimum_showtime", "6"}, {"polling_time", "1"}},
                                   "result_folder_name = " + runs));

    const UnattendedRun run = run_until_closed();
    QVERIFY(run.closedAfterMs >= 6018 * 95 / 100);
    QVERIFY(run.framelessAtStart);
    QCOMPARE(run.closeEvents, 1);
    QCOMPARE(run.boxes, QStringList());
    QVERIFY2(in_order(run.log, {kParsed, "green|S|CPE connected (IP is: 127.0.6.1)", "black|S|Test Started",
                                "chocolate|S|Polling Time = 1s", "black|S|Test Stopped",
                                "green|S|CPE disconnected"}),
             qPrintable(run.log.join('\n')));
    QVERIFY(!cpe.isClientConnected() || cpe.waitUntil([&] { return !cpe.isClientConnected(); }, 2000));
    QVERIFY(cpe.requestCount([](const SimRequest &r) { return r.isCmvRead(10, 35); }) >= 2);

    QVERIFY2(matches("%F/RT/INTERNAL/Test1_L3%T", runs, run.outputBase), qPrintable(run.outputBase));
    const QString fileName = QFileInfo(run.outputBase).fileName() + "_part0.bin";
    QCOMPARE(QDir(runs + "/RT/INTERNAL").entryList(QDir::Files), QStringList{fileName});
    QFile result(runs + "/RT/INTERNAL/" + fileName);
    QVERIFY(result.open(QIODevice::ReadOnly));
    QList<ResultRecord> records;
    QString error;
    QVERIFY2(read_result_records(result.readAll(), &records, &error), qPrintable(error));
    int stamps = 0;
    for (const ResultRecord &r : records) {
        if (r.kind != 7)
            continue;
        ++stamps;
        QVERIFY2(QRegularExpression("^\\d{17},timestamp$").match(r.entries.value(0)).hasMatch(),
                 qPrintable(r.entries.value(0)));
        QCOMPARE(r.entries.mid(1), description());
    }
    QVERIFY(stamps >= 2);
}

void TestAutomation::unattendedRunWithoutAutomationFile()
{
    ScopedWorkFolder work;
    SimCpe cpe(SimCpe::Korra);
    QVERIFY2(cpe.start(QHostAddress("127.0.6.2")), qPrintable(cpe.errorString()));
    work.writeFile("script.txt", "cr CNTR 35 0 2\n");
    work.writeFile("Vemu.ini", ini("127.0.6.2", work.filePath("script.txt"), 1));

    const UnattendedRun run = run_until_closed();
    QVERIFY(run.closedAfterMs >= 5015 * 95 / 100);
    QCOMPARE(run.closeEvents, 1);
    QVERIFY2(in_order(run.log, {kParsing, kNotFound, "green|S|CPE connected (IP is: 127.0.6.2)", "black|S|Test Started",
                                "black|S|Test Stopped", "green|S|CPE disconnected"}),
             qPrintable(run.log.join('\n')));
    // No time stamp in the name of a one-time reading.
    QFile result(work.filePath("Results/run_part0.bin"));
    QVERIFY(result.open(QIODevice::ReadOnly));
    QList<ResultRecord> records;
    QVERIFY(read_result_records(result.readAll(), &records));
    QVERIFY(!records.isEmpty());
    for (const ResultRecord &r : records) {
        if (r.kind == 7)
            QCOMPARE(r.entries.size(), 1);
    }
}

void TestAutomation::unattendedRunWithoutCpe()
{
    ScopedWorkFolder work;
    const QString runs = work.filePath("runs");
    QDir(work.path()).mkdir("runs");
    work.writeFile("script.txt", "cr CNTR 35 0 2\n");
    work.writeFile("Vemu.ini", ini("127.0.6.3", work.filePath("script.txt"), 1));
    work.writeFile("InputForDebugTool.txt",
                   automation_file({{"minimum_showtime", "2"}}, "result_folder_name = " + runs));

    const UnattendedRun run = run_until_closed();
    // A failed connection hands the window to a user until the close timer.
    QVERIFY(run.enabledAfterStart);
    QVERIFY(run.closedAfterMs >= 2006 * 95 / 100);
    QCOMPARE(run.closeEvents, 1);
    QVERIFY(run.log.contains("red|S|Connection failure! (IP is: 127.0.6.3)"));
    QVERIFY(!run.log.contains("black|S|Test Started"));
    QCOMPARE(QDir(runs + "/RT/INTERNAL").entryList(QDir::Files), QStringList());
}

void TestAutomation::closeWhileConnectedWithoutTest()
{
    ScopedWorkFolder work;
    SimCpe cpe(SimCpe::Korra);
    QVERIFY2(cpe.start(QHostAddress("127.0.6.4")), qPrintable(cpe.errorString()));
    // No request script: the automatic Start refuses, so no test runs when
    // the close timer fires.
    work.writeFile("Vemu.ini", ini("127.0.6.4", "*.txt", 1));
    work.writeFile("InputForDebugTool.txt", automation_file({{"minimum_showtime", "2"}}, ""));

    const UnattendedRun run = run_until_closed();
    QVERIFY(run.closedAfterMs >= 2006 * 95 / 100);
    QCOMPARE(run.closeEvents, 1);
    QCOMPARE(run.boxes, QStringList{"Error|Please select a valid input file before starting !"});
    QVERIFY2(in_order(run.log, {kParsed, "green|S|CPE connected (IP is: 127.0.6.4)", "green|S|CPE disconnected"}),
             qPrintable(run.log.join('\n')));
    QVERIFY(!run.log.contains("black|S|Test Started"));
}

QTEST_MAIN(TestAutomation)
#include "tst_automation.moc"
