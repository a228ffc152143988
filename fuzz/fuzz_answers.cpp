// Hostile CPE: arbitrary bytes, cut at arbitrary points, go as answers into a fresh window
// over a loopback connection. Byte 0: bit 0 Korra (else legacy), bit 1 inside a period (else
// the polling outside a test), bit 2 a chunk that begins an answer takes bytes 6-11 of the
// request in flight (0-1 cleared) to pass the match, bit 3 the records are flushed at every
// answer, bits 4-7 the tab shown. Byte 1: the graph shown. Then chunks: a length byte L and L
// bytes; L = 0 gives up the fragment held, as the window's timer would.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace {

QTcpServer *g_server = nullptr;

int queued(QAbstractSocket *socket, unsigned long request)
{
    int count = 0;
    return ioctl(int(socket->socketDescriptor()), request, &count) == 0 ? count : 0;
}

// Runs the window until it has taken in every byte the CPE sent.
void settle(Vemu &w, QTcpSocket *cpe)
{
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents();
        cpe->readAll(); // the requests are not looked at
    } while ((cpe->bytesToWrite() > 0 || queued(cpe, SIOCOUTQNSD) > 0 || queued(w.m_socket, FIONREAD) > 0
              || w.m_socket->bytesAvailable() > 0 || w.m_receivePassQueued) && clock.elapsed() < 3000);
    // Outside exec() nothing else carries out a deleteLater().
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Gives the folder the window works in, empty when there is none.
QString set_up()
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>("fuzz_answers"), nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(argc, argv);
    set_platform_sleep_for_fuzzing([](int) {});
    // The window works in a folder of its own, with an archiver that does nothing.
    static QTemporaryDir folder;
    QDir::setCurrent(folder.path());
    const auto write_file = [](const char *name, const QByteArray &content) {
        QFile file(QString::fromLatin1(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    QDir().mkpath(QStringLiteral("7z"));
    QFile::link(QStringLiteral("/bin/true"), QStringLiteral("7z/7za"));
    write_file("script.txt",
               "cr INFO 54 0 4\ncr DSL 5 0 3\ncw DSL 5 0 0x1F\nmr 0x1000 3\nmrb 0x2001 5\nmrd 0x3000 66\n"
               "afe korra 0x300\nmw 0x100 1 0xABCD\nmwb 0x200 1 0x12\nmwd 0x300 1 0x12345678\n");
    // Parallel jobs each take the next free loopback address.
    g_server = new QTcpServer;
    for (int host = 93; host < 250 && !g_server->listen(QHostAddress(QStringLiteral("127.0.0.%1").arg(host)), 2000);)
        ++host;
    write_file("Vemu.ini", "[Settings]\ninput_file=script.txt\noutput_file=fuzz\nip_address="
                               + g_server->serverAddress().toString().toUtf8() + "\n");
    return g_server->isListening() ? folder.path() : QString();
}

void run(const uint8_t *data, size_t size)
{
    const bool korra = data[0] & 1;
    QDir(QStringLiteral("Results")).removeRecursively();
    Vemu w;
    w.on_m_Bconnect_clicked();
    QScopedPointer<QTcpSocket> cpe(g_server->waitForNewConnection(3000) ? g_server->nextPendingConnection() : nullptr);
    if (!cpe)
        return;
    cpe->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    settle(w, cpe.data()); // the platform query
    cpe->write(korra ? QByteArray::fromHex("00004010000A0002000000010007")
                     : QByteArray::fromHex("00010002000000000007").leftJustified(32, '\0'));
    settle(w, cpe.data());
    w.ui->tabWidget->setCurrentIndex((data[0] >> 4) % w.ui->tabWidget->count());
    w.ui->m_liveGraphsSelection->setCurrentIndex(data[1] % w.ui->m_liveGraphsSelection->count());
    w.m_flushThreshold = (data[0] & 8) ? 0 : w.m_flushThreshold;
    w.ui->m_EoutputFile->setText(QStringLiteral("Results/fuzz_part0.bin"));
    w.m_testRunning = data[0] & 2;
    w.m_testRunning ? w.polling_timer() : w.send_platform_state_request();
    settle(w, cpe.data());

    for (size_t at = 2; at < size && cpe->state() == QAbstractSocket::ConnectedState;) {
        QByteArray chunk(reinterpret_cast<const char *>(data + at + 1), int(qMin<size_t>(data[at], size - at - 1)));
        at += 1 + size_t(chunk.size());
        if (chunk.isEmpty() && w.m_fragmentTimer && w.m_fragmentTimer->isActive())
            w.fragment_timeout();
        const bool assist = (data[0] & 4) && korra && w.m_rxBuffer.isEmpty() && w.m_owedAnswerBytes == 0;
        for (int i = 0; assist && i < qMin(chunk.size(), 12); ++i)
            chunk[i] = i < 2 ? '\0' : i >= 6 && i < w.m_lastRequest.size() ? w.m_lastRequest.at(i) : chunk.at(i);
        cpe->write(chunk);
        settle(w, cpe.data());
    }
    // The rest of a fragment never comes: the window gives it up.
    if (w.m_fragmentTimer && w.m_fragmentTimer->isActive())
        w.fragment_timeout();
}

} // namespace

// Qt's platform plugin and fontconfig keep their caches until the process ends.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\nleak:libqoffscreen.so\nleak:QGuiApplicationPrivate::createPlatformIntegration\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // libFuzzer names its corpus and findings relative to where it started.
    const QString started = QDir::currentPath();
    static const QString folder = set_up();
    QDir::setCurrent(folder);
    if (size >= 2 && !folder.isEmpty())
        run(data, size);
    QDir::setCurrent(started);
    return 0;
}
