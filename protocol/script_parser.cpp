#include "script_parser.h"

#include "SymbolMaps.h"
#include "message.h"

namespace {

// A CMV index is sent as 16 bits, a memory address as 22 bits: a read that
// runs past them would wrap and its data would be recorded under the wrong
// index or address. Firmware linked at a segment base (0x08048000, ...) has
// its symbols above 4 MB; the packets carry their low 22 bits, so only the
// cut address counts against the range.
const quint64 kCmvIndexRange = 65536;
const quint64 kMemoryRange = quint64(1) << 22;

QString line_message(const char *colour, quint32 lineNo, const QString &text)
{
    return QLatin1String("<font color=") + QLatin1String(colour) + QLatin1String(">Line ")
        + QString::number(lineNo) + QLatin1String(": ") + text + QLatin1String("</font>");
}

QString darkred(quint32 lineNo, const QString &text)
{
    return line_message("darkred", lineNo, text);
}

QString red(quint32 lineNo, const QString &text)
{
    return line_message("red", lineNo, text);
}

QString quoted(const QString &field)
{
    return QLatin1Char('"') + field.toHtmlEscaped() + QLatin1Char('"');
}

bool resolve_address(const QString &field, const SymbolMaps *symbols, quint32 *address)
{
    if (script_number(field, address))
        return true;
    const qint32 found = symbols ? symbols->addressOf(field) : -1;
    *address = quint32(found);
    return found != -1;
}

bool resolve_group(const QString &field, const QHash<QString, uchar> &groups, quint32 *group)
{
    if (script_number(field, group))
        return true;
    const auto it = groups.constFind(field.toUpper());
    if (it == groups.constEnd())
        return false;
    *group = it.value();
    return true;
}

// The six memory words differ only in width, direction and message key.
message *parse_memory_request(const QStringList &fields, quint32 lineNo, const QString &states,
                              QString &result, const SymbolMaps *symbols, quint32 width,
                              bool write, const QString &key)
{
    if (fields.size() != (write ? 4 : 3)) {
        result += darkred(lineNo, key + QLatin1String(" with invalid number of elements !"));
        return nullptr;
    }
    quint32 address;
    if (!resolve_address(fields[1], symbols, &address)) {
        result += darkred(lineNo, QLatin1String("Unable to find symbol ") + quoted(fields[1]));
        return nullptr;
    }
    const QString invalidValue = QLatin1String("Invalid value in ") + key + QLatin1String(" !");
    quint32 count;
    const bool countOk = script_number(fields[2], &count);
    if (write && !countOk) {
        result += darkred(lineNo, invalidValue);
        return nullptr;
    }
    if (width == 2 && address % 2 != 0) {
        result += red(lineNo, QStringLiteral("CANNOT ACCESS WORD DATA ON BYTE BOUNDARY !!"));
        return nullptr;
    }
    if (width == 4 && address % 4 != 0) {
        result += red(lineNo, QStringLiteral("CANNOT ACCESS DWORD DATA ON BYTE BOUNDARY !!"));
        return nullptr;
    }
    if (write) {
        quint32 value;
        if (!script_number(fields[3], &value)) {
            result += darkred(lineNo, invalidValue);
            return nullptr;
        }
        if (qint32(count) <= 0)
            return nullptr;
        return new MEMORY(width, address, value, states, true);
    }
    if (!countOk) {
        result += darkred(lineNo, invalidValue);
        return nullptr;
    }
    if (quint64(address % kMemoryRange) + quint64(count) * width > kMemoryRange) {
        result += darkred(lineNo, key + QLatin1String(" reads past the addressable range !"));
        return nullptr;
    }
    return new MEMORY(width, address, count, states, false);
}

const QHash<QString, uchar> &no_groups()
{
    static const QHash<QString, uchar> empty;
    return empty;
}

} // namespace

bool script_number(const QString &text, quint32 *value)
{
    bool ok = false;
    const uint number = text.toUInt(&ok, 0);
    if (ok)
        *value = number;
    return ok;
}

QString check_request_states(QString &states, quint32 lineNo)
{
    QString result(QLatin1Char(' '));
    bool valid = false;
    if (states.size() >= 2) {
        for (int code = 0; code <= 15 && !valid; ++code)
            valid = states.contains(QString::number(code));
    }
    if (valid) {
        states.remove(QLatin1Char('['));
        states.remove(QLatin1Char(']'));
        states.remove(QLatin1Char(' '));
    } else {
        result += red(lineNo, QStringLiteral("Given request's states are invalid !!"));
        states = kDefaultRequestStates;
    }
    return result;
}

message *parse_cmv_read_request(const QStringList &fields, quint32 lineNo, const QString &states,
                                QString &result, const QHash<QString, uchar> &groups)
{
    const QString countMessage = QStringLiteral("CMV with invalid number of elements !");
    if (fields.size() < 2) {
        result += darkred(lineNo, countMessage);
        return nullptr;
    }
    quint32 group;
    if (!resolve_group(fields[1], groups, &group)) {
        result += red(lineNo, QLatin1String("Invalid CMV group given ") + quoted(fields[1])
                                  + QLatin1String(" !"));
        return nullptr;
    }
    if (fields.size() != 4 && fields.size() != 5) {
        result += darkred(lineNo, countMessage);
        return nullptr;
    }
    quint32 address, index, count = 1;
    if (!script_number(fields[2], &address) || !script_number(fields[3], &index)
        || (fields.size() == 5 && !script_number(fields[4], &count))) {
        result += darkred(lineNo, QStringLiteral("Invalid value in CMV !"));
        return nullptr;
    }
    if (quint64(index) + count > kCmvIndexRange) {
        result += darkred(lineNo, QStringLiteral("CMV reads past the addressable range !"));
        return nullptr;
    }
    return new CMV(group, address, index, count, states, false);
}

message *parse_cmv_write_request(const QStringList &fields, quint32 lineNo, const QString &states,
                                 QString &result, const QHash<QString, uchar> &groups)
{
    if (fields.size() != 5) {
        result += darkred(lineNo, QStringLiteral("CMV with invalid number of elements !"));
        return nullptr;
    }
    quint32 group;
    if (!resolve_group(fields[1], groups, &group)) {
        result += red(lineNo, QLatin1String("Invalid CMV group given ") + quoted(fields[1])
                                  + QLatin1String(" !"));
        return nullptr;
    }
    quint32 address, index, value;
    if (!script_number(fields[2], &address) || !script_number(fields[3], &index)
        || !script_number(fields[4], &value)) {
        result += darkred(lineNo, QStringLiteral("Invalid value in CMV !"));
        return nullptr;
    }
    return new CMV(group, address, index, value, states, true);
}

message *parse_mr_request(const QStringList &fields, quint32 lineNo, const QString &states,
                          QString &result, const SymbolMaps *symbols)
{
    return parse_memory_request(fields, lineNo, states, result, symbols, 2, false,
                                QStringLiteral("MR"));
}

message *parse_mrb_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols)
{
    return parse_memory_request(fields, lineNo, states, result, symbols, 1, false,
                                QStringLiteral("MRB"));
}

message *parse_mrd_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols)
{
    return parse_memory_request(fields, lineNo, states, result, symbols, 4, false,
                                QStringLiteral("MRD"));
}

message *parse_mw_request(const QStringList &fields, quint32 lineNo, const QString &states,
                          QString &result, const SymbolMaps *symbols)
{
    return parse_memory_request(fields, lineNo, states, result, symbols, 2, true,
                                QStringLiteral("MW"));
}

message *parse_mwb_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols)
{
    return parse_memory_request(fields, lineNo, states, result, symbols, 1, true,
                                QStringLiteral("MWB"));
}

message *parse_mwd_request(const QStringList &fields, quint32 lineNo, const QString &states,
                           QString &result, const SymbolMaps *symbols)
{
    return parse_memory_request(fields, lineNo, states, result, symbols, 4, true,
                                QStringLiteral("MWD"));
}

const QVector<quint16> &afe_all_registers()
{
    static const QVector<quint16> registers = [] {
        static const quint16 ranges[][2] = {
            {0x300, 0x30A}, {0x310, 0x324}, {0x328, 0x339}, {0x100, 0x117}, {0x120, 0x127},
            {0x130, 0x147}, {0x400, 0x409}, {0x410, 0x416}, {0x418, 0x41A}, {0x420, 0x422},
            {0x424, 0x426}, {0x428, 0x42A}, {0x430, 0x431}, {0x200, 0x239}, {0x000, 0x008},
            {0x010, 0x014}, {0x020, 0x022}, {0x040, 0x051}, {0x080, 0x0A3},
        };
        QVector<quint16> list;
        for (const auto &range : ranges) {
            for (quint16 reg = range[0]; reg <= range[1]; ++reg)
                list.append(reg);
        }
        return list;
    }();
    return registers;
}

QList<message *> build_afe_requests(quint32 reg, const QString &states)
{
    MEMORY *read = new MEMORY(4, kAfeDataAddress, 1, states, false);
    read->set_afe_register(qint16(reg));
    return {new MEMORY(4, kAfeSelectAddress, reg, states, true),
            new MEMORY(4, kAfeDataAddress, 0, states, true), read};
}

QString afe_register_read(quint32 reg, const QString &states, bool textMode,
                          ScriptLineResult &result)
{
    if (textMode) {
        return QLatin1String("afe korra 0x") + QString::number(reg, 16) + QLatin1Char(' ')
            + states + QLatin1Char('\n');
    }
    result.requests += build_afe_requests(reg, states);
    result.afeRegisters.append(qint16(reg));
    return QString();
}

QString parse_afe_operand(const QString &operand, quint32 lineNo, const QString &states,
                          bool textMode, ScriptLineResult &result)
{
    if (operand == QLatin1String("all")) {
        if (textMode)
            return QLatin1String("afe korra all ") + states + QLatin1Char('\n');
        for (quint16 reg : afe_all_registers())
            afe_register_read(reg, states, false, result);
        return QString();
    }
    quint32 reg;
    if (!script_number(operand, &reg)) {
        result.log.append(darkred(lineNo, QStringLiteral("Invalid value in AFE read !")));
        return QString();
    }
    return afe_register_read(reg, states, textMode, result);
}

ScriptLineResult parse_script_line(const QString &rawLine, quint32 lineNo,
                                   const ScriptTables &tables)
{
    ScriptLineResult result;
    if (rawLine.startsWith(QLatin1Char('#')) || rawLine.startsWith(QLatin1Char('/')))
        return result;

    QString line = rawLine;
    const int comment = line.indexOf(QLatin1String("//"));
    if (comment >= 0)
        line.truncate(comment);

    QString states;
    const int bracket = line.indexOf(QLatin1Char('['));
    if (bracket >= 0) {
        states = line.mid(bracket);
        line.truncate(bracket);
        const QString check = check_request_states(states, lineNo);
        if (check != QLatin1String(" "))
            result.log.append(check);
    } else {
        states = kDefaultRequestStates;
    }

    line.remove(QLatin1Char('\t'));
    QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() < 3 || fields.size() > 5) {
        if (!line.isEmpty())
            result.log.append(darkred(lineNo, QStringLiteral("Request has invalid number of elements !")));
        return result;
    }
    fields[0] = fields[0].toLower();
    const QString word = fields[0];

    if (word == QLatin1String("afe")) {
        if (fields.size() != 3) {
            result.log.append(darkred(lineNo, QStringLiteral("AFE Read with invalid number of elements !")));
            return result;
        }
        fields[1] = fields[1].toLower();
        fields[2] = fields[2].toLower();
        if (fields[1] != QLatin1String("korra")) {
            result.log.append(darkred(lineNo, QStringLiteral("AFE Read with invalid platform given !")));
            return result;
        }
        parse_afe_operand(fields[2], lineNo, states, false, result);
        return result;
    }

    const QHash<QString, uchar> &groups = tables.cmvGroups ? *tables.cmvGroups : no_groups();
    QString message_text(QLatin1Char(' '));
    message *request = nullptr;
    if (word == QLatin1String("cr"))
        request = parse_cmv_read_request(fields, lineNo, states, message_text, groups);
    else if (word == QLatin1String("cw"))
        request = parse_cmv_write_request(fields, lineNo, states, message_text, groups);
    else if (word == QLatin1String("mr"))
        request = parse_mr_request(fields, lineNo, states, message_text, tables.symbols);
    else if (word == QLatin1String("mrb"))
        request = parse_mrb_request(fields, lineNo, states, message_text, tables.symbols);
    else if (word == QLatin1String("mrd"))
        request = parse_mrd_request(fields, lineNo, states, message_text, tables.symbols);
    else if (word == QLatin1String("mw") || word == QLatin1String("mww"))
        request = parse_mw_request(fields, lineNo, states, message_text, tables.symbols);
    else if (word == QLatin1String("mwb"))
        request = parse_mwb_request(fields, lineNo, states, message_text, tables.symbols);
    else if (word == QLatin1String("mwd"))
        request = parse_mwd_request(fields, lineNo, states, message_text, tables.symbols);
    else {
        result.log.append(darkred(lineNo, QStringLiteral("Unknown request !")));
        return result;
    }

    if (request)
        result.requests.append(request);
    if (message_text != QLatin1String(" "))
        result.log.append(message_text);
    return result;
}
