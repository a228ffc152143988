// Loading a large firmware symbol file into SymbolMaps, against nm on the
// same file.

#include "SymbolMaps.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kSymbols = 50000;
const int kRuns = 7;

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

QString make_elf(const QTemporaryDir &dir)
{
    const QString source = dir.filePath("big.s");
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly))
        return QString();
    QByteArray text = "    .text\n    .globl _start\n_start: ret\n    .data\n";
    for (int i = 0; i < kSymbols; ++i) {
        // A mix of global and local symbols, as a firmware image has.
        if (i % 3 != 0)
            text += "    .globl gs_variable_" + QByteArray::number(i) + "\n";
        text += "gs_variable_" + QByteArray::number(i) + ": .long " + QByteArray::number(i) + "\n";
    }
    file.write(text);
    file.close();
    const QString object = dir.filePath("big.o"), out = dir.filePath("big.out");
    if (!run("as", {"--32", "-o", object, source})
        || !run("ld", {"-m", "elf_i386", "-o", out, object}))
        return QString();
    return out;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString elf = make_elf(dir);
    if (elf.isEmpty()) {
        fprintf(stderr, "bench_symbols: as/ld could not build the test file\n");
        return 1;
    }

    std::vector<double> loadMs, nmMs;
    int loaded = 0;
    for (int run = 0; run < kRuns; ++run) {
        QElapsedTimer timer;
        timer.start();
        const SymbolMaps maps(elf);
        loadMs.push_back(timer.nsecsElapsed() / 1e6);
        loaded = maps.byName.size();

        QProcess nm;
        timer.start();
        nm.start("nm", {elf});
        nm.waitForFinished(-1);
        const QByteArray listing = nm.readAllStandardOutput();
        nmMs.push_back(timer.nsecsElapsed() / 1e6);
        if (nm.exitCode() != 0 || listing.isEmpty()) {
            fprintf(stderr, "bench_symbols: nm failed\n");
            return 1;
        }
    }
    const double load = median(loadMs), nm = median(nmMs);
    printf("symbols in file: %d, keys loaded: %d\n", kSymbols, loaded);
    printf("SymbolMaps load: %.2f ms (median of %d)\n", load, kRuns);
    printf("nm:              %.2f ms (median of %d)\n", nm, kRuns);
    printf("ratio load/nm:   %.2f (%s than nm)\n", load / nm, load < nm ? "faster" : "slower");
    return 0;
}
