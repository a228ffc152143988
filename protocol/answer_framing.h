#ifndef ANSWER_FRAMING_H
#define ANSWER_FRAMING_H

// Room protocol/: the wire and the files (request packets, script parsing, answer framing, result records); no window.

// Cutting the CPE's byte stream into whole answers, and the header tests of
// the Korra protocol, free of any socket or window.

#include <QByteArray>

// Every legacy answer is one 32-byte frame: 8 header and 24 payload bytes.
const int kLegacyAnswerSize = 32;
const int kLegacyHeaderSize = 8;
const int kLegacyPayloadSize = 24;
const int kKorraHeaderSize = 12;

// Answer kinds; where a record follows, the value is the record kind.
enum AnswerKind {
    kCmvReadAnswer = 0,
    kMemory16Answer = 1,
    kMemory32Answer = 2,
    kMemory8Answer = 3,
    kWriteAck = 5,
    kOtherAnswer = 6
};

// Kind of a Korra answer by its header (bytes 2 and 3); a header of fewer
// than 4 bytes is of kind 6.
int korra_answer_kind(const QByteArray &header);

// Bytes per element of an answer kind; 0 for an acknowledgement.
int answer_unit(int kind);

// Element count of a Korra header (bytes 10-11): 0 for a header of 10 bytes
// or fewer, byte 11 taken as 0 for one of 11 bytes.
int korra_element_count(const QByteArray &header);

// Payload bytes that a Korra answer carries by its header: count x unit, none
// for a write acknowledgement (byte 3 0x50 to 0x5F, or 0xB0) whatever its
// count says, and without the pad byte of an odd 8-bit count.
int korra_payload_size(const QByteArray &header);

// What can be told of the answer that begins `stream`: `length` bytes that it
// surely holds (possibly more than the stream holds yet; 0 while that cannot
// be told: an empty stream, or a Korra header not yet complete), then up to
// `optional` bytes that the answer rules let the device leave out (the pad
// byte of an odd 8-bit read, a count's worth of payload after a CMV write
// acknowledgement of kind 6). A Korra ERROR answer is its header alone.
struct AnswerFrame
{
    int length = 0;
    int optional = 0;
};
AnswerFrame answer_frame(const QByteArray &stream, bool korra);

// While `owed` bytes of an earlier answer are missing, the number of bytes at
// the start of `arrival` that are its late rest. 0 when the arrival begins a
// new answer instead and the rest is lost: a Korra header that answers
// `request` (the request in flight) or an ERROR answer, or on the legacy
// platform an arrival of whole 32-byte answers. -1 while a Korra arrival is
// shorter than a header and cannot tell yet.
int late_rest_length(const QByteArray &arrival, int owed, bool korra, const QByteArray &request);

// An ERROR answer: byte 1 0x80, low nibble of byte 2 zero, high nibble of
// byte 3 0xF; a header of fewer than 4 bytes is none.
bool is_error_header(const QByteArray &header);

// Whether a Korra answer header answers the request packet written last. An
// empty request matches every answer; bytes past either end count as 0.
bool answer_matches_request(const QByteArray &answer, const QByteArray &request);

// Kind of a legacy answer by its header (the high nibble of byte 1 taken as
// a signed shift): a header of fewer than 2 bytes is a CMV read answer.
int legacy_answer_kind(const QByteArray &header);

#endif
