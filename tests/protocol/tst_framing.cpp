// The answer rules byte by byte, one row per rule: how much of a stream one
// answer takes, what an arrival pays of an answer given up on, the Korra
// header match and the answer kinds.

#include "answer_framing.h"

#include <QtTest>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(text); }

const QByteArray kCmvRead = hex("C00040000000000200000002");
const QByteArray kMemoryRead = hex("C00080200000002010000010");
const QByteArray kCmvWrite = hex("C100404000010005000700011234");

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT

private slots:
    void frame_data();
    void frame();
    void lateRest_data();
    void lateRest();
    void header_data();
    void header();
};

void TestFraming::frame_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("optional");
    QTest::newRow("header incomplete") << hex("00004010000200020000") << true << 0 << 0;
    QTest::newRow("cmv read: count x 2") << hex("000040100002000200000002") << true << 16 << 0;
    QTest::newRow("memory 32-bit: count x 4") << hex("000080300000000010000002") << true << 20 << 0;
    QTest::newRow("memory 8-bit, even") << hex("000000300000000010000004") << true << 16 << 0;
    QTest::newRow("memory 8-bit, odd: pad may lack") << hex("000000300000000010000003") << true << 15 << 1;
    QTest::newRow("write ack 0x50 with count") << hex("000040500001000500070001") << true << 12 << 0;
    QTest::newRow("ack 0x51: payload may lack") << hex("000040510001000500070003") << true << 12 << 6;
    QTest::newRow("ERROR: header only") << hex("008040F00000000200000080") << true << 12 << 0;
    QTest::newRow("legacy, any start") << QByteArray(5, '\x31') << false << 32 << 0;
}

void TestFraming::frame()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, korra);
    const AnswerFrame frame = answer_frame(stream, korra);
    QTEST(frame.length, "length");
    QTEST(frame.optional, "optional");
}

void TestFraming::lateRest_data()
{
    QTest::addColumn<QByteArray>("arrival");
    QTest::addColumn<int>("owed");
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("late");
    const QByteArray answer = hex("000040100002000200000002" "00070000");
    QTest::newRow("header answering the request: rest lost") << answer << 9 << true << 0;
    QTest::newRow("ERROR answer: rest lost") << hex("008040F00000000200000002") << 9 << true << 0;
    QTest::newRow("rest, then the answer") << hex("AABB") + answer << 2 << true << 2;
    QTest::newRow("part of the rest") << hex("AABBCCDDEEFF00112233445566") << 20 << true << 13;
    QTest::newRow("shorter than a header: not yet") << hex("AABB") << 2 << true << -1;
    QTest::newRow("legacy, one whole answer") << QByteArray(32, '\1') << 12 << false << 0;
    QTest::newRow("legacy, the rest alone") << QByteArray(12, '\1') << 12 << false << 12;
    QTest::newRow("legacy, rest and an answer") << QByteArray(44, '\1') << 12 << false << 12;
}

void TestFraming::lateRest()
{
    QFETCH(QByteArray, arrival);
    QFETCH(int, owed);
    QFETCH(bool, korra);
    QTEST(late_rest_length(arrival, owed, korra, kCmvRead), "late");
}

void TestFraming::header_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("request"); // empty: legacy
    QTest::addColumn<bool>("matches");
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("error");
    const int cmv = kCmvReadAnswer, m16 = kMemory16Answer, m32 = kMemory32Answer, m8 = kMemory8Answer;
    const int ack = kWriteAck, other = kOtherAnswer;
    QTest::newRow("cmv read, any size nibble") << hex("000045100002000200000002") << kCmvRead << true << cmv << false;
    QTest::newRow("cmv read, other group") << hex("000040100002000300000002") << kCmvRead << false << cmv << false;
    QTest::newRow("short header: missing bytes are 0") << hex("0000401000020002") << kCmvRead << false << cmv << false;
    QTest::newRow("three bytes") << hex("000040") << kCmvRead << false << other << false;
    QTest::newRow("memory 32-bit") << hex("000080300000002010000010") << kMemoryRead << true << m32 << false;
    QTest::newRow("memory, other size") << hex("000040300000002010000010") << kMemoryRead << false << m16 << false;
    QTest::newRow("memory 8-bit") << hex("000000300000002010000003") << hex("C00000200000002010000003") << true << m8 << false;
    QTest::newRow("cmv write ack 0x50") << hex("000040500000000500070001") << kCmvWrite << true << ack << false;
    QTest::newRow("ack 0x5F, group not compared") << hex("0000405F0000003F00070001") << kCmvWrite << true << other << false;
    QTest::newRow("cmv write, read answer") << hex("000040100000000500070001") << kCmvWrite << false << cmv << false;
    QTest::newRow("unknown request operation") << hex("000040100002000200000002") << hex("C00040F0") << false << cmv << false;
    QTest::newRow("ERROR") << hex("008080FA0000000200000002") << kCmvRead << false << other << true;
    QTest::newRow("legacy, one byte") << hex("40") << QByteArray() << true << cmv << false;
    QTest::newRow("legacy memory 8-bit") << hex("4033") << QByteArray() << true << m8 << false;
    QTest::newRow("legacy memory 32-bit") << hex("8032") << QByteArray() << true << m32 << false;
    QTest::newRow("legacy memory other size") << hex("0036") << QByteArray() << true << m16 << false;
    QTest::newRow("legacy write ack") << hex("0051") << QByteArray() << true << ack << false;
    QTest::newRow("legacy, negative high nibble") << hex("40B3") << QByteArray() << true << cmv << false;
}

void TestFraming::header()
{
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, request);
    const bool korra = !request.isEmpty();
    // An empty request matches every answer.
    QTEST(answer_matches_request(header, request), "matches");
    QTEST(korra ? korra_answer_kind(header) : legacy_answer_kind(header), "kind");
    QTEST(is_error_header(header), "error");
}

QTEST_APPLESS_MAIN(TestFraming)
#include "tst_framing.moc"
