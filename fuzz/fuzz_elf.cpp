// Loads the fuzz input as a firmware symbol file.

#include "SymbolMaps.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

static char s_path[64];

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    snprintf(s_path, sizeof s_path, "/tmp/fuzz_elf_%d.out", int(getpid()));
    atexit([] { unlink(s_path); });
    // The reader reports on stdout; libFuzzer reports on stderr.
    return freopen("/dev/null", "w", stdout) ? 0 : 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FILE *file = fopen(s_path, "wb");
    const bool written = file && fwrite(data, 1, size, file) == size;
    if (!file || fclose(file) != 0 || !written)
        return 0;
    // Every key is a name with "_" appended, found in both maps.
    const SymbolMaps maps(QString::fromLocal8Bit(s_path));
    for (auto it = maps.byValue.cbegin(); it != maps.byValue.cend(); ++it) {
        if (!it.value().endsWith(QLatin1Char('_')) || !maps.byName.contains(it.value()))
            __builtin_trap();
    }
    return 0;
}
