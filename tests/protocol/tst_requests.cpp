// Request objects and their packets, and the script lines that make them.

#include <QtTest>

#include "SymbolMaps.h"
#include "message.h"
#include "script_parser.h"

// "C group address index sizeOrValue R|W states" or "M width address
// countOrValue R|W states [afe reg]"; DEF stands for the default state list:
// line states 1 to 9 and 15, plain and VDSL, never Reset nor 10 to 14.
static QString describe(const message *request)
{
    const QString def = QStringLiteral(",1,2,3,4,5,6,7,8,9,15,101,102,103,104,105,106,107,108,109,115,");
    const QString states = request->states() == def ? QStringLiteral("DEF") : request->states();
    if (auto cmv = dynamic_cast<const CMV *>(request))
        return QStringLiteral("C %1 %2 %3 %4 %5 %6").arg(cmv->group()).arg(cmv->cmvAddress()).arg(cmv->index())
            .arg(cmv->sizeOrValue()).arg(cmv->isWrite() ? "W" : "R").arg(states);
    auto memory = dynamic_cast<const MEMORY *>(request);
    return QStringLiteral("M %1 %2 %3 %4 %5").arg(memory->width()).arg(quint32(memory->address()))
        .arg(memory->countOrValue()).arg(memory->isWrite() ? "W" : "R").arg(states)
        + (memory->isAfeRead() ? QStringLiteral(" afe %1").arg(memory->afeRegister()) : QString());
}

// Line messages of line 5: the parser's own (D) and the builders' and the
// state check's, which come with a leading blank (BD darkred, BR red).
static QString D(const QString &text) { return "<font color=darkred>Line 5: " + text + "</font>"; }
static QString BD(const QString &text) { return " " + D(text); }
static QString BR(const QString &text) { return " <font color=red>Line 5: " + text + "</font>"; }

class TestRequests : public QObject
{
    Q_OBJECT

private slots:
    void packets_data();
    void packets();
    void lines_data();
    void lines();
    void afeAll();
    void cmvGroups();
};

// Request: "C group address index sizeOrValue R|W" or "M width address
// countOrValue R|W", "p1" for port 1. Steps: K (Korra) or L (legacy) and the
// line-state code, R first to reset the progress. Packets, "|" between them:
// legacy ones as their leading bytes (the rest is zero), "" none. Done flags:
// T, F, or "-" for a flag left as the caller passed it (false here).
void TestRequests::packets_data()
{
    QTest::addColumn<QStringList>("row"); // request, states, steps, packets, done
    auto row = [](const char *tag, const char *request, const char *states, const char *steps, const char *packets,
                  const char *done) { QTest::newRow(tag) << QStringList{request, states, steps, packets, done}; };
    const char *all = ",1,2,7,8,9,15,";
    row("korra CMV read, chunks of 128", "C 2 0 10 300 R", all, "K7 K7 K7", "C0 00 40 00 00 00 00 02 00 0A 00 80|C0 00 40 00 00 00 00 02 00 8A 00 80|C0 00 40 00 00 00 00 02 01 0A 00 2C", "FFT");
    row("korra CMV count 0", "C 2 0 0 0 R", all, "K7", "C0 00 40 00 00 00 00 02 00 00 00 00", "T");
    row("korra CMV fields cut, port 1", "C 70 300 0x12345 1 R p1", all, "K7", "C1 00 40 00 00 00 2C 06 23 45 00 01", "T");
    row("korra CMV write", "C 2 5 3 0x51234 W", all, "K7", "C0 00 40 40 00 01 05 02 00 03 00 01 12 34", "T");
    row("legacy CMV read, chunks of 12", "C 2 0x102 4 13 R", all, "L7 L7", "00 0C 00 02 01 02 00 04|00 01 00 02 01 02 00 10", "FT");
    row("legacy CMV read group cut to 7 bits", "C 200 1 0 1 R", all, "L7", "00 01 00 48 00 01 00 00", "T");
    row("legacy CMV write keeps 8 bits", "C 200 0x1234 7 0xBEEF W", all, "L7", "00 41 00 C8 12 34 00 07 BE EF", "T");
    row("korra mem16, 256 bytes a packet", "M 2 0x1000 200 R", all, "K7 K7", "C0 00 40 20 00 00 00 00 10 00 00 80|C0 00 40 20 00 00 00 00 11 00 00 48", "FT");
    row("korra mem32, 64 a packet", "M 4 0x2000 65 R", all, "K7 K7", "C0 00 80 20 00 00 00 00 20 00 00 40|C0 00 80 20 00 00 00 00 21 00 00 01", "FT");
    row("korra mem8 257", "M 1 0x3F0000 257 R", all, "K7 K7", "C0 00 00 20 00 00 00 3F 00 00 01 00|C0 00 00 20 00 00 00 3F 01 00 00 01", "FT");
    row("address cut to 22 bits", "M 2 0x0807FFFE 2 R", all, "K7 L7", "C0 00 40 20 00 00 00 07 FF FE 00 02|00 22 00 00 00 07 FF FE", "TT");
    row("korra 32-bit write, low half first", "M 4 0x20C69C 0x300 W", all, "K7", "C0 00 80 A0 00 02 00 20 C6 9C 00 01 03 00 00 00", "T");
    row("korra mem16 write", "M 2 0x100 0x1ABCD W p1", all, "K7", "C1 00 40 A0 00 01 00 00 01 00 00 01 AB CD", "T");
    row("korra mem8 write", "M 1 0x101 0x1AB W", all, "K7", "C0 00 00 A0 00 01 00 00 01 01 00 01 00 AB", "T");
    row("legacy mem8 30, chunks of 14", "M 1 0x123456 30 R", all, "L7 L7 L7", "40 2E 00 00 00 12 34 56|40 2E 00 00 00 12 34 64|40 22 00 00 00 12 34 72", "FFT");
    row("legacy mem16 13, chunks of 12", "M 2 0x1000 13 R", all, "L7 L7", "00 2C 00 00 00 00 10 00|00 21 00 00 00 00 10 18", "FT");
    row("legacy mem32 7, chunks of 6", "M 4 0x1000 7 R", all, "L7 L7", "80 26 00 00 00 00 10 00|80 21 00 00 00 00 10 18", "FT");
    row("legacy memory write never sent", "M 4 0x100 5 W", all, "L7 L7", "|", "--");
    row("korra list wants commas", "C 2 0 0 1 R", "7,8,9", "K7 K8 K107", "|C0 00 40 00 00 00 00 02 00 00 00 01|", "TTT");
    row("legacy list is a substring search", "C 2 0 0 1 R", ",10,", "L1 L9", "00 01 00 02|", "TT");
    row("skipped read keeps progress, reset restarts", "C 2 0 10 300 R", ",7,", "K7 K0 K7 RK7 RL7",
        "C0 00 40 00 00 00 00 02 00 0A 00 80||C0 00 40 00 00 00 00 02 00 8A 00 80|C0 00 40 00 00 00 00 02 00 0A 00 80|00 0C 00 02 00 00 00 0A", "FTFFF");
}

void TestRequests::packets()
{
    QFETCH(QStringList, row);
    const QStringList f = row[0].split(' '), steps = row[2].split(' '), packets = row[3].split('|');
    auto n = [&](int i) { return f.at(i).toUInt(nullptr, 0); };
    QScopedPointer<message> r(f[0] == "C" ? static_cast<message *>(new CMV(n(1), n(2), n(3), n(4), row[1], f[5] == "W"))
                                          : new MEMORY(n(1), n(2), n(3), row[1], f[4] == "W"));
    if (f.last() == "p1")
        r->set_port(0xC1);
    for (int i = 0; i < steps.size(); ++i) {
        if (steps[i].startsWith('R'))
            r->reset_progress();
        const bool korra = steps[i].contains('K');
        const quint16 code = quint16(steps[i].section(korra ? 'K' : 'L', 1).toUInt());
        bool flag = row[4][i] == 'F'; // a flag the builder must set starts the other way
        const QByteArray packet = korra ? r->buildPacket(&flag, &code) : r->buildPacket32(&flag, &code);
        QByteArray want = QByteArray::fromHex(packets[i].toLatin1());
        want.append(QByteArray(korra || want.isEmpty() ? 0 : 32 - want.size(), '\0'));
        QCOMPARE(packet.toHex(' '), want.toHex(' '));
        QCOMPARE(flag, row[4][i] == 'T');
    }
}

void TestRequests::lines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QStringList>("log");
    auto row = [](const char *tag, const char *line, const QStringList &requests, const QStringList &log) {
        QTest::newRow(tag) << QString(line) << requests << log;
    };
    const QString wrongCount = D("Request has invalid number of elements !");
    const QString badStates = BR("Given request's states are invalid !!");
    const QString word = BR("CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!");
    const QString dword = BR("CANNOT ACCESS DWORD DATA ON BYTE BOUNDARY !!");
    row("cr default", "cr STAT 0 0", {"C 2 0 0 1 R DEF"}, {});
    row("CR in any case, count, list", "CR stat 0x10 2 4 [,7,8,]", {"C 2 16 2 4 R ,7,8,"}, {});
    row("cw group number unchecked", "cw 77 5 0 1", {"C 77 5 0 1 W DEF"}, {});
    row("cr group before count, escaped", "cr <i>&amp; 1", {}, {BR("Invalid CMV group given \"&lt;i&gt;&amp;amp;\" !")});
    row("cr 3 fields", "cr STAT 1", {}, {BD("CMV with invalid number of elements !")});
    row("cw count before group", "cw FOO 1 2", {}, {BD("CMV with invalid number of elements !")});
    row("cr bad value", "cr STAT x 0", {}, {BD("Invalid value in CMV !")});
    row("cr past the 16-bit index", "cr STAT 0 65535 2", {}, {BD("CMV reads past the addressable range !")});
    row("mr odd", "mr 0x1001 4", {}, {word});
    row("mrb odd", "mrb 0x1001 4", {"M 1 4097 4 R DEF"}, {});
    row("mrd misaligned", "mrd 0x1002 1", {}, {dword});
    row("mr name without _", "mr gs_PilotToneIdx 2", {}, {BD("Unable to find symbol \"gs_PilotToneIdx\"")});
    row("mr 08 is a name", "mr 08 1", {}, {BD("Unable to find symbol \"08\"")});
    row("mr octal", "mr 010 1", {"M 2 8 1 R DEF"}, {});
    row("mrb count past 32 bits", "mrb 0 4294967296", {}, {BD("Invalid value in MRB !")});
    row("mr count 0", "MR 0x100 0", {"M 2 256 0 R DEF"}, {});
    row("mr last word below 4 MB", "mr 0x3FFFFE 1", {"M 2 4194302 1 R DEF"}, {});
    row("mrb huge count", "mrb 0 4294967295", {}, {BD("MRB reads past the addressable range !")});
    row("mr symbol above 4 MB", "mr high_ 0x800", {"M 2 134520832 2048 R DEF"}, {});
    row("mrd above 4 MB past the cut", "mrd 0x087FFFFC 2", {}, {BD("MRD reads past the addressable range !")});
    row("mw", "mw 0x100 1 0xABCD", {"M 2 256 43981 W DEF"}, {});
    row("mw count 0", "mw 0x100 0 5", {}, {});
    row("mw count negative as int", "mw 0x100 0x80000000 5", {}, {});
    row("mw bad count before alignment", "mww 0x101 x 5", {}, {BD("Invalid value in MW !")});
    row("mw alignment before count gate", "mw 0x101 0 5", {}, {word});
    row("mw bad value", "mw 0x100 1 z", {}, {BD("Invalid value in MW !")});
    row("mwd", "mwd 0x100 7 0x12345678", {"M 4 256 305419896 W DEF"}, {});
    row("mwb", "mwb 0x101 1 0xFF [9]", {"M 1 257 255 W 9"}, {});
    row("mwb 3 fields", "mwb 0x101 1", {}, {BD("MWB with invalid number of elements !")});
    row("AFE in any case", "AFE KORRA 0x300 [,7,]", {"M 4 2147996 768 W ,7,", "M 4 2148004 0 W ,7,", "M 4 2148004 1 R ,7, afe 768"}, {});
    row("afe bad operand", "afe korra foo", {}, {D("Invalid value in AFE read !")});
    row("afe platform", "afe other 1", {}, {D("AFE Read with invalid platform given !")});
    row("afe 4 fields", "afe korra 1 2", {}, {D("AFE Read with invalid number of elements !")});
    row("unknown", "foo 1 2", {}, {D("Unknown request !")});
    row("hash comment", "# note", {}, {});
    row("slash comment", "/ note", {}, {});
    row("blank before hash", " # note", {}, {wrongCount});
    row("trailing comment", "mr 0x100 2 // note [7]", {"M 2 256 2 R DEF"}, {});
    row("field after list", "mr 0x100 [7] 2", {}, {wrongCount});
    row("tabs deleted", "mr\t0x100\t2", {}, {wrongCount});
    row("tab and blanks", "mr \t0x100 2\t", {"M 2 256 2 R DEF"}, {});
    row("blanks and comment", "  // x", {}, {wrongCount});
    row("list with a blank", "mr 0x100 2 [7 8]", {"M 2 256 2 R 78"}, {});
    row("list and text", "mr 0x100 2 [7] x", {"M 2 256 2 R 7x"}, {});
    row("bracket alone", "mr 0x100 2 [", {"M 2 256 2 R DEF"}, {badStates});
    row("only bad list", "[]", {}, {badStates});
    row("only list", "[7]", {}, {});
    row("list and error", "mr 0x101 2 [ ]", {}, {badStates, word});
}

void TestRequests::lines()
{
    QFETCH(QString, line);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, log);
    static QHash<QString, uchar> groups = [] { QHash<QString, uchar> table; fill_cmv_groups(table); return table; }();
    static SymbolMaps symbols = [] { SymbolMaps table{QString()}; table.byName = {{"gs_PilotToneIdx_", 0x1234}, {"high_", 0x0804A000}}; return table; }();
    const ScriptLineResult result = parse_script_line(line, 5, {&groups, &symbols});
    QStringList built;
    for (const message *request : result.requests)
        built << describe(request);
    qDeleteAll(result.requests);
    QCOMPARE(built, requests);
    QCOMPARE(result.log, log);
    QCOMPARE(result.afeRegisters.size(), requests.filter(" afe ").size());
}

void TestRequests::afeAll()
{
    const ScriptLineResult result = parse_script_line(QStringLiteral("afe korra all"), 5, {});
    const QList<qint16> r = result.afeRegisters;
    QCOMPARE(QList<qint16>({r.value(0), r.value(10), r.value(11), r.value(136), r.value(137), r.value(265)}),
             QList<qint16>({0x300, 0x30A, 0x310, 0x431, 0x200, 0x0A3}));
    QCOMPARE(QList<int>({QSet<qint16>(r.begin(), r.end()).size(), result.requests.size()}), QList<int>({266, 798}));
    qDeleteAll(result.requests);
}

// The script's group names; a name of the table's own stays, one of the same name is overwritten.
void TestRequests::cmvGroups()
{
    QHash<QString, uchar> table{{"STAT", 99}, {"MINE", 17}};
    fill_cmv_groups(table);
    const QHash<QString, uchar> expected{{"CNTL", 1}, {"STAT", 2}, {"INFO", 3}, {"TEST", 4}, {"OPTN", 5}, {"RATE", 6}, {"PLAM", 7},
        {"CNFG", 8}, {"MONI", 9}, {"CNTR", 10}, {"ALGS", 11}, {"DBUG", 12}, {"ACFG", 13}, {"AINF", 14}, {"AOPT", 15}, {"CST1", 16},
        {"CST16", 31}, {"SELT", 32}, {"DSL", 34}, {"MINE", 17}};
    QCOMPARE(table, expected);
}

QTEST_GUILESS_MAIN(TestRequests)
#include "tst_requests.moc"
