#include "simcpe.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QHash>
#include <QMetaObject>
#include <QRecursiveMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

namespace {

const int LegacyFrameSize = 32;
const int KorraHeaderSize = 12;
const int LegacyHeaderSize = 8;

QByteArray platformQuery()
{
    QByteArray query(32, '\0');
    query[0] = char(0xC0);
    query[2] = char(0x40);
    query[5] = char(0x0A);
    query[7] = char(0x02);
    query[11] = char(0x01);
    return query;
}

quint8 byteAt(const QByteArray &bytes, int i)
{
    return i < bytes.size() ? quint8(bytes[i]) : 0;
}

quint16 be16(const QByteArray &bytes, int i)
{
    return quint16(byteAt(bytes, i) << 8 | byteAt(bytes, i + 1));
}

void appendBe16(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

quint32 cmvKey(quint8 group, quint16 address)
{
    return quint32(group) << 16 | address;
}

QString hexBytes(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

QString hex2(quint32 value)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

int memoryWidth(quint8 code, bool korra, bool *known)
{
    *known = true;
    if (korra) {
        if (code == 0x00) return 1;
        if (code == 0x40) return 2;
        if (code == 0x80) return 4;
    } else {
        if (code == 0x40) return 1;
        if (code == 0x80) return 4;
        if (code == 0x00) return 2;
    }
    *known = false;
    return 2;
}

void checkZeros(const QByteArray &p, int from, QStringList &problems)
{
    for (int i = from; i < p.size(); ++i) {
        if (p[i] != '\0') {
            problems << QStringLiteral("byte %1 is %2 (0 expected)").arg(i).arg(hex2(quint8(p[i])));
            return;
        }
    }
}

SimRequest decodeQuery(const QByteArray &p, bool korra, QStringList &problems)
{
    SimRequest r;
    r.bytes = p;
    r.korra = korra;
    r.kind = SimRequest::PlatformQuery;
    r.port = korra ? byteAt(p, 0) : 0;
    r.group = 2;
    r.count = 1;
    r.width = 2;
    if (p != platformQuery())
        problems << QStringLiteral("first packet of the connection is not the platform query");
    return r;
}

SimRequest decodeKorra(const QByteArray &p, QStringList &problems)
{
    SimRequest r;
    r.bytes = p;
    r.korra = true;
    r.port = byteAt(p, 0);
    r.count = be16(p, 10);
    const quint8 b2 = byteAt(p, 2), b5 = byteAt(p, 5), b6 = byteAt(p, 6), b7 = byteAt(p, 7);
    if (r.port != 0xC0 && r.port != 0xC1)
        problems << QStringLiteral("port byte %1 is neither 0xC0 nor 0xC1").arg(hex2(r.port));
    if (byteAt(p, 1) != 0)
        problems << QStringLiteral("byte 1 is %1 (0 expected)").arg(hex2(byteAt(p, 1)));
    if (byteAt(p, 4) != 0)
        problems << QStringLiteral("byte 4 is %1 (0 expected)").arg(hex2(byteAt(p, 4)));

    switch (byteAt(p, 3)) {
    case 0x00: r.kind = SimRequest::CmvRead; break;
    case 0x40: r.kind = SimRequest::CmvWrite; break;
    case 0x20: r.kind = SimRequest::MemoryRead; break;
    case 0xA0: r.kind = SimRequest::MemoryWrite; break;
    default:
        problems << QStringLiteral("unknown operation byte %1").arg(hex2(byteAt(p, 3)));
        return r;
    }
    const bool cmv = r.kind == SimRequest::CmvRead || r.kind == SimRequest::CmvWrite;
    const bool write = r.kind == SimRequest::CmvWrite || r.kind == SimRequest::MemoryWrite;

    if (cmv) {
        r.group = b7;
        r.address = b6;
        r.index = be16(p, 8);
        r.width = 2;
        if (b2 != 0x40)
            problems << QStringLiteral("element size code %1 in a CMV request (0x40 expected)").arg(hex2(b2));
        if (b7 > 0x3F)
            problems << QStringLiteral("group byte %1 above 0x3F").arg(hex2(b7));
    } else {
        bool known;
        r.width = quint8(memoryWidth(b2, true, &known));
        if (!known)
            problems << QStringLiteral("unknown element size code %1").arg(hex2(b2));
        r.address = quint32(b7) << 16 | quint32(byteAt(p, 8)) << 8 | byteAt(p, 9);
        if (b6 != 0)
            problems << QStringLiteral("byte 6 is %1 in a memory request (0 expected)").arg(hex2(b6));
        if (b7 > 0x3F)
            problems << QStringLiteral("address byte 7 %1 above 0x3F").arg(hex2(b7));
        if (r.address % r.width != 0)
            problems << QStringLiteral("address 0x%1 not aligned to %2-byte elements").arg(r.address, 0, 16).arg(r.width);
    }

    if (!write) {
        if (b5 != 0)
            problems << QStringLiteral("byte 5 is %1 in a read (0 expected)").arg(hex2(b5));
        const int limit = cmv ? 128 : 256 / r.width;
        if (r.count > limit)
            problems << QStringLiteral("count %1 above the chunk limit %2").arg(r.count).arg(limit);
        return r;
    }

    const int words = (!cmv && r.width == 4) ? 2 : 1;
    if (b5 != words)
        problems << QStringLiteral("byte 5 is %1, a %2 write carries %3 payload word(s)")
                        .arg(b5).arg(cmv ? QStringLiteral("CMV") : QStringLiteral("%1-bit").arg(r.width * 8)).arg(words);
    if (r.count != 1)
        problems << QStringLiteral("write count %1 (1 expected)").arg(r.count);
    if (r.width == 1) {
        if (byteAt(p, 12) != 0)
            problems << QStringLiteral("byte 12 of an 8-bit write is %1 (0 expected)").arg(hex2(byteAt(p, 12)));
        r.value = byteAt(p, 13);
    } else if (r.width == 4 && !cmv) {
        r.value = be16(p, 12) | quint32(be16(p, 14)) << 16;
    } else {
        r.value = be16(p, 12);
    }
    return r;
}

SimRequest decodeLegacy(const QByteArray &p, QStringList &problems)
{
    SimRequest r;
    r.bytes = p;
    r.korra = false;
    const quint8 b0 = byteAt(p, 0), b1 = byteAt(p, 1), b3 = byteAt(p, 3);
    r.count = b1 & 0x0F;
    switch (b1 >> 4) {
    case 0x0:
        r.kind = SimRequest::CmvRead;
        break;
    case 0x4:
        r.kind = SimRequest::CmvWrite;
        break;
    case 0x2:
        r.kind = SimRequest::MemoryRead;
        break;
    default:
        problems << QStringLiteral("unknown operation nibble %1").arg(b1 >> 4);
        return r;
    }

    if (r.kind == SimRequest::MemoryRead) {
        bool known;
        r.width = quint8(memoryWidth(b0, false, &known));
        if (!known)
            problems << QStringLiteral("unknown element size code %1").arg(hex2(b0));
        r.address = quint32(byteAt(p, 5) & 0x3F) << 16 | quint32(byteAt(p, 6)) << 8 | byteAt(p, 7);
        for (int i : {2, 3, 4})
            if (byteAt(p, i) != 0)
                problems << QStringLiteral("byte %1 is %2 in a memory read (0 expected)").arg(i).arg(hex2(byteAt(p, i)));
        if (byteAt(p, 5) > 0x3F)
            problems << QStringLiteral("address byte 5 %1 above 0x3F").arg(hex2(byteAt(p, 5)));
        const int limit = r.width == 1 ? 14 : r.width == 4 ? 6 : 12;
        if (r.count > limit)
            problems << QStringLiteral("count %1 above the chunk limit %2").arg(r.count).arg(limit);
        if (r.address % r.width != 0)
            problems << QStringLiteral("address 0x%1 not aligned to %2-byte elements").arg(r.address, 0, 16).arg(r.width);
        checkZeros(p, 8, problems);
        return r;
    }

    r.group = b3;
    r.address = be16(p, 4);
    r.index = be16(p, 6);
    r.width = 2;
    if (b0 != 0)
        problems << QStringLiteral("byte 0 is %1 in a CMV request (0 expected)").arg(hex2(b0));
    if (byteAt(p, 2) != 0)
        problems << QStringLiteral("byte 2 is %1 (0 expected)").arg(hex2(byteAt(p, 2)));
    if (r.kind == SimRequest::CmvRead) {
        if (b3 > 0x7F)
            problems << QStringLiteral("group byte %1 above 0x7F in a read").arg(hex2(b3));
        if (r.count > 12)
            problems << QStringLiteral("count %1 above the chunk limit 12").arg(r.count);
        checkZeros(p, 8, problems);
    } else {
        if (r.count != 1)
            problems << QStringLiteral("write count %1 (1 expected)").arg(r.count);
        r.value = be16(p, 8);
        checkZeros(p, 10, problems);
    }
    return r;
}

} // namespace

QString SimRequest::kindName(Kind kind)
{
    switch (kind) {
    case PlatformQuery: return QStringLiteral("platform query");
    case CmvRead: return QStringLiteral("CMV read");
    case CmvWrite: return QStringLiteral("CMV write");
    case MemoryRead: return QStringLiteral("memory read");
    case MemoryWrite: return QStringLiteral("memory write");
    case Unknown: break;
    }
    return QStringLiteral("unknown request");
}

QString SimRequest::toString() const
{
    QString text = QStringLiteral("#%1 %2 %3").arg(seq).arg(korra ? QStringLiteral("Korra") : QStringLiteral("legacy")).arg(kindName(kind));
    switch (kind) {
    case CmvRead:
    case CmvWrite:
        text += QStringLiteral(" group %1 address %2 index %3").arg(group).arg(address).arg(index);
        break;
    case MemoryRead:
    case MemoryWrite:
        text += QStringLiteral(" %1-bit at 0x%2").arg(width * 8).arg(address, 6, 16, QLatin1Char('0'));
        break;
    default:
        break;
    }
    if (kind == CmvWrite || kind == MemoryWrite)
        text += QStringLiteral(" value 0x%1").arg(value, 0, 16);
    else if (kind != Unknown)
        text += QStringLiteral(" count %1").arg(count);
    if (korra)
        text += QStringLiteral(" port 0x%1").arg(port, 2, 16, QLatin1Char('0'));
    return text + QStringLiteral(": ") + hexBytes(bytes);
}

// State shared by the test thread and the simulator thread; every access holds
// the mutex. It is recursive so that a request filter may read the simulator.
struct SimCpe::Shared
{
    struct Fault
    {
        int times = 1;
        int param = 0;
        int param2 = 0;
        RequestFilter filter;
        AnswerEdit edit;
    };

    mutable QRecursiveMutex mutex;
    QElapsedTimer clock;

    Platform platform = Korra;
    int queryReplySize = 14;
    QHash<quint32, QVector<quint16>> cmv;
    QHash<quint32, quint8> memory;
    QHash<quint32, quint32> afe;
    QByteArray firmware;

    QList<StateStep> steps{StateStep{7, 0, 0}};
    bool loop = false;
    int step = 0;
    qint64 stepStart = 0;
    int stepRequests = 0;

    QList<SimRequest> requests;
    QList<SimAnswer> answers;
    QStringList violations;
    int nextSeq = 0;
    int connections = 0;
    bool clientConnected = false;
    bool listening = false;
    QHostAddress address;
    quint16 port = 2000;
    QString error;
    bool verbose = false;

    QList<Fault> wrong, errorAnswers, slow, split, silent, edits;
    bool mergeNext = false;
    RequestFilter mergeFilter;
    int closeAfter = -1;

    QByteArray effectiveFirmware() const
    {
        return firmware.isEmpty() ? SimCpe::defaultFirmwareVersion(platform) : firmware;
    }

    quint16 currentState(qint64 now)
    {
        if (steps.isEmpty())
            return 0;
        // Bounded so that a script of short steps left idle for long cannot hang.
        for (int guard = 0; guard < 1000000; ++guard) {
            const StateStep &s = steps[step];
            const bool last = step == steps.size() - 1;
            if (s.durationMs <= 0 || (last && !loop) || now - stepStart < s.durationMs)
                break;
            stepStart += s.durationMs;
            step = last ? 0 : step + 1;
            stepRequests = 0;
        }
        return steps[step].state;
    }

    void countStateRequest(qint64 now)
    {
        currentState(now);
        if (steps.isEmpty())
            return;
        const StateStep &s = steps[step];
        const bool last = step == steps.size() - 1;
        if (s.requests <= 0 || ++stepRequests < s.requests || (last && !loop))
            return;
        step = last ? 0 : step + 1;
        stepStart = now;
        stepRequests = 0;
    }

    quint32 rawWord32(quint32 address) const
    {
        const quint32 low = quint32(memory.value(address)) << 8 | memory.value(address + 1);
        const quint32 high = quint32(memory.value(address + 2)) << 8 | memory.value(address + 3);
        return low | high << 16;
    }

    quint32 afeValue(quint32 reg) const { return afe.value(reg, 0xA5000000u | reg); }

    quint8 memoryByte(quint32 address) const
    {
        if (address >= SimCpe::AfeDataAddress && address < SimCpe::AfeDataAddress + 4) {
            const quint32 v = afeValue(rawWord32(SimCpe::AfeSelectAddress));
            const quint8 layout[4] = {quint8(v >> 8), quint8(v), quint8(v >> 24), quint8(v >> 16)};
            return layout[address - SimCpe::AfeDataAddress];
        }
        return memory.value(address, 0);
    }

    quint16 cmvWord(quint8 group, quint16 address, quint32 index, qint64 now)
    {
        if (group == 2 && address == 0 && index == 0)
            return currentState(now);
        if (group == 3 && address == 54) {
            const QByteArray fw = effectiveFirmware();
            return be16(fw, int(index * 2));
        }
        return cmv.value(cmvKey(group, address)).value(int(index), 0);
    }

    bool takeFault(QList<Fault> &list, const SimRequest &request, Fault *taken)
    {
        for (int i = 0; i < list.size(); ++i) {
            if (list[i].filter && !list[i].filter(request))
                continue;
            *taken = list[i];
            if (list[i].times > 0 && --list[i].times == 0)
                list.removeAt(i);
            return true;
        }
        return false;
    }
};

namespace {

QByteArray readPayload(SimCpe::Shared &s, const SimRequest &r, qint64 now)
{
    QByteArray payload;
    if (r.kind == SimRequest::CmvRead) {
        for (int i = 0; i < r.count; ++i)
            appendBe16(payload, s.cmvWord(r.group, quint16(r.address), quint32(r.index) + i, now));
        return payload;
    }
    const int length = r.count * r.width;
    for (int i = 0; i < length; ++i)
        payload.append(char(s.memoryByte(r.address + quint32(i))));
    // An odd trailing byte travels as the low half of a 16-bit word; the tool
    // takes the byte after the counted payload as its last byte.
    if (r.width == 1 && (r.count & 1)) {
        const char last = payload.at(length - 1);
        payload[length - 1] = '\0';
        payload.append(last);
    }
    return payload;
}

void applyWrite(SimCpe::Shared &s, const SimRequest &r)
{
    if (r.kind == SimRequest::CmvWrite) {
        QVector<quint16> &words = s.cmv[cmvKey(r.group, quint16(r.address))];
        if (words.size() <= r.index)
            words.resize(r.index + 1);
        words[r.index] = quint16(r.value);
    } else if (r.kind == SimRequest::MemoryWrite) {
        if (r.width == 1) {
            s.memory[r.address] = quint8(r.value);
        } else if (r.width == 4) {
            for (int i = 0; i < 4; ++i)
                s.memory[r.address + quint32(i)] = byteAt(r.bytes, 12 + i);
        } else {
            s.memory[r.address] = quint8(r.value >> 8);
            s.memory[r.address + 1] = quint8(r.value);
        }
    }
}

QByteArray korraError(const QByteArray &request)
{
    QByteArray h(KorraHeaderSize, '\0');
    h[1] = char(0x80);
    h[2] = char(byteAt(request, 2) & 0xF0);
    h[3] = char(0xF0);
    for (int i = 5; i < KorraHeaderSize; ++i)
        h[i] = char(byteAt(request, i));
    return h;
}

QByteArray legacyError()
{
    QByteArray frame(LegacyFrameSize, '\0');
    frame[1] = char(0x80);
    frame[3] = char(0xF0);
    return frame;
}

QByteArray korraAnswer(SimCpe::Shared &s, const SimRequest &r, qint64 now, bool wrong)
{
    const QByteArray &q = r.bytes;
    QByteArray h(KorraHeaderSize, '\0');
    for (int i = 5; i < KorraHeaderSize; ++i)
        h[i] = char(byteAt(q, i));
    QByteArray payload;
    switch (r.kind) {
    case SimRequest::CmvRead:
        h[2] = char(0x40);
        h[3] = char(0x10);
        h[5] = char(r.count & 0xFF);
        payload = readPayload(s, r, now);
        break;
    case SimRequest::MemoryRead:
        h[2] = char(byteAt(q, 2));
        h[3] = char(0x30);
        h[5] = char(r.count & 0xFF);
        payload = readPayload(s, r, now);
        break;
    case SimRequest::CmvWrite:
        h[2] = char(0x40);
        h[3] = char(0x50);
        break;
    case SimRequest::MemoryWrite:
        h[2] = char(byteAt(q, 2));
        h[3] = char(0xB0);
        break;
    default:
        return korraError(q);
    }
    if (wrong) {
        if (r.kind == SimRequest::CmvRead || r.kind == SimRequest::CmvWrite)
            h[6] = char(quint8(h[6]) + 1);
        else
            h[9] = char(quint8(h[9]) + 4);
    }
    return h + payload;
}

QByteArray legacyAnswer(SimCpe::Shared &s, const SimRequest &r, qint64 now, bool wrong)
{
    QByteArray frame(LegacyFrameSize, '\0');
    for (int i = 0; i < LegacyHeaderSize; ++i)
        frame[i] = r.bytes[i];
    int operation;
    switch (r.kind) {
    case SimRequest::CmvRead: operation = 0x0; break;
    case SimRequest::MemoryRead: operation = 0x3; break;
    case SimRequest::CmvWrite: operation = 0x5; break;
    default: return legacyError();
    }
    frame[1] = char(operation << 4 | (byteAt(r.bytes, 1) & 0x0F));
    if (r.kind != SimRequest::CmvWrite) {
        const QByteArray payload = readPayload(s, r, now).left(LegacyFrameSize - LegacyHeaderSize);
        frame.replace(LegacyHeaderSize, payload.size(), payload);
    }
    if (wrong) {
        if (r.kind == SimRequest::MemoryRead)
            frame[7] = char(quint8(frame[7]) + 4);
        else
            frame[5] = char(quint8(frame[5]) + 1);
    }
    return frame;
}

QByteArray queryReply(SimCpe::Shared &s, bool korra, qint64 now)
{
    const quint16 state = s.currentState(now);
    QByteArray reply;
    if (korra) {
        reply = QByteArray::fromHex("00004010000A000200000001");
        appendBe16(reply, state);
        return reply.leftJustified(qMax(1, s.queryReplySize), '\0', true);
    }
    reply = QByteArray::fromHex("0001000200000000");
    appendBe16(reply, state);
    return reply.leftJustified(LegacyFrameSize, '\0', true);
}

} // namespace

// Lives in the simulator thread, together with the server and the client socket.
class SimCpeWorker : public QObject
{
public:
    SimCpeWorker(SimCpe *owner, SimCpe::Shared *shared)
        : m_owner(owner), m_s(shared), m_server(new QTcpServer(this)), m_pumpTimer(new QTimer(this))
    {
        m_pumpTimer->setSingleShot(true);
        m_pumpTimer->setTimerType(Qt::PreciseTimer);
        connect(m_pumpTimer, &QTimer::timeout, this, &SimCpeWorker::pump);
        connect(m_server, &QTcpServer::newConnection, this, &SimCpeWorker::acceptConnections);
    }

    bool listen()
    {
        QMutexLocker lock(&m_s->mutex);
        const bool ok = m_server->isListening() || m_server->listen(m_s->address, m_s->port);
        m_s->listening = ok;
        if (!ok)
            m_s->error = m_server->errorString();
        return ok;
    }

    void stopListening()
    {
        m_server->close();
        QMutexLocker lock(&m_s->mutex);
        m_s->listening = false;
    }

    void closeClient()
    {
        m_queue.clear();
        m_held.clear();
        m_heldAnswers.clear();
        m_pumpTimer->stop();
        if (m_client) {
            m_closing = true;
            m_client->disconnectFromHost();
        }
    }

    void shutdown()
    {
        m_pumpTimer->stop();
        if (m_client)
            dropClient(true);
        stopListening();
    }

private:
    struct Outgoing
    {
        QByteArray bytes;
        qint64 due = 0;
        QList<SimAnswer> completes;
    };

    void acceptConnections()
    {
        while (m_server->hasPendingConnections()) {
            QTcpSocket *socket = m_server->nextPendingConnection();
            if (m_client)
                dropClient(true);
            m_client = socket;
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            connect(socket, &QTcpSocket::readyRead, this, &SimCpeWorker::readRequests);
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                if (socket == m_client)
                    dropClient(false);
            });
            m_rx.clear();
            m_awaitingQuery = true;
            m_closing = false;
            {
                QMutexLocker lock(&m_s->mutex);
                m_connection = ++m_s->connections;
                m_s->clientConnected = true;
                m_korra = m_s->platform == SimCpe::Korra;
                if (m_s->verbose)
                    qInfo().noquote() << stamp() << "client connected from" << socket->peerAddress().toString();
            }
            emit m_owner->clientConnected();
        }
    }

    void dropClient(bool abort)
    {
        QTcpSocket *socket = m_client;
        m_client = nullptr;
        socket->disconnect(this);
        if (abort)
            socket->abort();
        socket->deleteLater();
        m_queue.clear();
        m_held.clear();
        m_heldAnswers.clear();
        m_pumpTimer->stop();
        {
            QMutexLocker lock(&m_s->mutex);
            if (!m_rx.isEmpty() && !m_closing)
                m_s->violations << QStringLiteral("connection %1 closed with %2 byte(s) of an incomplete request: %3")
                                       .arg(m_connection).arg(m_rx.size()).arg(hexBytes(m_rx));
            m_s->clientConnected = false;
            if (m_s->verbose)
                qInfo().noquote() << stamp() << "client disconnected";
        }
        m_rx.clear();
        emit m_owner->clientDisconnected();
    }

    QString stamp() const
    {
        return QStringLiteral("[%1]").arg(m_s->clock.elapsed() / 1000.0, 0, 'f', 3);
    }

    void readRequests()
    {
        if (!m_client)
            return;
        m_rx += m_client->readAll();
        if (m_client->state() != QAbstractSocket::ConnectedState)
            return;
        for (;;) {
            int length = LegacyFrameSize;
            if (!m_awaitingQuery && m_korra) {
                if (m_rx.size() < KorraHeaderSize)
                    break;
                const quint8 op = byteAt(m_rx, 3);
                length = KorraHeaderSize + ((op == 0x40 || op == 0xA0) ? 2 * byteAt(m_rx, 5) : 0);
            }
            if (m_rx.size() < length)
                break;
            const QByteArray packet = m_rx.left(length);
            m_rx.remove(0, length);
            const bool query = m_awaitingQuery;
            m_awaitingQuery = false;
            handlePacket(packet, query);
        }
        pump();
    }

    void handlePacket(const QByteArray &packet, bool query)
    {
        QStringList problems;
        SimRequest r = query ? decodeQuery(packet, m_korra, problems)
                             : m_korra ? decodeKorra(packet, problems) : decodeLegacy(packet, problems);
        int seq;
        {
            QMutexLocker lock(&m_s->mutex);
            const qint64 now = m_s->clock.elapsed();
            seq = r.seq = m_s->nextSeq++;
            r.connection = m_connection;
            r.elapsedMs = now;
            for (const QString &problem : problems)
                m_s->violations << QStringLiteral("#%1 %2: %3 [%4]").arg(seq).arg(SimRequest::kindName(r.kind), problem, hexBytes(packet));
            m_s->requests << r;
            if (m_s->verbose) {
                qInfo().noquote() << stamp() << "request" << r.toString();
                for (const QString &problem : problems)
                    qInfo().noquote() << stamp() << "  bad request:" << problem;
            }

            applyWrite(*m_s, r);
            SimCpe::Shared::Fault fault;
            const bool silent = m_s->takeFault(m_s->silent, r, &fault);
            if (!silent)
                buildAnswer(r, now);
            if (r.isStateRequest())
                m_s->countStateRequest(now);
        }
        emit m_owner->requestReceived(seq);
    }

    // Called with the mutex held.
    void buildAnswer(const SimRequest &r, qint64 now)
    {
        SimCpe::Shared &s = *m_s;
        SimCpe::Shared::Fault fault;
        SimAnswer answer;
        answer.requestSeq = r.seq;
        answer.connection = m_connection;
        if (r.kind == SimRequest::PlatformQuery) {
            answer.bytes = queryReply(s, m_korra, now);
        } else if (r.kind == SimRequest::Unknown) {
            answer.error = true;
            answer.bytes = m_korra ? korraError(r.bytes) : legacyError();
        } else if (s.takeFault(s.errorAnswers, r, &fault)) {
            answer.error = true;
            answer.bytes = m_korra ? korraError(r.bytes) : legacyError();
        } else {
            answer.wrong = s.takeFault(s.wrong, r, &fault);
            answer.bytes = m_korra ? korraAnswer(s, r, now, answer.wrong) : legacyAnswer(s, r, now, answer.wrong);
        }
        if (r.kind != SimRequest::PlatformQuery && s.takeFault(s.edits, r, &fault))
            answer.bytes = fault.edit(answer.bytes);

        qint64 due = now;
        if (s.takeFault(s.slow, r, &fault)) {
            answer.delayed = true;
            due += fault.param;
        }
        if (s.mergeNext && (!s.mergeFilter || s.mergeFilter(r))) {
            s.mergeNext = false;
            answer.merged = true;
            m_held += answer.bytes;
            m_heldAnswers << answer;
            return;
        }

        Outgoing first;
        first.bytes = m_held + answer.bytes;
        first.due = due;
        first.completes = m_heldAnswers;
        m_held.clear();
        m_heldAnswers.clear();
        const int heldSize = first.bytes.size() - answer.bytes.size();
        if (answer.bytes.size() >= 2 && s.takeFault(s.split, r, &fault)) {
            answer.split = true;
            int at = fault.param2 < 0 ? answer.bytes.size() / 2 : fault.param2;
            at = qBound(1, at, answer.bytes.size() - 1);
            Outgoing second;
            second.bytes = first.bytes.mid(heldSize + at);
            second.due = due + fault.param;
            second.completes << answer;
            first.bytes.truncate(heldSize + at);
            m_queue << first << second;
        } else {
            first.completes << answer;
            m_queue << first;
        }
    }

    void pump()
    {
        while (!m_queue.isEmpty()) {
            if (!m_client || m_client->state() != QAbstractSocket::ConnectedState) {
                m_queue.clear();
                return;
            }
            const qint64 now = m_s->clock.elapsed();
            if (m_queue.first().due > now) {
                m_pumpTimer->start(int(m_queue.first().due - now));
                return;
            }
            const Outgoing out = m_queue.takeFirst();
            bool close = false;
            {
                // Logged before the write, so that a client holding the bytes finds them in the log.
                QMutexLocker lock(&m_s->mutex);
                for (SimAnswer answer : out.completes) {
                    answer.elapsedMs = now;
                    m_s->answers << answer;
                    if (m_s->verbose)
                        qInfo().noquote() << stamp() << "answer to #" + QString::number(answer.requestSeq)
                                                 + (answer.wrong ? " (wrong)" : "") + (answer.error ? " (ERROR)" : "") + ":"
                                          << hexBytes(answer.bytes);
                    if (m_s->closeAfter > 0 && --m_s->closeAfter == 0) {
                        m_s->closeAfter = -1;
                        close = true;
                    }
                }
            }
            m_client->write(out.bytes);
            m_client->flush();
            if (close) {
                closeClient();
                return;
            }
        }
    }

    SimCpe *m_owner;
    SimCpe::Shared *m_s;
    QTcpServer *m_server;
    QTimer *m_pumpTimer;
    QTcpSocket *m_client = nullptr;
    int m_connection = 0;
    bool m_korra = true;
    bool m_awaitingQuery = true;
    bool m_closing = false;   // the simulator itself closes: a cut request is its own doing
    QByteArray m_rx;
    QList<Outgoing> m_queue;
    QByteArray m_held;
    QList<SimAnswer> m_heldAnswers;
};

SimCpe::SimCpe(Platform platform, QObject *parent)
    : QObject(parent), d(new Shared)
{
    d->platform = platform;
    d->clock.start();
}

SimCpe::~SimCpe()
{
    stop();
}

template <typename F>
void SimCpe::runInSimThread(F &&function)
{
    if (QThread::currentThread() == m_thread)
        function();
    else
        QMetaObject::invokeMethod(m_worker, std::forward<F>(function), Qt::BlockingQueuedConnection);
}

bool SimCpe::start(const QHostAddress &address, quint16 port)
{
    if (m_thread) {
        QMutexLocker lock(&d->mutex);
        d->error = QStringLiteral("already started");
        return false;
    }
    {
        QMutexLocker lock(&d->mutex);
        d->address = address;
        d->port = port;
        d->error.clear();
    }
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("simcpe"));
    m_worker = new SimCpeWorker(this, d.get());
    m_worker->moveToThread(m_thread);
    m_thread->start();
    bool ok = false;
    runInSimThread([this, &ok] { ok = m_worker->listen(); });
    if (!ok) {
        const QString error = errorString();
        stop();
        QMutexLocker lock(&d->mutex);
        d->error = error;
    }
    return ok;
}

void SimCpe::stop()
{
    if (!m_thread)
        return;
    runInSimThread([this] {
        m_worker->shutdown();
        delete m_worker;
    });
    m_worker = nullptr;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

QString SimCpe::errorString() const
{
    QMutexLocker lock(&d->mutex);
    return d->error;
}

bool SimCpe::isListening() const
{
    QMutexLocker lock(&d->mutex);
    return d->listening;
}

void SimCpe::stopListening()
{
    if (m_thread)
        runInSimThread([this] { m_worker->stopListening(); });
}

bool SimCpe::resumeListening()
{
    bool ok = false;
    if (m_thread)
        runInSimThread([this, &ok] { ok = m_worker->listen(); });
    return ok;
}

bool SimCpe::isClientConnected() const
{
    QMutexLocker lock(&d->mutex);
    return d->clientConnected;
}

int SimCpe::connectionCount() const
{
    QMutexLocker lock(&d->mutex);
    return d->connections;
}

SimCpe::Platform SimCpe::platform() const
{
    QMutexLocker lock(&d->mutex);
    return d->platform;
}

void SimCpe::setPlatform(Platform platform)
{
    QMutexLocker lock(&d->mutex);
    d->platform = platform;
}

void SimCpe::setQueryReplySize(int bytes)
{
    QMutexLocker lock(&d->mutex);
    d->queryReplySize = bytes;
}

void SimCpe::setCmv(quint8 group, quint16 address, const QVector<quint16> &words)
{
    QMutexLocker lock(&d->mutex);
    d->cmv[cmvKey(group, address)] = words;
}

void SimCpe::setCmvWord(quint8 group, quint16 address, quint16 index, quint16 value)
{
    QMutexLocker lock(&d->mutex);
    QVector<quint16> &words = d->cmv[cmvKey(group, address)];
    if (words.size() <= index)
        words.resize(index + 1);
    words[index] = value;
}

void SimCpe::setCmv32(quint8 group, quint16 address, quint16 index, quint32 value)
{
    QMutexLocker lock(&d->mutex);
    setCmvWord(group, address, index, quint16(value));
    setCmvWord(group, address, quint16(index + 1), quint16(value >> 16));
}

QVector<quint16> SimCpe::cmv(quint8 group, quint16 address) const
{
    QMutexLocker lock(&d->mutex);
    return d->cmv.value(cmvKey(group, address));
}

quint16 SimCpe::cmvWord(quint8 group, quint16 address, quint16 index) const
{
    QMutexLocker lock(&d->mutex);
    return d->cmvWord(group, address, index, d->clock.elapsed());
}

void SimCpe::setMemory(quint32 address, const QByteArray &bytes)
{
    QMutexLocker lock(&d->mutex);
    for (int i = 0; i < bytes.size(); ++i)
        d->memory[address + quint32(i)] = quint8(bytes[i]);
}

void SimCpe::setMemory16(quint32 address, quint16 value)
{
    QByteArray bytes;
    appendBe16(bytes, value);
    setMemory(address, bytes);
}

void SimCpe::setMemory32(quint32 address, quint32 value)
{
    QByteArray bytes;
    appendBe16(bytes, quint16(value));
    appendBe16(bytes, quint16(value >> 16));
    setMemory(address, bytes);
}

QByteArray SimCpe::memory(quint32 address, int length) const
{
    QMutexLocker lock(&d->mutex);
    QByteArray bytes;
    for (int i = 0; i < length; ++i)
        bytes.append(char(d->memoryByte(address + quint32(i))));
    return bytes;
}

quint32 SimCpe::memory32(quint32 address) const
{
    const QByteArray bytes = memory(address, 4);
    return be16(bytes, 0) | quint32(be16(bytes, 2)) << 16;
}

void SimCpe::setAfeRegister(quint32 reg, quint32 value)
{
    QMutexLocker lock(&d->mutex);
    d->afe[reg] = value;
}

quint32 SimCpe::afeRegister(quint32 reg) const
{
    QMutexLocker lock(&d->mutex);
    return d->afeValue(reg);
}

quint32 SimCpe::afeSelected() const
{
    QMutexLocker lock(&d->mutex);
    return d->rawWord32(AfeSelectAddress);
}

void SimCpe::setFirmwareVersion(const QByteArray &bytes)
{
    QMutexLocker lock(&d->mutex);
    d->firmware = bytes;
}

QByteArray SimCpe::firmwareVersion() const
{
    QMutexLocker lock(&d->mutex);
    return d->effectiveFirmware();
}

QByteArray SimCpe::defaultFirmwareVersion(Platform platform)
{
    // Korra: 7.6.1.3.2.7, "Korra - 2", VDSL. Legacy: 3.5.1.2.1.6, "Orkan-SE", VDSL.
    return platform == Korra ? QByteArray::fromHex("761300270000") : QByteArray::fromHex("05034612");
}

void SimCpe::setLineState(quint16 state)
{
    setStateScript({StateStep{state, 0, 0}});
}

void SimCpe::setStateScript(const QList<StateStep> &steps, bool loop)
{
    QMutexLocker lock(&d->mutex);
    d->steps = steps;
    d->loop = loop;
    d->step = 0;
    d->stepStart = d->clock.elapsed();
    d->stepRequests = 0;
}

quint16 SimCpe::lineState() const
{
    QMutexLocker lock(&d->mutex);
    return d->currentState(d->clock.elapsed());
}

int SimCpe::stateStep() const
{
    QMutexLocker lock(&d->mutex);
    d->currentState(d->clock.elapsed());
    return d->step;
}

QList<SimRequest> SimCpe::requests() const
{
    QMutexLocker lock(&d->mutex);
    return d->requests;
}

qint64 SimCpe::elapsedMs() const
{
    return d->clock.elapsed();
}

QList<SimAnswer> SimCpe::answers() const
{
    QMutexLocker lock(&d->mutex);
    return d->answers;
}

QStringList SimCpe::violations() const
{
    QMutexLocker lock(&d->mutex);
    return d->violations;
}

void SimCpe::clearLog()
{
    QMutexLocker lock(&d->mutex);
    d->requests.clear();
    d->answers.clear();
    d->violations.clear();
}

int SimCpe::requestCount(SimRequest::Kind kind) const
{
    return requestCount([kind](const SimRequest &r) { return r.kind == kind; });
}

int SimCpe::requestCount(const RequestFilter &filter) const
{
    QMutexLocker lock(&d->mutex);
    int n = 0;
    for (const SimRequest &r : qAsConst(d->requests))
        if (!filter || filter(r))
            ++n;
    return n;
}

int SimCpe::answerCount() const
{
    QMutexLocker lock(&d->mutex);
    return d->answers.size();
}

void SimCpe::setVerbose(bool verbose)
{
    QMutexLocker lock(&d->mutex);
    d->verbose = verbose;
}

bool SimCpe::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (condition())
            return true;
        if (timer.elapsed() >= timeoutMs)
            return false;
        if (QCoreApplication::instance()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QThread::msleep(2);
    }
}

bool SimCpe::waitForRequests(int n, int timeoutMs, const RequestFilter &filter)
{
    return waitUntil([&] { return requestCount(filter) >= n; }, timeoutMs);
}

bool SimCpe::waitForAnswers(int n, int timeoutMs)
{
    return waitUntil([&] { return answerCount() >= n; }, timeoutMs);
}

bool SimCpe::waitForConnections(int n, int timeoutMs)
{
    return waitUntil([&] { return connectionCount() >= n; }, timeoutMs);
}

void SimCpe::answerWrong(int times, const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->wrong << Shared::Fault{times, 0, 0, filter};
}

void SimCpe::answerError(int times, const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->errorAnswers << Shared::Fault{times, 0, 0, filter};
}

void SimCpe::answerSlowly(int delayMs, int times, const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->slow << Shared::Fault{times, delayMs, 0, filter};
}

void SimCpe::splitAnswers(int pauseMs, int splitAt, int times, const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->split << Shared::Fault{times, pauseMs, splitAt, filter};
}

void SimCpe::mergeNextTwoAnswers(const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->mergeNext = true;
    d->mergeFilter = filter;
}

void SimCpe::staySilent(int times, const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->silent << Shared::Fault{times, 0, 0, filter};
}

void SimCpe::editAnswers(const AnswerEdit &edit, int times, const RequestFilter &filter)
{
    QMutexLocker lock(&d->mutex);
    d->edits << Shared::Fault{times, 0, 0, filter, edit};
}

void SimCpe::closeConnection()
{
    if (m_thread)
        runInSimThread([this] { m_worker->closeClient(); });
}

void SimCpe::closeAfterAnswers(int n)
{
    if (n <= 0) {
        closeConnection();
        return;
    }
    QMutexLocker lock(&d->mutex);
    d->closeAfter = n;
}

void SimCpe::clearFaults()
{
    QMutexLocker lock(&d->mutex);
    d->wrong.clear();
    d->errorAnswers.clear();
    d->slow.clear();
    d->split.clear();
    d->silent.clear();
    d->edits.clear();
    d->mergeNext = false;
    d->closeAfter = -1;
}
