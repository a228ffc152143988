// Parses the fuzz input as a request script and builds every request's
// packets on both platforms.

#include "SymbolMaps.h"
#include "message.h"
#include "script_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QHash<QString, uchar> groups;
    static SymbolMaps symbols{QString()};
    if (groups.isEmpty()) {
        fill_cmv_groups(groups);
        symbols.byName = {{"gs_PilotToneIdx_", 0x20A000}, {"high_", 0x0804A000}, {"odd_", 0x1001}};
    }
    quint32 lineNo = 0;
    for (const QString &line : QString::fromLocal8Bit(reinterpret_cast<const char *>(data), int(size)).split('\n')) {
        const ScriptLineResult result = parse_script_line(line, ++lineNo, {&groups, &symbols});
        if (!result.afeRegisters.isEmpty() && result.requests.size() != 3 * result.afeRegisters.size())
            __builtin_trap();
        for (message *request : result.requests) {
            for (const quint16 state : {1, 7, 107, 65535}) {
                for (const bool korra : {true, false}) {
                    // Bounded: a long read is cut after a few chunks.
                    for (int chunk = 0; chunk < 4; ++chunk) {
                        bool done = true;
                        const int n = (korra ? request->buildPacket(&done, &state) : request->buildPacket32(&done, &state)).size();
                        if (n != 0 && (korra ? n != 12 && n != 14 && n != 16 : n != 32))
                            __builtin_trap();
                        if (done)
                            break;
                    }
                    request->reset_progress();
                }
            }
        }
        qDeleteAll(result.requests);
    }
    return 0;
}
