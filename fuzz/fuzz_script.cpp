// Parses the fuzz input as a request script and builds every request's
// packets on both platforms.

#include "SymbolMaps.h"
#include "message.h"
#include "script_parser.h"

#include <QHash>
#include <QString>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QHash<QString, uchar> groups;
    static SymbolMaps *symbols = nullptr;
    if (!symbols) {
        fill_cmv_groups(groups);
        symbols = new SymbolMaps(QString());
        symbols->byName.insert(QStringLiteral("gs_PilotToneIdx_"), 0x20A000);
        symbols->byName.insert(QStringLiteral("gsa_RxPilotTone_"), 0x20A100);
        symbols->byName.insert(QStringLiteral("odd_"), 0x1001);
    }
    ScriptTables tables;
    tables.cmvGroups = &groups;
    tables.symbols = symbols;

    const QString text = QString::fromLocal8Bit(reinterpret_cast<const char *>(data), int(size));
    const QStringList lines = text.split(QLatin1Char('\n'));
    static const quint16 states[] = {1, 7, 107, 65535};
    quint32 lineNo = 0;
    for (const QString &line : lines) {
        ScriptLineResult result = parse_script_line(line, ++lineNo, tables);
        if (result.requests.size() != 3 * result.afeRegisters.size()
            && !result.afeRegisters.isEmpty())
            __builtin_trap();
        for (message *request : result.requests) {
            for (quint16 state : states) {
                // Bounded: a long read is cut after a few chunks.
                for (int chunk = 0; chunk < 4; ++chunk) {
                    bool done = true;
                    const QByteArray packet = request->buildPacket(&done, &state);
                    if (!packet.isEmpty() && packet.size() != 12 && packet.size() != 14
                        && packet.size() != 16)
                        __builtin_trap();
                    if (done)
                        break;
                }
                request->reset_progress();
                for (int chunk = 0; chunk < 4; ++chunk) {
                    bool done = true;
                    const QByteArray packet = request->buildPacket32(&done, &state);
                    if (!packet.isEmpty() && packet.size() != 32)
                        __builtin_trap();
                    if (done)
                        break;
                }
                request->reset_progress();
            }
            request->toString();
            request->address();
        }
        qDeleteAll(result.requests);
    }
    return 0;
}
