#include "elf_reader.h"

#include <QtEndian>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const size_t kSymbolEntrySize = 16;

// String tables loaded by ElfReadSectionNames / ElfReadSymbolNames. Each
// buffer gets one zero byte past the section's data, so that a name running
// to the end of its section still ends inside the buffer.
char *s_sectionNames = nullptr;
size_t s_sectionNamesSize = 0;
char *s_symbolNames = nullptr;
size_t s_symbolNamesSize = 0;

// Opens regular files only: a FIFO or a device could block or never end.
// O_NONBLOCK keeps the open itself from waiting on a FIFO without writer.
FILE *elf_open(const char *path, quint64 *fileSize)
{
    if (!path)
        return nullptr;
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return nullptr;
    }
    FILE *file = fdopen(fd, "rb");
    if (!file) {
        close(fd);
        return nullptr;
    }
    *fileSize = quint64(info.st_size);
    return file;
}

bool read_at(FILE *file, quint64 fileSize, quint64 offset, void *buffer, quint64 length)
{
    if (offset > fileSize || length > fileSize - offset)
        return false;
    if (fseeko(file, off_t(offset), SEEK_SET) != 0)
        return false;
    return fread(buffer, 1, size_t(length), file) == size_t(length);
}

bool section_inside_file(const Elf32_Shdr &section, quint64 fileSize)
{
    return quint64(section.sh_offset) + section.sh_size <= fileSize;
}

bool header_usable(const char *path, const Elf32_Ehdr &header, quint64 fileSize)
{
    const unsigned char hostData =
        Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? ELFDATA2LSB : ELFDATA2MSB;
    if (memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS32
        || header.e_ident[EI_DATA] != hostData) {
        printf("<%s> is not an ELF32 file in the host's byte order\n", path);
        return false;
    }
    if (header.e_shnum == 0)
        return true;
    // Each header must hold a whole section header, and the table must lie
    // in the file; this also bounds e_shnum by the file's size.
    if (header.e_shentsize < sizeof(Elf32_Shdr)
        || quint64(header.e_shoff) + quint64(header.e_shnum) * header.e_shentsize > fileSize) {
        printf("The section header table of <%s> does not fit in the file\n", path);
        return false;
    }
    return true;
}

bool read_file_header(FILE *file, quint64 fileSize, const char *path, Elf32_Ehdr *header)
{
    if (!read_at(file, fileSize, 0, header, sizeof(Elf32_Ehdr))) {
        printf("<%s> is too short for an ELF32 file header\n", path);
        return false;
    }
    return header_usable(path, *header, fileSize);
}

bool read_section_header(FILE *file, quint64 fileSize, const Elf32_Ehdr &fileHeader, int section,
                         Elf32_Shdr *header)
{
    const quint64 offset = quint64(fileHeader.e_shoff) + quint64(section) * fileHeader.e_shentsize;
    return read_at(file, fileSize, offset, header, sizeof(Elf32_Shdr));
}

bool refuse_section(int section, const Elf32_Ehdr &fileHeader)
{
    if (section >= 0 && section < fileHeader.e_shnum)
        return false;
    printf("Invalid Section <%u> defined in \"ElfReadSectionInfo\"\n", unsigned(section));
    printf("There are only <%u> sections defined\n", unsigned(fileHeader.e_shnum));
    return true;
}

// Loads a section's data plus a closing zero byte into a new buffer.
char *load_section(const char *path, const Elf32_Shdr &section, size_t *size)
{
    quint64 fileSize = 0;
    FILE *file = elf_open(path, &fileSize);
    if (!file) {
        printf("Unable to open file <%s>\n", path);
        return nullptr;
    }
    char *buffer = nullptr;
    if (!section_inside_file(section, fileSize)) {
        printf("A section of <%s> lies outside the file\n", path);
    } else {
        buffer = static_cast<char *>(malloc(size_t(section.sh_size) + 1));
        if (buffer && read_at(file, fileSize, section.sh_offset, buffer, section.sh_size)) {
            buffer[section.sh_size] = '\0';
            *size = section.sh_size;
        } else {
            printf("Unable to read a section of <%s>\n", path);
            free(buffer);
            buffer = nullptr;
        }
    }
    fclose(file);
    return buffer;
}

bool skipped_name(const char *name)
{
    if (name[0] == '\0' || name[0] == '.' || name[0] == '$')
        return true;
    return strncmp(name, "___", 3) == 0 || strncmp(name, "__LSI", 5) == 0
        || strncmp(name, "__etext", 7) == 0 || strncmp(name, "__edata", 7) == 0
        || strcmp(name, "gcc2_compiled.") == 0;
}

struct Symbol
{
    const char *name;
    quint32 length;
    quint32 value;
    quint32 position; // in the symbol table
};

QString key_of(const char *name)
{
    QByteArray key(name);
    key += '_';
    return QString::fromLocal8Bit(key);
}

// Entries in table order: a later entry overwrites an earlier one.
void fill_maps_in_order(const std::vector<Symbol> &symbols, QMap<QString, quint32> &byName,
                        QMap<quint32, QString> &byValue)
{
    for (const Symbol &symbol : symbols) {
        const QString key = key_of(symbol.name);
        byName.insert(key, symbol.value);
        byValue.insert(symbol.value, key);
    }
}

// Orders names as their keys (name + "_") compare, byte by byte.
int key_compare(const Symbol &a, const Symbol &b)
{
    const quint32 common = std::min(a.length, b.length);
    const int order = memcmp(a.name, b.name, common);
    if (order != 0 || a.length == b.length)
        return order;
    // The shorter key goes on with "_", the longer with its next byte.
    const unsigned char next = a.length < b.length ? static_cast<unsigned char>(b.name[common])
                                                   : static_cast<unsigned char>(a.name[common]);
    if (next != '_')
        return (a.length < b.length) == ('_' < next) ? -1 : 1;
    return a.length < b.length ? -1 : 1;
}

int symbol_order(const void *a, const void *b)
{
    const Symbol &left = *static_cast<const Symbol *>(a);
    const Symbol &right = *static_cast<const Symbol *>(b);
    const int order = key_compare(left, right);
    if (order != 0)
        return order;
    return left.position < right.position ? -1 : left.position > right.position ? 1 : 0;
}

int number_order(const void *a, const void *b)
{
    const quint64 left = *static_cast<const quint64 *>(a);
    const quint64 right = *static_cast<const quint64 *>(b);
    return left < right ? -1 : left > right ? 1 : 0;
}

// The same result as fill_maps_in_order for ASCII names, whose byte order is
// the keys' order: entries are sorted with their table position as the last
// criterion, the last of each run wins, and the maps are built in key order,
// which spares the text comparisons of a tree insert. Firmware images hold
// tens of thousands of symbols.
void fill_maps_sorted(std::vector<Symbol> &symbols, QMap<QString, quint32> &byName,
                      QMap<quint32, QString> &byValue)
{
    const size_t count = symbols.size();
    if (count == 0)
        return;
    qsort(symbols.data(), count, sizeof(Symbol), symbol_order);
    std::vector<QString> keys(count);
    // Value in the high half, table position in the low half: equal values
    // sort in table order.
    std::vector<quint64> values(count);
    std::vector<quint32> runOf(count);
    for (size_t run = 0; run < count;) {
        size_t end = run + 1;
        while (end < count && key_compare(symbols[run], symbols[end]) == 0)
            ++end;
        keys[run] = QString::fromLatin1(symbols[run].name, int(symbols[run].length))
            + QLatin1Char('_');
        byName.insert(byName.constEnd(), keys[run], symbols[end - 1].value);
        for (size_t i = run; i < end; ++i)
            runOf[i] = quint32(run);
        run = end;
    }
    quint32 lastPosition = 0;
    for (size_t i = 0; i < count; ++i) {
        values[i] = (quint64(symbols[i].value) << 32) | symbols[i].position;
        lastPosition = std::max(lastPosition, symbols[i].position);
    }
    qsort(values.data(), count, sizeof(quint64), number_order);
    std::vector<quint32> indexOfPosition(size_t(lastPosition) + 1);
    for (size_t i = 0; i < count; ++i)
        indexOfPosition[symbols[i].position] = quint32(i);
    for (size_t i = 0; i < count; ++i) {
        const quint32 value = quint32(values[i] >> 32);
        if (i + 1 < count && quint32(values[i + 1] >> 32) == value)
            continue;
        const quint32 index = indexOfPosition[quint32(values[i])];
        byValue.insert(byValue.constEnd(), value, keys[runOf[index]]);
    }
}

} // namespace

int ElfReadFileHeader(const char *path, Elf32_Ehdr *header)
{
    quint64 fileSize = 0;
    FILE *file = elf_open(path, &fileSize);
    if (!file) {
        printf("Unable to open file <%s>\n", path ? path : "");
        return 0;
    }
    const bool ok = read_file_header(file, fileSize, path, header);
    fclose(file);
    return ok ? 1 : 0;
}

int ElfReadSectionHeader(const char *path, int section, Elf32_Shdr *header)
{
    Elf32_Ehdr fileHeader;
    if (!ElfReadFileHeader(path, &fileHeader))
        return 0;
    if (refuse_section(section, fileHeader))
        return 0;
    quint64 fileSize = 0;
    FILE *file = elf_open(path, &fileSize);
    if (!file) {
        printf("Unable to open file <%s>\n", path);
        return 0;
    }
    const bool ok = read_section_header(file, fileSize, fileHeader, section, header);
    fclose(file);
    if (!ok)
        printf("Unable to read section <%d> of <%s>\n", section, path);
    return ok ? 1 : 0;
}

int ElfReadSectionNames(const char *path)
{
    ElfFreeSectionNames();
    Elf32_Ehdr fileHeader;
    if (!ElfReadFileHeader(path, &fileHeader))
        return 0;
    if (fileHeader.e_shstrndx == 0) {
        puts("No Section Name String Table (shstrndx) defined");
        return 0;
    }
    Elf32_Shdr section;
    if (!ElfReadSectionHeader(path, fileHeader.e_shstrndx, &section))
        return 0;
    s_sectionNames = load_section(path, section, &s_sectionNamesSize);
    return s_sectionNames ? 1 : 0;
}

int ElfGetSectionNumber(const char *path, const char *name)
{
    Elf32_Ehdr fileHeader;
    if (!ElfReadFileHeader(path, &fileHeader))
        return -1;
    if (!ElfReadSectionNames(path))
        return -1;
    int found = -1;
    quint64 fileSize = 0;
    // One open for the whole walk; every read is bounded by the file's size.
    FILE *file = fileHeader.e_shnum ? elf_open(path, &fileSize) : nullptr;
    if (file) {
        for (int i = 0; i < fileHeader.e_shnum; ++i) {
            Elf32_Shdr section;
            if (!read_section_header(file, fileSize, fileHeader, i, &section))
                break;
            if (section.sh_name < s_sectionNamesSize
                && strcmp(s_sectionNames + section.sh_name, name) == 0) {
                found = i;
                break;
            }
        }
        fclose(file);
    }
    ElfFreeSectionNames();
    return found;
}

int ElfReadSymbolNames(const char *path)
{
    ElfFreeSymbolNames();
    const int section = ElfGetSectionNumber(path, ".strtab");
    if (section < 0) {
        printf("Unable to detect \".strtab\" section in <%s>\n", path);
        return 0;
    }
    Elf32_Shdr header;
    if (!ElfReadSectionHeader(path, section, &header))
        return 0;
    s_symbolNames = load_section(path, header, &s_symbolNamesSize);
    return s_symbolNames ? 1 : 0;
}

int ElfLoadSymbolMaps(const char *path, QMap<QString, quint32> &byName,
                      QMap<quint32, QString> &byValue)
{
    Elf32_Ehdr fileHeader;
    if (!ElfReadFileHeader(path, &fileHeader))
        return 0;
    if (ElfGetSectionNumber(path, ".text") < 0)
        printf("Unable to detect \".text\" section in <%s>\n", path);
    if (!ElfReadSymbolNames(path))
        return 0;
    const int section = ElfGetSectionNumber(path, ".symtab");
    Elf32_Shdr symtab;
    if (section < 0) {
        printf("Unable to detect \".symtab\" section in <%s>\n", path);
        ElfFreeSymbolNames();
        return 0;
    }
    if (!ElfReadSectionHeader(path, section, &symtab)) {
        ElfFreeSymbolNames();
        return 0;
    }
    quint64 fileSize = 0;
    FILE *file = elf_open(path, &fileSize);
    if (!file) {
        printf("Unable to open file %s\n", path);
        ElfFreeSymbolNames();
        return 0;
    }
    if (!section_inside_file(symtab, fileSize)) {
        printf("The section \".symtab\" of <%s> lies outside the file\n", path);
        fclose(file);
        ElfFreeSymbolNames();
        return 0;
    }
    const size_t count = symtab.sh_size / kSymbolEntrySize;
    unsigned char *entries = static_cast<unsigned char *>(malloc(count * kSymbolEntrySize + 1));
    const bool read = entries
        && read_at(file, fileSize, symtab.sh_offset, entries, count * kSymbolEntrySize);
    fclose(file);
    if (!read) {
        printf("Unable to read the section \".symtab\" of <%s>\n", path);
        free(entries);
        ElfFreeSymbolNames();
        return 0;
    }
    std::vector<Symbol> symbols;
    symbols.reserve(count);
    bool ascii = true;
    for (size_t i = 0; i < count; ++i) {
        const unsigned char *entry = entries + i * kSymbolEntrySize;
        const quint32 nameOffset = qFromUnaligned<quint32>(entry);
        // A name outside ".strtab" means a damaged file: its other entries
        // cannot be trusted either, so the whole table is refused.
        if (nameOffset >= s_symbolNamesSize) {
            printf("Symbol <%zu> of <%s> names a string outside \".strtab\"\n", i, path);
            free(entries);
            ElfFreeSymbolNames();
            return 0;
        }
        const char *name = s_symbolNames + nameOffset;
        if (skipped_name(name))
            continue;
        const quint32 length = quint32(strlen(name));
        for (quint32 c = 0; c < length && ascii; ++c)
            ascii = static_cast<unsigned char>(name[c]) < 0x80;
        symbols.push_back({name, length, qFromUnaligned<quint32>(entry + 4), quint32(i)});
    }
    if (ascii)
        fill_maps_sorted(symbols, byName, byValue);
    else
        fill_maps_in_order(symbols, byName, byValue);
    free(entries);
    ElfFreeSymbolNames();
    return 1;
}

int ElfFreeSymbolNames(void)
{
    free(s_symbolNames);
    s_symbolNames = nullptr;
    s_symbolNamesSize = 0;
    return 1;
}

int ElfFreeSectionNames(void)
{
    free(s_sectionNames);
    s_sectionNames = nullptr;
    s_sectionNamesSize = 0;
    return 1;
}
