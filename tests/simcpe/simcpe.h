// Simulated CPE for tests and demos: a TCP modem that speaks the legacy or the
// Korra packet protocol on its own thread, so that it keeps its timing while the
// tool under test blocks the caller's thread.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

class QThread;
class SimCpeWorker;

struct SimRequest
{
    enum Kind { PlatformQuery, CmvRead, CmvWrite, MemoryRead, MemoryWrite, Unknown };

    int seq = 0;          // running number from 0, never reset
    int connection = 0;   // 1 for the first accepted connection, 2 for the next, ...
    qint64 elapsedMs = 0; // since the SimCpe was constructed
    QByteArray bytes;
    Kind kind = Unknown;
    bool korra = false;
    quint8 port = 0;      // Korra byte 0; 0 on the legacy platform
    quint8 group = 0;     // CMV group code
    quint32 address = 0;  // CMV address, or firmware byte address
    quint16 index = 0;    // CMV index
    quint16 count = 0;    // element count (1 for writes)
    quint8 width = 0;     // bytes per element: 2 for CMV, 1/2/4 for memory
    quint32 value = 0;    // writes: the value carried

    bool isCmvRead(quint8 g, quint32 a) const { return kind == CmvRead && group == g && address == a; }
    bool isStateRequest() const { return isCmvRead(2, 0) && index == 0; }
    bool isFirmwareRequest() const { return isCmvRead(3, 54) && index == 0; }
    static QString kindName(Kind kind);
    QString toString() const;
};

struct SimAnswer
{
    int requestSeq = -1;  // seq of the request answered
    int connection = 0;
    qint64 elapsedMs = 0; // when its last byte was written
    QByteArray bytes;
    bool wrong = false;
    bool error = false;
    bool delayed = false;
    bool split = false;
    bool merged = false;  // went out in one segment with the answer after it
};

// One step of the scripted line state. The step ends when durationMs has passed
// since it began (durationMs > 0) or when `requests` state requests (STAT 0
// index 0 reads) have been received in it (requests > 0), whichever comes
// first; with neither it lasts. The last step lasts unless the script loops.
struct StateStep
{
    quint16 state = 0;
    int durationMs = 0;
    int requests = 0;
};

using RequestFilter = std::function<bool(const SimRequest &)>;
// Rewrites the bytes of an answer before they go out.
using AnswerEdit = std::function<QByteArray(const QByteArray &)>;

class SimCpe : public QObject
{
    Q_OBJECT

public:
    enum Platform { Legacy, Korra };
    Q_ENUM(Platform)

    explicit SimCpe(Platform platform = Korra, QObject *parent = nullptr);
    ~SimCpe() override;

    // Connection. One client at a time: a new connection replaces the old one.
    bool start(const QHostAddress &address, quint16 port = 2000);
    void stop();
    QString errorString() const;
    bool isListening() const;
    void stopListening();    // connection attempts are refused; a connected client stays
    bool resumeListening();
    bool isClientConnected() const;
    int connectionCount() const;   // connections accepted since start()

    Platform platform() const;
    void setPlatform(Platform platform);   // takes effect at the next connection
    void setQueryReplySize(int bytes);     // Korra reply to the platform query, default 14

    // CMV variables: words addressed by index; words never set read as 0.
    void setCmv(quint8 group, quint16 address, const QVector<quint16> &words);
    void setCmvWord(quint8 group, quint16 address, quint16 index, quint16 value);
    void setCmv32(quint8 group, quint16 address, quint16 index, quint32 value); // low word at index
    QVector<quint16> cmv(quint8 group, quint16 address) const;
    quint16 cmvWord(quint8 group, quint16 address, quint16 index) const;

    // Firmware memory, bytes as they travel in answers; bytes never set read as 0.
    void setMemory(quint32 address, const QByteArray &bytes);
    void setMemory16(quint32 address, quint16 value);   // big-endian
    void setMemory32(quint32 address, quint32 value);   // low word first, each big-endian
    QByteArray memory(quint32 address, int length) const;
    quint32 memory32(quint32 address) const;

    // AFE mailbox: the register selected by the last write to the select word
    // answers reads of the data word.
    static constexpr quint32 AfeSelectAddress = 0x20C69C;
    static constexpr quint32 AfeDataAddress = 0x20C6A4;
    void setAfeRegister(quint32 reg, quint32 value);   // default 0xA5000000 | reg
    quint32 afeRegister(quint32 reg) const;
    quint32 afeSelected() const;

    // Payload of the INFO 54 answers; an empty array restores the platform default.
    void setFirmwareVersion(const QByteArray &bytes);
    QByteArray firmwareVersion() const;
    static QByteArray defaultFirmwareVersion(Platform platform);

    // Line state: word 0 of STAT 0. Default: 7 for ever.
    void setLineState(quint16 state);
    void setStateScript(const QList<StateStep> &steps, bool loop = false);
    quint16 lineState() const;
    int stateStep() const;   // index of the current step

    // Milliseconds on the clock of SimRequest::elapsedMs and SimAnswer::elapsedMs.
    qint64 elapsedMs() const;

    // Log and checks. clearLog() empties requests, answers and violations.
    QList<SimRequest> requests() const;
    QList<SimAnswer> answers() const;
    QStringList violations() const;
    void clearLog();
    int requestCount(SimRequest::Kind kind) const;
    int requestCount(const RequestFilter &filter) const;
    int answerCount() const;
    void setVerbose(bool verbose);   // prints every request and answer with qInfo

    // Waits process the caller's events, so a tool running in the caller's
    // thread goes on working meanwhile. Counts are of the current log.
    bool waitForRequests(int n, int timeoutMs, const RequestFilter &filter = {});
    bool waitForAnswers(int n, int timeoutMs);
    bool waitForConnections(int n, int timeoutMs);
    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs);

    // Faults. Each applies to the next `times` answers whose request passes the
    // filter (an empty filter passes all); times < 0 keeps it until clearFaults().
    // Wrong and ERROR answers never replace the reply to the platform query.
    void answerWrong(int times = 1, const RequestFilter &filter = {});
    void answerError(int times = 1, const RequestFilter &filter = {});
    void answerSlowly(int delayMs, int times = 1, const RequestFilter &filter = {});
    // The first splitAt bytes (default: half the answer) go out, the rest pauseMs later.
    void splitAnswers(int pauseMs, int splitAt = -1, int times = 1, const RequestFilter &filter = {});
    // The next answer (whose request passes the filter) is held back and
    // written in one segment with the one after it.
    void mergeNextTwoAnswers(const RequestFilter &filter = {});
    void staySilent(int times = 1, const RequestFilter &filter = {});
    // The answer goes out as `edit` makes it: a rest that never comes (cut
    // short), a header byte the device varies, a pad byte left out.
    void editAnswers(const AnswerEdit &edit, int times = 1, const RequestFilter &filter = {});
    void closeConnection();          // graceful close, the client sees the remote host close
    void closeAfterAnswers(int n);   // right after the n-th answer written from now on
    void clearFaults();

signals:
    // Emitted from the simulator's thread.
    void clientConnected();
    void clientDisconnected();
    void requestReceived(int seq);

public:
    struct Shared;

private:
    template <typename F> void runInSimThread(F &&function);

    std::unique_ptr<Shared> d;
    QThread *m_thread = nullptr;
    SimCpeWorker *m_worker = nullptr;
};
