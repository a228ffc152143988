// Hostile CPE: arbitrary bytes delivered as answers, cut at arbitrary points,
// into the window's real reception path over a loopback connection.
//
// Input layout:
//   byte 0  bit 0  Korra platform (else legacy)
//           bit 1  inside a period (a test running; else the outside polling)
//           bit 2  answer assist (Korra): a chunk that begins an answer gets
//                  the bytes that tie it to the request written last (0-1
//                  cleared, 6-11 copied), so that inputs get past the match
//                  and reach the decoders and the records
//           bit 3  the record buffer is flushed to the part file at every answer
//           bits 4-7 tab shown
//   byte 1  live graph shown (modulo the entries offered)
//   then chunks: one length byte L and L bytes; L = 0 makes the window give
//   up on the fragment it holds, as its fragment timer would. Each chunk is
//   written and taken in by the window before the next one goes out.
//
// The window's blocking waits are replaced by no wait at all. With
// FUZZ_ANSWERS_VERBOSE set, requests, chunks and the log of each input are
// printed (for reading a finding).

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "message.h"
#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace {

const char kScript[] = "cr INFO 54 0 4\n"
                       "cr DSL 5 0 3\n"
                       "cw DSL 5 0 0x1F\n"
                       "mr 0x1000 3\n"
                       "mrb 0x2001 5\n"
                       "mrd 0x3000 66\n"
                       "afe korra 0x300\n"
                       "mw 0x100 1 0xABCD\n"
                       "mwb 0x200 1 0x12\n"
                       "mwd 0x300 1 0x12345678\n";

struct Harness
{
    QApplication *app = nullptr;
    QTemporaryDir *folder = nullptr;
    Vemu *window = nullptr;
    QTcpServer *server = nullptr;
    QTcpSocket *client = nullptr;
    QByteArray requestStream;
    QByteArray lastRequest;
    int requestsSeen = 0;
};

Harness *g = nullptr;

void no_sleep(int) {}

int socket_fd_bytes(qintptr fd, unsigned long request)
{
    int count = 0;
    if (fd < 0 || ioctl(int(fd), request, &count) != 0)
        return 0;
    return count;
}

void take_requests();

// Runs the event loop until every byte written by the server has been taken
// in by the window and no receive pass is pending.
void settle()
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        // Bytes read in before the handler was connected raise no readyRead.
        take_requests();
        const bool serverQuiet = !g->client
                                 || (g->client->bytesToWrite() == 0
                                     && socket_fd_bytes(g->client->socketDescriptor(), SIOCOUTQNSD) == 0);
        QTcpSocket *link = g->window->m_socket;
        const bool windowQuiet = link->bytesAvailable() == 0 && link->bytesToWrite() == 0
                                 && socket_fd_bytes(link->socketDescriptor(), FIONREAD) == 0
                                 && socket_fd_bytes(link->socketDescriptor(), SIOCOUTQNSD) == 0
                                 && !g->window->m_receivePassQueued;
        const bool requestsTaken = !g->client
                                   || (g->client->bytesAvailable() == 0
                                       && socket_fd_bytes(g->client->socketDescriptor(), FIONREAD) == 0);
        if ((serverQuiet && windowQuiet && requestsTaken) || clock.elapsed() > 3000)
            break;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    // Outside exec() nothing would ever carry out a deleteLater(): the
    // legend's entries of every graph shown would pile up.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Cuts what the window wrote into request packets and keeps the last one.
void take_requests()
{
    if (!g->client)
        return;
    g->requestStream.append(g->client->readAll());
    for (;;) {
        int length = 32;
        if (g->window->m_korraPlatform && !g->window->m_detectionPending) {
            if (g->requestStream.size() < 12)
                break;
            const quint8 operation = quint8(g->requestStream.at(3));
            length = 12;
            if (operation == 0x40 || operation == 0xA0)
                length += 2 * quint8(g->requestStream.at(5));
        }
        if (g->requestStream.size() < length)
            break;
        g->lastRequest = g->requestStream.left(length);
        g->requestStream.remove(0, length);
        ++g->requestsSeen;
        if (qEnvironmentVariableIsSet("FUZZ_ANSWERS_VERBOSE"))
            fprintf(stderr, "request %s\n", g->lastRequest.toHex(' ').constData());
    }
}

bool link_up()
{
    return g->window->m_connected && g->window->m_socket->state() == QAbstractSocket::ConnectedState
           && g->client && g->client->state() == QAbstractSocket::ConnectedState;
}

void connect_window()
{
    Vemu *w = g->window;
    w->m_waitingTimer->stop();
    w->m_reconnecting = false;
    if (w->m_connected)
        w->on_m_Bconnect_clicked();
    if (g->client) {
        g->client->abort();
        g->client->deleteLater();
        g->client = nullptr;
    }
    w->on_m_Bconnect_clicked();
    QElapsedTimer clock;
    clock.start();
    while (!g->client && clock.elapsed() < 3000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (g->server->hasPendingConnections()) {
            g->client = g->server->nextPendingConnection();
            // Small segments held back for an acknowledgement would make
            // every settle wait for the delayed ACK.
            g->client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            w->m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QObject::connect(g->client, &QTcpSocket::readyRead, &take_requests);
        }
    }
    settle();
}

void set_up()
{
    static int argc = 1;
    static char name[] = "fuzz_answers";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    g->app = new QApplication(argc, argv);
    set_platform_sleep_for_fuzzing(&no_sleep);

    // Closed parts are handed to an archiver that does nothing: the archive
    // path is not under test here, and real archiving would dominate.
    QDir().mkpath(QStringLiteral("7z"));
    QFile archiver(QStringLiteral("7z/7za"));
    archiver.open(QIODevice::WriteOnly);
    archiver.write("#!/bin/sh\nexit 0\n");
    archiver.close();
    archiver.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile script(QStringLiteral("script.txt"));
    script.open(QIODevice::WriteOnly);
    script.write(kScript);
    script.close();

    g->server = new QTcpServer;
    QString address;
    // Parallel fuzzing jobs each take the next free address.
    for (int host = 93; host < 250 && !g->server->isListening(); ++host) {
        address = QStringLiteral("127.0.0.%1").arg(host);
        g->server->listen(QHostAddress(address), 2000);
    }
    if (!g->server->isListening()) {
        fprintf(stderr, "fuzz_answers: no loopback address free on port 2000\n");
        abort();
    }

    g->window = new Vemu;
    Vemu *w = g->window;
    w->ui->m_Eip->setText(address);
    w->ui->m_EinputFile->setText(QDir::current().filePath(QStringLiteral("script.txt")));
    w->parse_input_file();
    if (w->m_requests.isEmpty()) {
        fprintf(stderr, "fuzz_answers: the request script gave no requests\n");
        abort();
    }
    // A modal box would stop the run: report it and close it.
    auto *closer = new QTimer(g->app);
    QObject::connect(closer, &QTimer::timeout, [] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            fprintf(stderr, "fuzz_answers: modal box \"%s\" closed\n",
                    qPrintable(box->windowTitle()));
            box->close();
        }
    });
    closer->start(50);
    connect_window();
}

// Makes the window detect the wanted platform from a reply of the size that
// tells it.
void select_platform(bool korra)
{
    Vemu *w = g->window;
    if (!w->m_detectionPending && w->m_korraPlatform == korra)
        return;
    for (int attempt = 0; attempt < 3; ++attempt) {
        w->m_testRunning = false;
        w->m_periodActive = false;
        w->m_detectionPending = true;
        g->requestStream.clear();
        QByteArray reply;
        if (korra) {
            reply = QByteArray::fromHex("00004010000A0002000000010007");
        } else {
            reply = QByteArray::fromHex("00010002000000000007");
            reply = reply.leftJustified(32, '\0');
        }
        g->client->write(reply);
        g->client->flush();
        settle();
        g->requestStream.clear();
        if (!w->m_detectionPending && w->m_korraPlatform == korra)
            return;
    }
}

// Everything one input may have changed goes back, except the request list.
void reset_window()
{
    Vemu *w = g->window;
    w->m_testRunning = false;
    w->m_periodActive = false;
    w->m_awaitingFirstPeriod = false;
    for (QTimer *timer : {w->m_guiTimer, w->m_pollingTimer, w->m_automationCloseTimer,
                          w->m_waitingTimer, w->m_startTimer, w->m_stopTimer})
        timer->stop();
    if (w->m_fragmentTimer)
        w->m_fragmentTimer->stop();
    w->m_rxBuffer.clear();
    w->m_answer.clear();
    w->m_answerRead = 0;
    w->m_answerArrivalMs = -1;
    w->m_owedAnswerBytes = 0;
    w->m_iterationBuffer.clear();
    w->m_partBuffer.clear();
    w->m_circularBufferA.clear();
    w->m_circularBufferB.clear();
    w->m_requestPayload.clear();
    w->m_lastRequest.clear();
    w->m_archiveQueue.clear();
    w->m_archivedParts.clear();
    w->m_graphData->reset();
    w->ui->m_Tlog->clear();
    w->m_requestIndex = 0;
    w->m_afeIndex = 0;
    w->m_iteration = 0;
    w->m_partNumber = 0;
    w->m_cpeState = 8;
    w->m_previousCpeState = 8;
    w->m_wrongAnswers = 0;
    w->m_answersSinceState = 0;
    w->m_requestDone = true;
    w->m_stateAnswer = false;
    w->m_answerMatched = true;
    w->m_errorAnswer = false;
    w->m_openingStateRead = true;
    w->m_failAtListStart = false;
    w->m_linkDropped = false;
    w->m_partFull = false;
    w->m_showtimeFlag = false;
    w->m_circularArmed = false;
    w->m_firstBlockInA = false;
    w->m_resumeAfterReconnect = false;
    w->m_flushThreshold = 100000;
    for (message *request : qAsConst(w->m_requests))
        request->reset_progress();
    QDir results(QStringLiteral("Results"));
    if (results.exists())
        results.removeRecursively();
}

void give_up_fragment()
{
    Vemu *w = g->window;
    if (w->m_fragmentTimer && w->m_fragmentTimer->isActive()) {
        w->m_fragmentTimer->stop();
        w->fragment_timeout();
        settle();
    }
}

// The window keeps its results below the working folder; libFuzzer keeps its
// corpus and findings relative to the folder it was started in.
struct InFuzzFolder
{
    QString previous = QDir::currentPath();
    InFuzzFolder() { QDir::setCurrent(g->folder->path()); }
    ~InFuzzFolder() { QDir::setCurrent(previous); }
};

int run_one(const uint8_t *data, size_t size);

} // namespace

// Qt's platform plugin and fontconfig keep their caches until the process
// ends; they are not leaks of the reception path.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libqoffscreen.so\n"
           "leak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString started = QDir::currentPath();
    if (!g) {
        g = new Harness;
        g->folder = new QTemporaryDir;
        QDir::setCurrent(g->folder->path());
        set_up();
        QDir::setCurrent(started);
    }
    InFuzzFolder inFolder;
    return run_one(data, size);
}

namespace {

int run_one(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    if (!link_up())
        connect_window();
    if (!link_up())
        return 0;

    const uint8_t flags = data[0];
    const bool korra = flags & 1;
    const bool inPeriod = flags & 2;
    const bool assist = flags & 4;
    Vemu *w = g->window;

    reset_window();
    select_platform(korra);
    reset_window();
    if (w->ui->tabWidget->count() > 0)
        w->ui->tabWidget->setCurrentIndex((flags >> 4) % w->ui->tabWidget->count());
    if (w->ui->m_liveGraphsSelection->count() > 0)
        w->ui->m_liveGraphsSelection->setCurrentIndex(data[1] % w->ui->m_liveGraphsSelection->count());
    if (flags & 8)
        w->m_flushThreshold = 0;
    w->ui->m_EoutputFile->setText(QDir::current().filePath(QStringLiteral("Results/fuzz_part0.bin")));
    QDir().mkpath(QStringLiteral("Results"));
    settle();

    if (inPeriod) {
        w->m_testRunning = true;
        w->polling_timer();
    } else {
        w->send_platform_state_request();
    }
    settle();

    size_t at = 2;
    while (at < size && link_up()) {
        const size_t length = data[at++];
        if (length == 0) {
            give_up_fragment();
            continue;
        }
        QByteArray chunk(reinterpret_cast<const char *>(data + at), int(qMin(length, size - at)));
        at += size_t(chunk.size());
        // A chunk that continues a held fragment is not a new answer.
        if (assist && korra && w->m_rxBuffer.isEmpty() && w->m_owedAnswerBytes == 0) {
            for (int i = 0; i < chunk.size() && i < 12; ++i) {
                if (i < 2)
                    chunk[i] = '\0';
                else if (i >= 6 && i < g->lastRequest.size())
                    chunk[i] = g->lastRequest.at(i);
            }
        }
        if (qEnvironmentVariableIsSet("FUZZ_ANSWERS_VERBOSE"))
            fprintf(stderr, "answer %s\n", chunk.toHex(' ').constData());
        g->client->write(chunk);
        g->client->flush();
        settle();
    }
    // The rest of a fragment never comes: the window gives it up.
    for (int i = 0; i < 4 && !w->m_rxBuffer.isEmpty(); ++i)
        give_up_fragment();

    if (qEnvironmentVariableIsSet("FUZZ_ANSWERS_VERBOSE")) {
        fprintf(stderr, "requests %d, record bytes %d, period %d, log:\n%s\n", g->requestsSeen,
                w->m_iterationBuffer.size(), w->m_iteration,
                qPrintable(w->ui->m_Tlog->toPlainText()));
    }
    reset_window();
    settle();
    return 0;
}

} // namespace
