// Framing of answer bytes into whole answers and the Korra header match.

#include "answer_framing.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Cuts a stream into the answers that the framing finds, as the receiving
// side does when the stream arrives in pieces of the given sizes.
QList<QByteArray> cut(const QByteArray &stream, bool korra, const QList<int> &pieces)
{
    QList<QByteArray> answers;
    QByteArray pending;
    int at = 0;
    for (int piece : pieces) {
        pending += stream.mid(at, piece);
        at += piece;
        for (;;) {
            const int length = answer_frame_length(pending, korra);
            if (length == 0 || length > pending.size())
                break;
            answers << pending.left(length);
            pending.remove(0, length);
        }
    }
    if (!pending.isEmpty())
        answers << pending;
    return answers;
}

} // namespace

class TestFraming : public QObject
{
    Q_OBJECT

private slots:
    void frameLength_data();
    void frameLength();
    void splitAndMergedStreams();
    void headerMatch_data();
    void headerMatch();
    void errorHeader_data();
    void errorHeader();
    void legacyKind_data();
    void legacyKind();
};

void TestFraming::frameLength_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("korra");
    QTest::addColumn<int>("length");

    QTest::newRow("header incomplete") << hex("00004010000200020000") << true << 0;
    QTest::newRow("cmv read, 2 words") << hex("000040100002000200000002") << true << 16;
    QTest::newRow("memory 16-bit, 3") << hex("000040300003000010000003") << true << 18;
    QTest::newRow("memory 32-bit, 2") << hex("000080300002000010000002") << true << 20;
    QTest::newRow("memory 8-bit, even 4") << hex("000000300004000010000004") << true << 16;
    QTest::newRow("memory 8-bit, odd 3 + pad") << hex("000000300003000010000003") << true << 16;
    QTest::newRow("cmv write ack") << hex("00004050000100050000" "0001") << true << 12;
    QTest::newRow("memory write ack") << hex("000080B000020020C69C0001") << true << 12;
    QTest::newRow("cmv write ack 0x51, kind 6") << hex("000040510001000500000001") << true << 14;
    QTest::newRow("ERROR answer") << hex("008040F00000000200000080") << true << 12;
    QTest::newRow("count 256 words") << hex("000040100000000200000100") << true << 12 + 512;
    QTest::newRow("legacy, nothing yet") << QByteArray() << false << 0;
    QTest::newRow("legacy, part of a frame") << QByteArray(31, '\0') << false << 32;
    QTest::newRow("legacy frame") << QByteArray(40, '\0') << false << 32;
}

void TestFraming::frameLength()
{
    QFETCH(QByteArray, stream);
    QFETCH(bool, korra);
    QFETCH(int, length);
    QCOMPARE(answer_frame_length(stream, korra), length);
}

void TestFraming::splitAndMergedStreams()
{
    // State answer, odd 8-bit read with its pad byte, write ack, 32-bit read.
    const QList<QByteArray> korra = {
        hex("000040100002000200000002" "00070000"),
        hex("000000300003000010000003" "AABB00CC"),
        hex("000080B000020020C69C0001"),
        hex("000080300002000010000002" "1111222233334444"),
    };
    const QList<QByteArray> legacy
        = {QByteArray(32, '\1'), QByteArray(32, '\2'), QByteArray(32, '\3')};

    for (const bool isKorra : {true, false}) {
        const QList<QByteArray> &answers = isKorra ? korra : legacy;
        QByteArray stream;
        for (const QByteArray &answer : answers)
            stream += answer;

        // All at once, byte by byte, and in random pieces.
        QCOMPARE(cut(stream, isKorra, {stream.size()}), answers);
        QCOMPARE(cut(stream, isKorra, QVector<int>(stream.size(), 1).toList()), answers);
        QRandomGenerator random(42);
        for (int round = 0; round < 200; ++round) {
            QList<int> pieces;
            for (int left = stream.size(); left > 0;) {
                const int piece = qMin(left, int(random.bounded(1, 24)));
                pieces << piece;
                left -= piece;
            }
            QCOMPARE(cut(stream, isKorra, pieces), answers);
        }
    }

    // A fragment that never completes stays apart from the whole answers.
    const QByteArray torn = korra.at(0) + korra.at(3).left(15);
    QCOMPARE(cut(torn, true, {torn.size()}),
             (QList<QByteArray> {korra.at(0), korra.at(3).left(15)}));
}

void TestFraming::headerMatch_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("matches");

    const QByteArray cmvRead = hex("C00040000000000200000002");
    const QByteArray memRead = hex("C00080200000002010000010");
    const QByteArray cmvWrite = hex("C1004040000100050007000112 34");
    const QByteArray memWrite = hex("C00080A000020020C69C000103000000");

    QTest::newRow("empty request matches anything") << hex("FFFF") << QByteArray() << true;
    QTest::newRow("cmv read") << hex("000040100002000200000002") << cmvRead << true;
    QTest::newRow("cmv read, other size nibble")
        << hex("000045100002000200000002") << cmvRead << true;
    QTest::newRow("cmv read, other group") << hex("000040100002000300000002") << cmvRead << false;
    QTest::newRow("cmv read, other address") << hex("000040100002010200000002") << cmvRead << false;
    QTest::newRow("cmv read, other count") << hex("000040100002000200000001") << cmvRead << false;
    QTest::newRow("cmv read, byte 1 set") << hex("000140100002000200000002") << cmvRead << false;
    QTest::newRow("cmv read, short header") << hex("0000401000020002") << cmvRead << false;
    QTest::newRow("memory read") << hex("000080300000002010000010") << memRead << true;
    QTest::newRow("memory read, other size") << hex("000040300000002010000010") << memRead << false;
    QTest::newRow("memory read, other address")
        << hex("000080300000002010040010") << memRead << false;
    QTest::newRow("cmv write ack") << hex("000040500000000500070001") << cmvWrite << true;
    QTest::newRow("cmv write ack 0x5F, other group")
        << hex("0000405F0000003F00070001") << cmvWrite << true;
    QTest::newRow("cmv write ack, other address")
        << hex("000040500000010500070001") << cmvWrite << false;
    QTest::newRow("cmv write, read answer") << hex("000040100000000500070001") << cmvWrite << false;
    QTest::newRow("memory write ack") << hex("000080B000020020C69C0001") << memWrite << true;
    QTest::newRow("memory write ack, other word")
        << hex("000080B000020020C6A00001") << memWrite << false;
    QTest::newRow("unknown operation")
        << hex("000040100002000200000002") << hex("C00040F0000000020000") << false;
    QTest::newRow("ERROR answer") << hex("008040F00000000200000002") << cmvRead << false;
}

void TestFraming::headerMatch()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, request);
    QFETCH(bool, matches);
    QCOMPARE(answer_matches_request(answer, request), matches);
}

void TestFraming::errorHeader_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<bool>("error");
    QTest::newRow("error") << hex("008040F0") << true;
    QTest::newRow("error 0xFA") << hex("008080FA000000") << true;
    QTest::newRow("size low nibble") << hex("008041F0") << false;
    QTest::newRow("byte 1 clear") << hex("000040F0") << false;
    QTest::newRow("operation 0xE0") << hex("008040E0") << false;
    QTest::newRow("three bytes") << hex("008040") << false;
}

void TestFraming::errorHeader()
{
    QFETCH(QByteArray, header);
    QFETCH(bool, error);
    QCOMPARE(is_error_header(header), error);
}

void TestFraming::legacyKind_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<int>("kind");
    QTest::newRow("one byte") << hex("40") << int(kCmvReadAnswer);
    QTest::newRow("cmv read") << hex("0002") << int(kCmvReadAnswer);
    QTest::newRow("memory 8-bit") << hex("4033") << int(kMemory8Answer);
    QTest::newRow("memory 32-bit") << hex("8032") << int(kMemory32Answer);
    QTest::newRow("memory other size") << hex("0036") << int(kMemory16Answer);
    QTest::newRow("write ack") << hex("0051") << int(kWriteAck);
    QTest::newRow("negative high nibble") << hex("40B3") << int(kCmvReadAnswer);
}

void TestFraming::legacyKind()
{
    QFETCH(QByteArray, header);
    QFETCH(int, kind);
    QCOMPARE(legacy_answer_kind(header), kind);
}

QTEST_APPLESS_MAIN(TestFraming)
#include "tst_framing.moc"
