// Loads the fuzz input as a firmware symbol file.

#include "SymbolMaps.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static char s_path[64];

static void remove_input_file()
{
    unlink(s_path);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    snprintf(s_path, sizeof s_path, "/tmp/fuzz_elf_%d.out", int(getpid()));
    atexit(remove_input_file);
    // The reader reports on stdout; libFuzzer reports on stderr.
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = fopen(s_path, "wb");
    if (!file)
        return 0;
    const bool written = fwrite(data, 1, size, file) == size;
    fclose(file);
    if (!written)
        return 0;
    const SymbolMaps maps(QString::fromLocal8Bit(s_path));
    // Every key must be one of the file's names with "_" appended.
    for (auto it = maps.byValue.cbegin(); it != maps.byValue.cend(); ++it) {
        if (!it.value().endsWith(QLatin1Char('_')) || !maps.byName.contains(it.value()))
            __builtin_trap();
    }
    maps.nameAt(0);
    maps.addressOf(QStringLiteral("abc_"));
    return 0;
}
