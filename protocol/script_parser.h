#ifndef SCRIPT_PARSER_H
#define SCRIPT_PARSER_H

// Room protocol/: the wire and the files (request packets, script parsing, answer framing, result records); no window.

// The request-script parser, free of any window: each function turns script
// text into request objects and log fragments that the caller appends to
// the log and the request list.

#include <QHash>
#include <QLatin1String>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

class message;
class SymbolMaps;

// Line-state codes 1 to 9 and 15, plain and VDSL (+100).
constexpr char kDefaultRequestStatesText[] =
    ",1,2,3,4,5,6,7,8,9,15,101,102,103,104,105,106,107,108,109,115,";
constexpr QLatin1String kDefaultRequestStates(kDefaultRequestStatesText,
                                              int(sizeof kDefaultRequestStatesText) - 1);

// AFE register mailbox in firmware memory.
const quint32 kAfeSelectAddress = 0x20C69C;
const quint32 kAfeDataAddress = 0x20C6A4;

// Unsigned 32-bit script number: "0x" hexadecimal, leading "0" octal, else
// decimal. False for anything else.
bool script_number(const QString &text, quint32 *value);

// " " when the list is valid (then normalised in place), else " " and a red
// line message (the list then becomes the default list).
QString check_request_states(QString &states, quint32 lineNo);

// Request builders: `fields` is the split line, the request word first;
// `result` is " " on entry and gets the line message on failure. They return
// a new request owned by the caller, or nullptr.
message *parse_cmv_read_request(const QStringList &fields, quint32 lineNo, const QString &states,
                                QString &result, const QHash<QString, uchar> &groups);
message *parse_cmv_write_request(const QStringList &fields, quint32 lineNo, const QString &states,
                                 QString &result, const QHash<QString, uchar> &groups);
// `symbols` may be null: every name then fails.
message *parse_mr_request(const QStringList &fields, quint32 lineNo, const QString &states,
                          QString &result, const SymbolMaps *symbols);
message *parse_mrb_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols);
message *parse_mrd_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols);
message *parse_mw_request(const QStringList &fields, quint32 lineNo, const QString &states,
                          QString &result, const SymbolMaps *symbols);
message *parse_mwb_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols);
message *parse_mwd_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols);

// The 266 registers of "afe korra all", in reading order.
const QVector<quint16> &afe_all_registers();

// Select write, data clear, data read; the read carries the register.
QList<message *> build_afe_requests(quint32 reg, const QString &states);

struct ScriptTables
{
    const QHash<QString, uchar> *cmvGroups = nullptr; // null: no group names
    const SymbolMaps *symbols = nullptr;              // null: no symbols
};

struct ScriptLineResult
{
    QList<message *> requests;  // new objects, owned by the caller
    QList<qint16> afeRegisters; // one per AFE register read, in order
    QStringList log;            // one log entry each, in order
};

// Request mode (textMode false): appends the register's three requests and
// its entry to `result`, returns "". Text mode: returns the script line.
QString afe_register_read(quint32 reg, const QString &states, bool textMode,
                          ScriptLineResult &result);

// The AFE operand ("all" or a number). An invalid operand adds a line
// message to result.log in both modes and returns "".
QString parse_afe_operand(const QString &operand, quint32 lineNo, const QString &states,
                          bool textMode, ScriptLineResult &result);

// One physical line of the script, numbered from 1.
ScriptLineResult parse_script_line(const QString &line, quint32 lineNo,
                                   const ScriptTables &tables);

#endif
