// The window as a whole: construction order, the two editions, the log-line
// form and the session log written at destruction.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "session_log.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <qwt_plot.h>

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void editionLayout();
    void constructionState();
    void logLineForm();
    void sessionLogName_data();
    void sessionLogName();
    void sessionLogWrittenAtClose();
    void sessionLogFolderMissing();
    void recordsKeptAtClose();
    void archiverRunningAtClose();
};

void TestWindow::editionLayout()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    QTabWidget *tabs = w.ui->tabWidget;
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    QStringList items;
    for (int i = 0; i < w.ui->m_liveGraphsSelection->count(); ++i)
        items << w.ui->m_liveGraphsSelection->itemText(i);
    const QStringList customerTabs{"Test configuration", "Live graphs", "Live param 1",
                                   "Live param 2", "Configuration"};
    const QStringList allItems{"None", "SNR", "State", "CRCs", "Bitswaps", "Net Rates",
                               "Pilot Tone Constellation"};

    QCOMPARE(w.m_internalEdition, bool(VEMU_INTERNAL_EDITION));
    if (w.m_internalEdition) {
        QCOMPARE(titles, (QStringList{"Test configuration", "Live graphs", "DS Retransmission",
                                      "US Retransmission", "Live param 1", "Live param 2",
                                      "Configuration", "Last Exceptions", "Manage Files",
                                      "Analysis"}));
        QCOMPARE(items, allItems);
        QVERIFY(!w.ui->m_EsymbolFile->isHidden());
        QVERIFY(!w.ui->label_7->isHidden());
        QVERIFY(!w.ui->m_BHelp->isHidden());
        QCOMPARE(w.ui->gridLayout_3->indexOf(w.ui->m_EsymbolFile) >= 0, true);
        QCOMPARE(w.ui->m_Bstart->maximumWidth(), 335);
        QCOMPARE(w.ui->m_Eiteration->maximumWidth(), 250);
        QCOMPARE(w.minimumHeight(), 800);
        QCOMPARE(w.ui->m_LsoftwareVersion->text(), QString("Norvane Vemu Internal Version: 2.0.1.5"));
    } else {
        QCOMPARE(titles, customerTabs);
        QCOMPARE(items, allItems.mid(0, 6));
        QVERIFY(w.ui->m_EsymbolFile->isHidden());
        QVERIFY(w.ui->label_7->isHidden());
        QVERIFY(w.ui->m_BHelp->isHidden());
        QCOMPARE(w.ui->gridLayout_3->indexOf(w.ui->m_EsymbolFile), -1);
        QCOMPARE(w.ui->gridLayout_3->indexOf(w.ui->label_7), -1);
        QCOMPARE(w.ui->horizontalLayout->indexOf(w.ui->m_BHelp), -1);
        QCOMPARE(w.ui->m_Bstart->maximumWidth(), 300);
        QCOMPARE(w.ui->m_Eiteration->maximumWidth(), 300);
        QCOMPARE(w.minimumHeight(), 750);
        QCOMPARE(w.ui->m_LsoftwareVersion->text(), QString("Norvane Vemu Customer Version: 2.0.1.5"));
    }
}

void TestWindow::constructionState()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    QCOMPARE(w.windowTitle(), QString("Norvane Vemu"));
    QVERIFY(w.ui->m_logo->pixmap() && !w.ui->m_logo->pixmap()->isNull());
    QCOMPARE(w.ui->m_logo->pixmap()->size(), QSize(400, 110));
    QCOMPARE(w.ui->m_logo->styleSheet(), QString("QLabel { background-color : white}"));
    QCOMPARE(w.ui->tabWidget->currentIndex(), 0);
    QVERIFY(!w.ui->m_Bstart->isEnabled());
    QVERIFY(!w.ui->m_BResetGraph->isEnabled());
    QCOMPARE(w.m_port, quint16(2000));
    for (QTimer *timer : {w.m_guiTimer, w.m_pollingTimer, w.m_automationCloseTimer,
                          w.m_waitingTimer, w.m_startTimer, w.m_stopTimer}) {
        QVERIFY(timer->isSingleShot());
        QVERIFY(!timer->isActive());
        QCOMPARE(timer->parent(), &w);
    }
    QCOMPARE(w.m_socket->parent(), &w);
    QCOMPARE(w.m_compressor->parent(), &w);
    QVERIFY(!w.m_stopwatch->isValid());
    QCOMPARE(w.m_cpeState, quint16(8));
    QCOMPARE(w.m_previousCpeState, quint16(8));
    QCOMPARE(w.m_flushThreshold, 100000);
    QVERIFY(w.m_openingStateRead);
    QVERIFY(w.m_answerMatched);
    QVERIFY(w.m_detectionPending);
    QCOMPARE(w.m_cmvGroups.size(), 19);
    QCOMPARE(int(w.m_cmvGroups.value("DSL")), 34);
    // The plot sits under the selection row, across its three columns.
    int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
    const int at = w.ui->m_graphsLayout->indexOf(w.m_plot);
    QVERIFY(at >= 0);
    w.ui->m_graphsLayout->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(QList<int>({row, column, rowSpan, columnSpan}), QList<int>({1, 0, 1, 3}));
    QVERIFY(QDir("Results/Logs").exists());
}

void TestWindow::logLineForm()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    Vemu w;
    const QStringList lines = log_text(&w).split('\n');
    const QRegularExpression stamp(R"(^\[\d{4}\.\d{2}\.\d{2} / \d{2}:\d{2}:\d{2}\] )");
    QVERIFY2(QRegularExpression(stamp.pattern() + R"(Vemu Started\.$)").match(lines.first()).hasMatch(),
             qPrintable(lines.first()));

    w.log_line("chocolate", "Polling Time = 5s");
    const QString last = log_text(&w).split('\n').last();
    QVERIFY2(QRegularExpression(stamp.pattern() + R"(Polling Time = 5s$)").match(last).hasMatch(),
             qPrintable(last));
    QVERIFY(QRegularExpression(R"(^\[\d{4}\.\d{2}\.\d{2} / \d{2}:\d{2}:\d{2}\] $)")
                .match(Vemu::log_time_stamp()).hasMatch());
    // The colour reaches the view: chocolate is #d2691e.
    QVERIFY(w.ui->m_Tlog->toHtml().contains("#d2691e"));

    // Text from the post-processing tools is appended as it comes.
    w.writeLog("<font color=green>plain entry</font>");
    QCOMPARE(log_text(&w).split('\n').last(), QString("plain entry"));
}

void TestWindow::sessionLogName_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("name");
    QTest::newRow("start line") << "[2026.12.05 / 17:35:21] Vemu Started.\n[2026.12.05 / 17:35:22] x"
                                << "Results/Logs/Vemu_session_2026_12_05_17_35_21.html";
    QTest::newRow("replaced log") << "Invalid Automation value: set to 0\n[2026.12.05 / 17:35:22] Ini"
                                  << "Results/Logs/Vemu_session__.html";
    QTest::newRow("exactly 19") << "abcdefghijklmnopqrs" << "Results/Logs/Vemu_session_abcdefghijklmnopqrs.html";
    QTest::newRow("23 characters") << "[2026.12.05 / 17:35:21]" << "Results/Logs/Vemu_session__.html";
    QTest::newRow("empty") << "" << "Results/Logs/Vemu_session__.html";
}

void TestWindow::sessionLogName()
{
    QFETCH(QString, plain);
    QFETCH(QString, name);
    QCOMPARE(session_log_file_name(plain), name);
}

void TestWindow::sessionLogWrittenAtClose()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    QString stamp;
    {
        Vemu w;
        stamp = log_text(&w).left(22);
        w.log_line("red", "a line before closing");
    }
    stamp.remove('[').replace(" / ", "_").replace(':', '_').replace('.', '_');
    QFile log(folder.filePath("Results/Logs/Vemu_session_" + stamp + ".html"));
    QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
    const QString html = QString::fromUtf8(log.readAll());
    QVERIFY(html.contains("Vemu Started."));
    QVERIFY(html.contains("a line before closing"));
    QVERIFY(html.startsWith("<!DOCTYPE HTML"));
    QVERIFY(answerer.seen.isEmpty());
}

void TestWindow::sessionLogFolderMissing()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    {
        Vemu w;
        // A plain file where the folders should be: nothing can be created.
        QDir("Results/Logs").removeRecursively();
        QDir("Results").removeRecursively();
        folder.writeFile("Results", "not a folder");
    }
    QCOMPARE(answerer.seen, QStringList{"ERROR|Log file could not be created !"});
}

void TestWindow::recordsKeptAtClose()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    const QByteArray records = QByteArray::fromHex("0000070202000000020007");
    {
        Vemu w;
        w.ui->m_EoutputFile->setText("Results/close_part0.bin");
        w.m_iterationBuffer = records;
    }
    QFile part(folder.filePath("Results/close_part0.bin"));
    QVERIFY(part.open(QIODevice::ReadOnly));
    QCOMPARE(part.readAll(), records);
}

void TestWindow::archiverRunningAtClose()
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    QElapsedTimer clock;
    {
        auto *w = new Vemu;
        w->m_fileToCompress = folder.filePath("never_removed.bin");
        folder.writeFile("never_removed.bin", "data");
        w->m_periodActive = true;
        w->m_compressor->start("sleep", {"1"});
        QVERIFY(w->m_compressor->waitForStarted());
        clock.start();
        delete w;
    }
    // The window waited for the archiver instead of leaving it to report into
    // freed memory, and the part it did not see finish is still there.
    QVERIFY(clock.elapsed() >= 900);
    QVERIFY(QFile::exists(folder.filePath("never_removed.bin")));
}

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
