// The request script as the window reads it: file-level messages, the port
// rule, the Browse button with its symbol-file question, and the AFE operand
// in both of its modes.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "SymbolMaps.h"
#include "message.h"
#include "test_support.h"

#include <QFile>
#include <QMessageBox>
#include <QtTest>

class TestScriptWindow : public QObject
{
    Q_OBJECT

private slots:
    void missingFile();
    void parsedScript();
    void commentsOnly();
    void portOneAppliedAfterParse();
    void reparseReplacesEverything();
    void afeOperandTextMode();
    void browseWithoutSymbolFile();
};

namespace {

QStringList log_lines(Vemu &w)
{
    return log_text(&w).split('\n');
}

} // namespace

void TestScriptWindow::missingFile()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    w.m_requests << new CMV(2, 0, 0, 1, ",7,", false);
    w.m_afeRegisters << 5;
    w.ui->m_EinputFile->setText(folder.filePath("nowhere.txt"));
    w.parse_input_file();
    QCOMPARE(answerer.seen, QStringList{"Error|The selected Input File could not be opened !"});
    QVERIFY(log_lines(w).last().endsWith("] The selected Input File could not be opened !"));
    QVERIFY(w.m_requests.isEmpty());
    QVERIFY(w.m_afeRegisters.isEmpty());
}

void TestScriptWindow::parsedScript()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    folder.writeFile("script.txt", "# comment\n"
                                   "cr STAT 0 0 2\n"
                                   "bogus 1 2\n"
                                   "\n"
                                   "mr 0x1001 4\n"
                                   "afe korra 0x300 [,7,]\r\n"
                                   "mw 0x100 1 0xABCD // trailing\n");
    w.ui->m_EinputFile->setText(folder.filePath("script.txt"));
    w.parse_input_file();
    const QStringList lines = log_lines(w);
    const int start = lines.indexOf(QRegularExpression(R"(^\[.*\] Parsing Input File\.\.\.$)"));
    QVERIFY(start >= 0);
    QCOMPARE(lines.mid(start + 1, 2),
             (QStringList{" Line 3: Unknown request !", " Line 5: CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!"})
                 .replaceInStrings(QRegularExpression("^ "), ""));
    QVERIFY(lines.last().endsWith("] Input file parsed."));
    // cr, three AFE requests, mw.
    QCOMPARE(w.m_requests.size(), 5);
    QCOMPARE(w.m_afeRegisters, QList<qint16>{0x300});
    QVERIFY(w.ui->m_Tlog->toHtml().contains("#8b0000")); // darkred line messages
}

void TestScriptWindow::commentsOnly()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    folder.writeFile("notes.txt", "# one\n/ two\n");
    w.ui->m_EinputFile->setText(folder.filePath("notes.txt"));
    w.parse_input_file();
    QVERIFY(log_lines(w).last().endsWith("] No information could be extracted out of the selected Input file !"));
    QVERIFY(w.m_requests.isEmpty());
}

void TestScriptWindow::portOneAppliedAfterParse()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    w.m_automationMode = 1; // port 1 without the question
    w.ui->m_R_Port_1->setChecked(true);
    folder.writeFile("s.txt", "cr STAT 0 0\nafe korra 1\n");
    w.ui->m_EinputFile->setText(folder.filePath("s.txt"));
    w.parse_input_file();
    QCOMPARE(w.m_requests.size(), 4);
    quint16 state = 7;
    for (message *request : w.m_requests) {
        bool done = true;
        QCOMPARE(quint8(request->buildPacket(&done, &state).at(0)), quint8(0xC1));
    }
}

void TestScriptWindow::reparseReplacesEverything()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    folder.writeFile("a.txt", "afe korra all\n");
    folder.writeFile("b.txt", "cr STAT 0 0\n");
    w.ui->m_EinputFile->setText(folder.filePath("a.txt"));
    w.parse_input_file();
    QCOMPARE(w.m_requests.size(), 798);
    QCOMPARE(w.m_afeRegisters.size(), 266);
    w.ui->m_EinputFile->setText(folder.filePath("b.txt"));
    w.parse_input_file();
    QCOMPARE(w.m_requests.size(), 1);
    QVERIFY(w.m_afeRegisters.isEmpty());
}

void TestScriptWindow::afeOperandTextMode()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    QFile out(folder.filePath("customer.txt"));
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(w.parse_afe_read("0x1A", 4, ",7,", &out), QString("afe korra 0x1a ,7,\n"));
    QCOMPARE(w.parse_afe_read("all", 4, ",7,", &out), QString("afe korra all ,7,\n"));
    QVERIFY(w.m_requests.isEmpty());
    QCOMPARE(w.parse_afe_read("foo", 4, ",7,", &out), QString());
    QCOMPARE(log_lines(w).last(), QString("Line 4: Invalid value in AFE read !"));

    QFile in(folder.filePath("customer.txt"));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(w.parse_afe_read("0x300", 4, ",7,", &in), QString());
    QCOMPARE(w.m_requests.size(), 3);
    QCOMPARE(w.add_afe_read(0x1B, ",9,", true), QString("afe korra 0x1b ,9,\n"));
    QCOMPARE(w.m_requests.size(), 3);
}

void TestScriptWindow::browseWithoutSymbolFile()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    answerer.preferred = {QMessageBox::No, QMessageBox::Ok};
    folder.writeFile("pick.txt", "cr STAT 0 0\n");
    answerer.fileAnswer = folder.filePath("pick.txt");
    Vemu w;
    w.ui->m_EsymbolFile->clear();
    w.on_m_BinputFile_clicked();
    QCOMPARE(w.ui->m_EinputFile->text(), folder.filePath("pick.txt"));
    QVERIFY(answerer.seen.contains("Symbol File|Do you want to choose a symbol file ?"));
    QVERIFY(answerer.seen.contains("Warning|All the memory reads will be ignored !"));
    QCOMPARE(w.m_requests.size(), 1);
}

QTEST_MAIN(TestScriptWindow)
#include "tst_script_window.moc"
