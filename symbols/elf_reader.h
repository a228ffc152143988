#ifndef ELF_READER_H
#define ELF_READER_H

// Room symbols/: the firmware ELF32 symbol table; no window.

// Reader of the firmware's ELF32 symbol file. Every function opens the file
// itself and closes it before returning; results are 1 / 0 (or an index /
// -1) and the diagnostics go to standard output. Files that are not ELF32 in
// the host's byte order, or whose tables point outside the file, are refused.

#include <elf.h>

#include <QMap>
#include <QString>

int ElfReadFileHeader(const char *path, Elf32_Ehdr *header);
int ElfReadSectionHeader(const char *path, int section, Elf32_Shdr *header);
// Loads the section-name string table into the module's buffer.
int ElfReadSectionNames(const char *path);
int ElfGetSectionNumber(const char *path, const char *name);
// Loads ".strtab" into the module's buffer.
int ElfReadSymbolNames(const char *path);
int ElfLoadSymbolMaps(const char *path, QMap<QString, quint32> &byName,
                      QMap<quint32, QString> &byValue);
int ElfFreeSymbolNames(void);
int ElfFreeSectionNames(void);

#endif
