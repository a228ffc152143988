#ifndef STATUS_DECODERS_H
#define STATUS_DECODERS_H

// Room display/: status decoders, the live-graph store and the plot drawings; no window.

// Pure helpers behind the status panel and the information tabs: name tables,
// firmware-version decoding, answer-header tests and payload word reading.
// They work on the bytes of one answer and keep no state.

#include <QByteArray>
#include <QColor>
#include <QString>

class QWidget;

// ---- name tables --------------------------------------------------------
QString state_text(quint16 code);        // Korra line-state names
QString legacy_state_text(quint16 code); // legacy line-state names
QString dsl_mode_text(quint8 code);
QString chip_name_text(quint8 code);
// Upper-case hexadecimal without leading zeros ("0" for 0).
QString hex_upper(quint8 value);

// ---- firmware version -------------------------------------------------
// Both append the version text to `version` and set the DSL mode and chip
// texts. Payload bytes beyond its end read as 0.
void decode_legacy_fw_version(const QByteArray &payload, QString &version, QString &mode,
                              QString &chip);
void decode_fw_version(const QByteArray &payload, QString &version, QString &mode, QString &chip);

// The version text of a firmware that answered all zeros.
extern const char kZeroFirmwareVersion[];
// The mark appended to the DSL mode text of a T1.413 line.
extern const char kT1413Mark[];

// ---- answer bytes -------------------------------------------------------
quint8 byte_at(const QByteArray &bytes, int index);
// Word k of a payload, big-endian.
quint16 payload_word(const QByteArray &payload, int k);
// Words k and k+1 as one value, the first word the low half.
quint32 payload_dword(const QByteArray &payload, int k);

// How strictly bytes 2 and 3 of a Korra header are taken: exactly 0x40 and
// 0x10, or only their high nibbles 4 and 1.
enum class KorraTypeTest { Exact, HighNibbles };

// The answer to a CMV read of group/address, index 0 (bytes 0, 1, 8, 9, 10
// zero); the word count is not tested.
bool is_korra_cmv_answer(const QByteArray &header, quint8 group, quint8 address,
                         KorraTypeTest typeTest);
// Bytes 5 and 11, each read as a signed byte, are both at least n, so a count
// of 128 or more never qualifies.
bool has_at_least_words(const QByteArray &header, int n);
// Legacy header: byte 3 the group, bytes 4-5 the address, bytes 6-7 index 0.
bool is_legacy_cmv_answer(const QByteArray &header, quint8 group, quint16 address);

// CMV group codes the decoders look for.
enum CmvGroupCode : quint8 {
    GroupStat = 2,
    GroupInfo = 3,
    GroupRate = 6,
    GroupCntr = 10,
};

// The line-state code, VDSL hundred included or not, is in showtime.
bool is_showtime(quint16 cpeState);

// ---- status panel rules ----------------------------------------------
// Firmware up to x.5 reports its net rates divided by 4; the second field of
// the version text tells which firmware the CPE runs.
bool firmware_multiplies_rates(const QString &firmwareText);

struct NetRate
{
    quint32 value = 0;
    int path = 1;
};
// The larger of the two path rates (the second path on a tie), after the x4
// rule when `times4` is set.
NetRate pick_net_rate(quint32 path0, quint32 path1, bool times4);

// The line-state code moved into the ADSL range (below 100) or the VDSL range
// (100 and above) as the DSL mode text, or failing that the STAT 1 payload,
// tells.
quint16 dsl_range_code(quint16 code, const QString &dslMode, const QByteArray &payload);

// DSL mode text with the T1.413 mark appended or taken out.
bool has_t1413_mark(const QString &dslMode);
QString with_t1413_mark(const QString &dslMode);
QString without_t1413_mark(const QString &dslMode);

// Gives a field's text the colour in every colour group.
void set_text_colour(QWidget *field, Qt::GlobalColor colour);

// The documentation the Help button opens.
extern const char kDocumentationHost[];
QString documentation_url();

#endif
