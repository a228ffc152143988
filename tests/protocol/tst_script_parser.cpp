#include <QtTest>

#include "SymbolMaps.h"
#include "message.h"
#include "script_parser.h"

// "C group address index sizeOrValue R|W states" or
// "M width address countOrValue R|W states [afe reg]", with DEF for the
// default state list.
static QString describe(const message *request)
{
    QString states = request->states();
    if (states == kDefaultRequestStates)
        states = QStringLiteral("DEF");
    if (auto cmv = dynamic_cast<const CMV *>(request)) {
        return QStringLiteral("C %1 %2 %3 %4 %5 %6").arg(cmv->group()).arg(cmv->cmvAddress())
            .arg(cmv->index()).arg(cmv->sizeOrValue()).arg(cmv->isWrite() ? "W" : "R").arg(states);
    }
    auto memory = dynamic_cast<const MEMORY *>(request);
    QString text = QStringLiteral("M %1 %2 %3 %4 %5").arg(memory->width()).arg(memory->address())
        .arg(memory->countOrValue()).arg(memory->isWrite() ? "W" : "R").arg(states);
    if (memory->isAfeRead())
        text += QStringLiteral(" afe %1").arg(memory->afeRegister());
    return text;
}

static QString dark(const QString &text)
{
    return QStringLiteral("<font color=darkred>Line 5: ") + text + QStringLiteral("</font>");
}

static QString red(const QString &text)
{
    return QStringLiteral("<font color=red>Line 5: ") + text + QStringLiteral("</font>");
}

class TestScriptParser : public QObject
{
    Q_OBJECT

public:
    TestScriptParser() : m_symbols(QString())
    {
        fill_cmv_groups(m_groups);
        m_symbols.byName.insert(QStringLiteral("gs_PilotToneIdx_"), 0x1234);
        m_symbols.byValue.insert(0x1234, QStringLiteral("gs_PilotToneIdx_"));
        m_tables.cmvGroups = &m_groups;
        m_tables.symbols = &m_symbols;
    }

private slots:
    void states_data();
    void states();
    void lines_data();
    void lines();
    void noTables();
    void afeAll();
    void afeTextMode();

private:
    QHash<QString, uchar> m_groups;
    SymbolMaps m_symbols;
    ScriptTables m_tables;
};

void TestScriptParser::states_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("valid");
    QTest::newRow("bracket alone") << "[" << QString(kDefaultRequestStates) << false;
    QTest::newRow("empty") << "[]" << QString(kDefaultRequestStates) << false;
    QTest::newRow("blank") << "[ ]" << QString(kDefaultRequestStates) << false;
    QTest::newRow("letter") << "[x]" << QString(kDefaultRequestStates) << false;
    QTest::newRow("plain") << "[7,8]" << "7,8" << true;
    QTest::newRow("commas") << "[,7,8,]" << ",7,8," << true;
    QTest::newRow("blank inside") << "[7 8]" << "78" << true;
}

void TestScriptParser::states()
{
    QFETCH(QString, given);
    QFETCH(QString, stored);
    QFETCH(bool, valid);
    const QString result = check_request_states(given, 5);
    QCOMPARE(given, stored);
    QCOMPARE(result, valid ? QStringLiteral(" ")
                           : QStringLiteral(" ") + red("Given request's states are invalid !!"));
}

void TestScriptParser::lines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("log");

    const QString sp = QStringLiteral(" ");
    // CMV words.
    QTest::newRow("cr default") << "cr STAT 0 0" << QStringList{"C 2 0 0 1 R DEF"} << QStringList{};
    QTest::newRow("CR count states") << "CR stat 0x10 2 4 [,7,8,]" << QStringList{"C 2 16 2 4 R ,7,8,"} << QStringList{};
    QTest::newRow("cw name") << "cw DSL 5 0 0x1F" << QStringList{"C 34 5 0 31 W DEF"} << QStringList{};
    QTest::newRow("cw number group") << "cw 77 5 0 1" << QStringList{"C 77 5 0 1 W DEF"} << QStringList{};
    QTest::newRow("cr bad group") << "cr XYZ 1 2" << QStringList{} << QStringList{sp + red("Invalid CMV group given \"XYZ\" !")};
    QTest::newRow("cr 2 fields") << "cr xyz" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("cr group before count") << "cr FOO 1" << QStringList{} << QStringList{sp + red("Invalid CMV group given \"FOO\" !")};
    QTest::newRow("cr 3 fields") << "cr STAT 1" << QStringList{} << QStringList{sp + dark("CMV with invalid number of elements !")};
    QTest::newRow("cw count before group") << "cw FOO 1 2" << QStringList{} << QStringList{sp + dark("CMV with invalid number of elements !")};
    QTest::newRow("cw bad group") << "cw FOO 1 2 3" << QStringList{} << QStringList{sp + red("Invalid CMV group given \"FOO\" !")};
    QTest::newRow("cr bad value") << "cr STAT x 0" << QStringList{} << QStringList{sp + dark("Invalid value in CMV !")};
    QTest::newRow("cw bad value") << "cw STAT 1 2 y" << QStringList{} << QStringList{sp + dark("Invalid value in CMV !")};
    QTest::newRow("cr last index") << "cr STAT 0 65534 2" << QStringList{"C 2 0 65534 2 R DEF"} << QStringList{};
    QTest::newRow("cr past index range") << "cr STAT 0 65535 2" << QStringList{} << QStringList{sp + dark("CMV reads past the addressable range !")};
    QTest::newRow("group escaped") << "cr <i>&amp; 1 2" << QStringList{} << QStringList{sp + red("Invalid CMV group given \"&lt;i&gt;&amp;amp;\" !")};
    // Memory reads.
    QTest::newRow("mr odd") << "mr 0x1001 4" << QStringList{} << QStringList{sp + red("CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!")};
    QTest::newRow("mrb odd") << "mrb 0x1001 4" << QStringList{"M 1 4097 4 R DEF"} << QStringList{};
    QTest::newRow("mrd misaligned") << "mrd 0x1002 1" << QStringList{} << QStringList{sp + red("CANNOT ACCESS DWORD DATA ON BYTE BOUNDARY !!")};
    QTest::newRow("mrd") << "mrd 0x1004 3" << QStringList{"M 4 4100 3 R DEF"} << QStringList{};
    QTest::newRow("mr symbol") << "mr gs_PilotToneIdx_ 2" << QStringList{"M 2 4660 2 R DEF"} << QStringList{};
    QTest::newRow("mr bare name") << "mr gs_PilotToneIdx 2" << QStringList{} << QStringList{sp + dark("Unable to find symbol \"gs_PilotToneIdx\"")};
    QTest::newRow("symbol escaped") << "mrb a<b>\"c 2" << QStringList{} << QStringList{sp + dark("Unable to find symbol \"a&lt;b&gt;&quot;c\"")};
    QTest::newRow("mr 2 fields") << "mr 0x100" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("mr 4 fields") << "mr 0x100 2 3" << QStringList{} << QStringList{sp + dark("MR with invalid number of elements !")};
    QTest::newRow("mrd 4 fields") << "mrd 0x100 2 3" << QStringList{} << QStringList{sp + dark("MRD with invalid number of elements !")};
    QTest::newRow("mrb bad count") << "mrb 0x100 q" << QStringList{} << QStringList{sp + dark("Invalid value in MRB !")};
    QTest::newRow("mr octal") << "mr 010 1" << QStringList{"M 2 8 1 R DEF"} << QStringList{};
    QTest::newRow("mrb count too big") << "mrb 0 4294967296" << QStringList{} << QStringList{sp + dark("Invalid value in MRB !")};
    QTest::newRow("mrb count -1") << "mrb 0 -1" << QStringList{} << QStringList{sp + dark("Invalid value in MRB !")};
    QTest::newRow("mr 0x is a name") << "mr 0x 1" << QStringList{} << QStringList{sp + dark("Unable to find symbol \"0x\"")};
    QTest::newRow("mr 08 is a name") << "mr 08 1" << QStringList{} << QStringList{sp + dark("Unable to find symbol \"08\"")};
    QTest::newRow("mr count 0") << "MR 0x100 0" << QStringList{"M 2 256 0 R DEF"} << QStringList{};
    QTest::newRow("mr last word") << "mr 0x3FFFFE 1" << QStringList{"M 2 4194302 1 R DEF"} << QStringList{};
    QTest::newRow("mr past range") << "mr 0x3FFFFE 2" << QStringList{} << QStringList{sp + dark("MR reads past the addressable range !")};
    QTest::newRow("mrd past range") << "mrd 0x3FFFFC 2" << QStringList{} << QStringList{sp + dark("MRD reads past the addressable range !")};
    QTest::newRow("mrb past range") << "mrb 0x400000 1" << QStringList{} << QStringList{sp + dark("MRB reads past the addressable range !")};
    QTest::newRow("mrb huge count") << "mrb 0 4294967295" << QStringList{} << QStringList{sp + dark("MRB reads past the addressable range !")};
    // Memory writes.
    QTest::newRow("mw") << "mw 0x100 1 0xABCD" << QStringList{"M 2 256 43981 W DEF"} << QStringList{};
    QTest::newRow("mww") << "mww 0x100 1 0xABCD" << QStringList{"M 2 256 43981 W DEF"} << QStringList{};
    QTest::newRow("mw count 0") << "mw 0x100 0 5" << QStringList{} << QStringList{};
    QTest::newRow("mw count negative") << "mw 0x100 0x80000000 5" << QStringList{} << QStringList{};
    QTest::newRow("mw bad count") << "mw 0x100 x 5" << QStringList{} << QStringList{sp + dark("Invalid value in MW !")};
    QTest::newRow("mw count before alignment") << "mww 0x101 x 5" << QStringList{} << QStringList{sp + dark("Invalid value in MW !")};
    QTest::newRow("mw odd") << "mw 0x101 1 5" << QStringList{} << QStringList{sp + red("CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!")};
    QTest::newRow("mw alignment before count gate") << "mw 0x101 0 5" << QStringList{} << QStringList{sp + red("CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!")};
    QTest::newRow("mw bad value") << "mw 0x100 1 z" << QStringList{} << QStringList{sp + dark("Invalid value in MW !")};
    QTest::newRow("mwd") << "mwd 0x100 7 0x12345678" << QStringList{"M 4 256 305419896 W DEF"} << QStringList{};
    QTest::newRow("mwd misaligned") << "mwd 0x102 1 5" << QStringList{} << QStringList{sp + red("CANNOT ACCESS DWORD DATA ON BYTE BOUNDARY !!")};
    QTest::newRow("mwb") << "mwb 0x101 1 0xFF [9]" << QStringList{"M 1 257 255 W 9"} << QStringList{};
    QTest::newRow("mwb 3 fields") << "mwb 0x101 1" << QStringList{} << QStringList{sp + dark("MWB with invalid number of elements !")};
    QTest::newRow("mwd symbol missing") << "mwd nothing_ 1 1" << QStringList{} << QStringList{sp + dark("Unable to find symbol \"nothing_\"")};
    // AFE.
    QTest::newRow("afe") << "afe korra 0x300"
        << QStringList{"M 4 2147996 768 W DEF", "M 4 2148004 0 W DEF", "M 4 2148004 1 R DEF afe 768"} << QStringList{};
    QTest::newRow("afe bad operand") << "afe korra foo" << QStringList{} << QStringList{dark("Invalid value in AFE read !")};
    QTest::newRow("afe platform") << "afe other 1" << QStringList{} << QStringList{dark("AFE Read with invalid platform given !")};
    QTest::newRow("afe 2 fields") << "afe korra" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("afe 4 fields") << "afe korra 1 2" << QStringList{} << QStringList{dark("AFE Read with invalid number of elements !")};
    QTest::newRow("unknown") << "foo 1 2" << QStringList{} << QStringList{dark("Unknown request !")};
    // Comments, tabs, blanks and state lists.
    QTest::newRow("hash comment") << "# note" << QStringList{} << QStringList{};
    QTest::newRow("slash comment") << "/ note" << QStringList{} << QStringList{};
    QTest::newRow("blank before hash") << " # note" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("trailing comment") << "mr 0x100 2 // note [7]" << QStringList{"M 2 256 2 R DEF"} << QStringList{};
    QTest::newRow("field after list") << "mr 0x100 [7] 2" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("tabs deleted") << "mr\t0x100\t2" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("tab and blanks") << "mr \t0x100 2\t" << QStringList{"M 2 256 2 R DEF"} << QStringList{};
    QTest::newRow("empty") << "" << QStringList{} << QStringList{};
    QTest::newRow("tabs only") << "\t\t" << QStringList{} << QStringList{};
    QTest::newRow("blanks") << "   " << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("blanks and comment") << "  // x" << QStringList{} << QStringList{dark("Request has invalid number of elements !")};
    QTest::newRow("list 9") << "mr 0x100 2 [9]" << QStringList{"M 2 256 2 R 9"} << QStringList{};
    QTest::newRow("empty list") << "mr 0x100 2 []" << QStringList{"M 2 256 2 R DEF"}
        << QStringList{sp + red("Given request's states are invalid !!")};
    QTest::newRow("list and text") << "mr 0x100 2 [7] x" << QStringList{"M 2 256 2 R 7x"} << QStringList{};
    QTest::newRow("only bad list") << "[]" << QStringList{} << QStringList{sp + red("Given request's states are invalid !!")};
    QTest::newRow("only list") << "[7]" << QStringList{} << QStringList{};
    QTest::newRow("list and error") << "mr 0x101 2 [x]" << QStringList{}
        << QStringList{sp + red("Given request's states are invalid !!"), sp + red("CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!")};
    QTest::newRow("afe with list") << "AFE KORRA 5 [,7,]"
        << QStringList{"M 4 2147996 5 W ,7,", "M 4 2148004 0 W ,7,", "M 4 2148004 1 R ,7, afe 5"} << QStringList{};
}

void TestScriptParser::lines()
{
    QFETCH(QString, line);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, log);

    const ScriptLineResult result = parse_script_line(line, 5, m_tables);
    QStringList built;
    for (const message *request : result.requests)
        built << describe(request);
    qDeleteAll(result.requests);
    QCOMPARE(built, requests);
    QCOMPARE(result.log, log);
    QCOMPARE(result.afeRegisters.size(), requests.size() / 3 * line.startsWith("af", Qt::CaseInsensitive));
}

void TestScriptParser::noTables()
{
    const ScriptTables none;
    ScriptLineResult result = parse_script_line(QStringLiteral("mr gs_PilotToneIdx_ 2"), 5, none);
    QCOMPARE(result.log, QStringList{" " + dark("Unable to find symbol \"gs_PilotToneIdx_\"")});
    result = parse_script_line(QStringLiteral("cr STAT 0 0"), 5, none);
    QCOMPARE(result.log, QStringList{" " + red("Invalid CMV group given \"STAT\" !")});
    QVERIFY(result.requests.isEmpty());

    // Builders called with too few fields report instead of reading past them.
    QString text(" ");
    QVERIFY(!parse_cmv_read_request({"cr"}, 5, "", text, m_groups));
    QCOMPARE(text, " " + dark("CMV with invalid number of elements !"));
    text = " ";
    QVERIFY(!parse_mwd_request({"mwd"}, 5, "", text, nullptr));
    QCOMPARE(text, " " + dark("MWD with invalid number of elements !"));
}

void TestScriptParser::afeAll()
{
    const ScriptLineResult result = parse_script_line(QStringLiteral("afe korra all"), 5, m_tables);
    QCOMPARE(result.requests.size(), 798);
    QCOMPARE(result.afeRegisters.size(), 266);
    QCOMPARE(result.afeRegisters.first(), qint16(0x300));
    QCOMPARE(result.afeRegisters.at(10), qint16(0x30A));
    QCOMPARE(result.afeRegisters.at(11), qint16(0x310));
    QCOMPARE(result.afeRegisters.at(136), qint16(0x431));
    QCOMPARE(result.afeRegisters.at(137), qint16(0x200));
    QCOMPARE(result.afeRegisters.last(), qint16(0x0A3));
    QCOMPARE(QSet<qint16>(result.afeRegisters.begin(), result.afeRegisters.end()).size(), 266);
    for (int i = 0; i < result.afeRegisters.size(); ++i) {
        auto read = dynamic_cast<const MEMORY *>(result.requests.at(3 * i + 2));
        QVERIFY(read && read->isAfeRead());
        QCOMPARE(read->afeRegister(), result.afeRegisters.at(i));
        QCOMPARE(dynamic_cast<const MEMORY *>(result.requests.at(3 * i))->countOrValue(),
                 quint32(result.afeRegisters.at(i)));
    }
    qDeleteAll(result.requests);
}

void TestScriptParser::afeTextMode()
{
    ScriptLineResult result;
    QCOMPARE(parse_afe_operand("0x1A", 5, ",7,", true, result), QStringLiteral("afe korra 0x1a ,7,\n"));
    QCOMPARE(parse_afe_operand("all", 5, ",7,", true, result), QStringLiteral("afe korra all ,7,\n"));
    QVERIFY(result.requests.isEmpty() && result.afeRegisters.isEmpty() && result.log.isEmpty());
    QCOMPARE(parse_afe_operand("foo", 5, ",7,", true, result), QString());
    QCOMPARE(result.log, QStringList{dark("Invalid value in AFE read !")});
}

QTEST_GUILESS_MAIN(TestScriptParser)
#include "tst_script_parser.moc"
