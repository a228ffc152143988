// Parsing a request script of 10,000 lines.

#include "SymbolMaps.h"
#include "message.h"
#include "script_parser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int kLines = 10000, kRuns = 7;

    QHash<QString, uchar> groups;
    fill_cmv_groups(groups);
    SymbolMaps symbols{QString()};
    for (int i = 0; i < 5000; ++i)
        symbols.byName.insert(QStringLiteral("gs_variable_%1_").arg(i), 0x200000 + 4 * i);
    ScriptTables tables;
    tables.cmvGroups = &groups;
    tables.symbols = &symbols;

    const QStringList patterns = {
        "cr STAT 0 0", "CR cntr 35 0 2 [,7,8,9,]", "cw DSL 5 0 0x1F", "mr 0x1000 2 // note",
        "mrb gs_variable_%1_ 30", "mrd 0x2000 65 [7,8]", "mw 0x100 1 0xABCD", "mwd 0x100 1 7",
        "mwb\t0x101 1 0xFF", "# comment", "afe korra 0x300", "mr 0x1001 4", "cr XYZ 1 2",
    };
    QStringList script;
    for (int i = 0; i < kLines; ++i)
        script << QString(patterns.at(i % patterns.size())).replace("%1", QString::number(i % 5000));

    std::vector<double> times;
    int requests = 0, messages = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        requests = messages = 0;
        QList<message *> all;
        quint32 lineNo = 0;
        for (const QString &line : script) {
            const ScriptLineResult result = parse_script_line(line, ++lineNo, tables);
            all += result.requests;
            messages += result.log.size();
        }
        times.push_back(timer.nsecsElapsed() / 1e6);
        requests = all.size();
        qDeleteAll(all);
    }
    std::sort(times.begin(), times.end());
    printf("script lines: %d, requests: %d, log lines: %d\n", kLines, requests, messages);
    printf("parse time: %.2f ms (median of %d)\n", times[times.size() / 2], kRuns);
    return 0;
}
