// The simulated CPE checked with a plain socket, byte for byte.
#include "simcpe.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QHostAddress SimAddress(QStringLiteral("127.0.0.77"));

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray padded32(const char *header)
{
    return hex(header).leftJustified(32, '\0', true);
}

QByteArray query()
{
    return padded32("C00040 00000A 000200 000001");
}

class Client
{
public:
    explicit Client(SimCpe &sim) : m_sim(sim) {}

    bool open()
    {
        m_socket.connectToHost(SimAddress, 2000);
        return m_socket.waitForConnected(3000);
    }

    // Sends the platform query and returns the reply.
    QByteArray detect(int expected)
    {
        m_socket.write(query());
        return read(expected);
    }

    QByteArray ask(const QByteArray &request, int expected)
    {
        m_socket.write(request);
        return read(expected);
    }

    QByteArray read(int n, int timeoutMs = 3000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_socket.bytesAvailable() < n && timer.elapsed() < timeoutMs)
            m_socket.waitForReadyRead(50);
        return m_socket.read(n);
    }

    QTcpSocket m_socket;
    SimCpe &m_sim;
};

} // namespace

class TestSimCpe : public QObject
{
    Q_OBJECT

private slots:
    void queryReplySize_data();
    void queryReplySize();
    void korraAnswers();
    void legacyAnswers_data();
    void legacyAnswers();
    void afeMailbox();
    void errorAndWrongAnswers();
    void requestFramingAndChecks();
    void deliveryFaults();
    void connectionControl();
    void stateScript();
};

void TestSimCpe::queryReplySize_data()
{
    QTest::addColumn<int>("platform");
    QTest::addColumn<int>("replySize");
    QTest::addColumn<int>("expected");
    QTest::newRow("legacy") << int(SimCpe::Legacy) << 0 << 32;
    QTest::newRow("korra default") << int(SimCpe::Korra) << 0 << 14;
    QTest::newRow("korra 33") << int(SimCpe::Korra) << 33 << 33;
}

void TestSimCpe::queryReplySize()
{
    QFETCH(int, platform);
    QFETCH(int, replySize);
    QFETCH(int, expected);
    SimCpe sim{SimCpe::Platform(platform)};
    if (replySize)
        sim.setQueryReplySize(replySize);
    QVERIFY2(sim.start(SimAddress), qPrintable(sim.errorString()));
    Client client(sim);
    QVERIFY(client.open());
    QCOMPARE(client.detect(expected).size(), expected);
    QVERIFY(!client.m_socket.waitForReadyRead(200));
    QCOMPARE(sim.requests().size(), 1);
    QCOMPARE(sim.requests().first().kind, SimRequest::PlatformQuery);
    QCOMPARE(sim.violations(), QStringList());
}

void TestSimCpe::korraAnswers()
{
    SimCpe sim(SimCpe::Korra);
    sim.setLineState(7);
    sim.setCmvWord(2, 0, 1, 0x1234);
    sim.setMemory(0x1000, hex("11223344"));
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    QCOMPARE(client.detect(14).size(), 14);
    // In order: the write changes what the later reads see.
    const QList<QPair<const char *, const char *>> exchanges = {
        {"C00040000000000200000002", "000040100002000200000002 0007 1234"},
        {"C10040000000360300000003", "000040100003360300000003 7613 0027 0000"},
        {"C00040400001230A00050001 BEEF", "000040500001230A00050001"},
        {"C00040000000230A00040002", "000040100002230A00040002 0000 BEEF"},
        {"C00000200000000010000003", "000000300003000010000003 1122 0033"},
        {"C00040200000000010000002", "000040300002000010000002 1122 3344"},
        {"C00000A00001000010020001 0077", "000000B00001000010020001"},
        {"C00000200000000010000004", "000000300004000010000004 1122 7744"},
    };
    for (const auto &exchange : exchanges) {
        const QByteArray answer = hex(exchange.second);
        QCOMPARE(client.ask(hex(exchange.first), answer.size()).toHex(' '), answer.toHex(' '));
    }
    QCOMPARE(sim.violations(), QStringList());
}

void TestSimCpe::legacyAnswers_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("state") << padded32("00010002") << padded32("0001000200000000 0009");
    QTest::newRow("firmware") << padded32("0002000300360000") << padded32("0002000300360000 05034612");
    QTest::newRow("cmv write") << padded32("0041000A00230001 BEEF") << padded32("0051000A00230001");
    QTest::newRow("cmv read") << padded32("0003000A00230000") << padded32("0003000A00230000 0000 BEEF 0000");
    QTest::newRow("memory 8-bit odd") << padded32("4023000000002000") << padded32("4033000000002000 ABCD00EF");
    QTest::newRow("memory 32-bit") << padded32("8021000000002000") << padded32("8031000000002000 ABCDEF00");
}

void TestSimCpe::legacyAnswers()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    SimCpe sim(SimCpe::Legacy);
    sim.setLineState(9);
    sim.setCmvWord(10, 0x23, 1, 0xBEEF);
    sim.setMemory(0x2000, hex("ABCDEF"));
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    QCOMPARE(client.detect(32).size(), 32);
    QCOMPARE(client.ask(request, 32).toHex(' '), answer.toHex(' '));
    QCOMPARE(sim.violations(), QStringList());
}

void TestSimCpe::afeMailbox()
{
    SimCpe sim(SimCpe::Korra);
    sim.setAfeRegister(0x301, 0x12345678);
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    client.detect(14);
    const QByteArray read = hex("C00080200000 0020C6A40001");
    const auto afeRead = [&](const char *selectWord) {
        client.ask(hex("C00080A00002 0020C69C0001") + hex(selectWord), 12);
        client.ask(hex("C00080A00002 0020C6A40001 00000000"), 12);
        return client.ask(read, 16).mid(12).toHex();
    };
    QCOMPARE(afeRead("03000000"), QByteArray("0300a500"));
    QCOMPARE(sim.afeSelected(), 0x300u);
    QCOMPARE(afeRead("03010000"), QByteArray("56781234"));
    QCOMPARE(sim.violations(), QStringList());
}

void TestSimCpe::errorAndWrongAnswers()
{
    SimCpe sim(SimCpe::Korra);
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    sim.answerError(1);
    sim.answerWrong(1, [](const SimRequest &r) { return r.kind == SimRequest::CmvWrite; });
    client.detect(14);
    const QByteArray state = hex("C00040000000000200000002");
    QCOMPARE(client.ask(state, 12).toHex(' '), hex("008040F00000000200000002").toHex(' '));
    QCOMPARE(client.ask(state, 16).toHex(' '), hex("000040100002000200000002 0007 0000").toHex(' '));
    QCOMPARE(client.ask(hex("C00040400001230A00050001 0001"), 12).toHex(' '), hex("000040500001240A00050001").toHex(' '));
    const QList<SimAnswer> answers = sim.answers();
    QCOMPARE(answers.size(), 4);
    QVERIFY(answers[1].error && !answers[2].error && answers[3].wrong);
}

void TestSimCpe::requestFramingAndChecks()
{
    SimCpe sim(SimCpe::Korra);
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    client.detect(14);
    // A write cut in two and two reads in one segment: three answers.
    const QByteArray write = hex("C00080A00002 0000100000010102 0304");
    client.m_socket.write(write.left(13));
    client.m_socket.waitForBytesWritten();
    QTest::qWait(50);
    client.m_socket.write(write.mid(13) + hex("C00040000000000200000001 C00080200000000010000001"));
    QCOMPARE(client.read(12 + 14 + 16).mid(26, 16).toHex(), QByteArray("000080300001000010000001" "01020304"));
    QCOMPARE(sim.violations(), QStringList());

    // Port 0x00, byte 1 set, size code 0x20, byte 5 set, byte 6 set, misaligned, count 257.
    client.ask(hex("00012020 0003 0100 1001 0101"), 12);
    const QString report = sim.violations().join(QLatin1Char('\n'));
    for (const char *word : {"port byte 0x00", "byte 1 is 0x01", "element size code 0x20", "byte 5 is 0x03",
                             "byte 6 is 0x01", "not aligned", "chunk limit 128"})
        QVERIFY2(report.contains(QLatin1String(word)), qPrintable(report));
}

void TestSimCpe::deliveryFaults()
{
    SimCpe sim(SimCpe::Korra);
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    client.detect(14);
    const QByteArray state = hex("C00040000000000200000002");
    QTcpSocket &socket = client.m_socket;

    sim.splitAnswers(300, 12);
    socket.write(state);
    QVERIFY(socket.waitForReadyRead(3000));
    QCOMPARE(socket.bytesAvailable(), 12);
    QCOMPARE(client.read(16).size(), 16);

    sim.staySilent(1);
    socket.write(state);
    QVERIFY(!socket.waitForReadyRead(300));
    QCOMPARE(client.ask(state, 16).size(), 16);

    sim.mergeNextTwoAnswers();
    socket.write(state);
    QVERIFY(!socket.waitForReadyRead(300));
    socket.write(hex("C00040000000 3603 00000003"));
    QVERIFY(socket.waitForReadyRead(3000));
    QCOMPARE(socket.bytesAvailable(), 34);
    socket.readAll();

    sim.answerSlowly(400);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(client.ask(state, 16).size(), 16);
    QVERIFY(timer.elapsed() >= 390);
    QVERIFY(sim.answers().last().delayed);
}

void TestSimCpe::connectionControl()
{
    SimCpe sim(SimCpe::Legacy);
    QVERIFY(sim.start(SimAddress));
    {
        Client client(sim);
        QVERIFY(client.open());
        sim.closeAfterAnswers(2);
        client.detect(32);
        QCOMPARE(client.ask(padded32("00010002"), 32).size(), 32);
        QVERIFY(client.m_socket.state() == QAbstractSocket::UnconnectedState || client.m_socket.waitForDisconnected(3000));
    }
    sim.stopListening();
    {
        Client client(sim);
        QVERIFY(!client.open());
        QCOMPARE(client.m_socket.error(), QAbstractSocket::ConnectionRefusedError);
    }
    QVERIFY(sim.resumeListening());
    Client client(sim);
    QVERIFY(client.open());
    QVERIFY(sim.waitForConnections(2, 3000));
    sim.closeConnection();
    QVERIFY(client.m_socket.waitForDisconnected(3000));
    QVERIFY(sim.waitUntil([&] { return !sim.isClientConnected(); }, 3000));
}

void TestSimCpe::stateScript()
{
    SimCpe sim(SimCpe::Korra);
    sim.setStateScript({{6, 0, 2}, {7, 0, 1}, {0, 0, 0}});
    QVERIFY(sim.start(SimAddress));
    Client client(sim);
    QVERIFY(client.open());
    client.detect(14);
    QByteArray states;
    for (int i = 0; i < 5; ++i)
        states += client.ask(hex("C00040000000000200000002"), 16).at(13);
    QCOMPARE(states.toHex(), QByteArray("0606070000"));
    QVERIFY(sim.waitForRequests(5, 1000, [](const SimRequest &r) { return r.isStateRequest(); }));
}

QTEST_GUILESS_MAIN(TestSimCpe)
#include "tst_simcpe.moc"
