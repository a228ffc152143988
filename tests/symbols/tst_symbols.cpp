#include <QtTest>
#include <QtEndian>

#include "SymbolMaps.h"
#include "test_support.h"

#include <fcntl.h>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kFirstSource[] =
    "    .text\n"
    "    .globl _start\n"
    "_start: nop\n"
    "text_label: nop\n"
    "    .globl abc\n"
    "    .set abc, 0x1000\n"
    "    .globl gs_PilotToneIdx\n"
    "    .set gs_PilotToneIdx, 0x2000\n"
    "    .set gsa_RxPilotTone, 0x2004\n"
    "    .set ___x, 0x10\n"
    "    .set __LSI1, 0x11\n"
    "    .set __etext_x, 0x12\n"
    "    .set __edata, 0x13\n"
    "    .set gcc2_compiled., 0x14\n"
    "    .set gcc2_compiled.x, 0x15\n"
    "    .set _one, 0x16\n"
    "    .set .Lhidden, 0x17\n"
    "    .set \"$d\", 0x18\n"
    "    .set same1, 0x3000\n"
    "    .set same2, 0x3000\n"
    "    .set dup, 0x4000\n"
    "    .data\n"
    "value: .long 1\n";
const char kSecondSource[] =
    "    .set dup, 0x5000\n"
    "    .set __etex, 0x19\n";

struct Section
{
    quint32 header; // file offset of the section header
    quint32 offset;
    quint32 size;
};

quint32 get32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

void put32(QByteArray &bytes, int at, quint32 value)
{
    qToLittleEndian(value, bytes.data() + at);
}

void swap_bytes(QByteArray &bytes, int at, int width)
{
    std::reverse(bytes.begin() + at, bytes.begin() + at + width);
}

// Section headers of a little-endian ELF32 image, by name.
QMap<QString, Section> sections_of(const QByteArray &elf)
{
    const quint32 shoff = get32(elf, 32);
    const int shnum = qFromLittleEndian<quint16>(elf.constData() + 48);
    const int shstrndx = qFromLittleEndian<quint16>(elf.constData() + 50);
    const quint32 names = get32(elf, int(shoff + 40 * shstrndx + 16));
    QMap<QString, Section> result;
    for (int i = 0; i < shnum; ++i) {
        const int header = int(shoff + 40 * i);
        const QString name = QString::fromLatin1(elf.constData() + names + get32(elf, header));
        result.insert(name, {quint32(header), get32(elf, header + 16), get32(elf, header + 20)});
    }
    return result;
}

} // namespace

class TestSymbols : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void matchesReadelf();
    void nonAsciiName();
    void symtabEntryCount_data();
    void symtabEntryCount();
    void hostileFiles_data();
    void hostileFiles();
    void nameOutsideStrtab();
    void nonRegularPaths();
    void emptyTable();
    void overFile();

private:
    QString build(const QString &name, bool elf64, const QByteArray &extra = QByteArray());
    // readelf's view of the symbol table (rows first..last), through the
    // loader's name filters and key rule.
    void readelf_maps(const QString &path, int first, int last, QMap<QString, quint32> &byName,
                      QMap<quint32, QString> &byValue);
    QString write(const QString &name, const QByteArray &bytes);

    QTemporaryDir m_dir;
    QString m_elf;
    QByteArray m_bytes;
    QMap<QString, Section> m_sections;
};

QString TestSymbols::build(const QString &name, bool elf64, const QByteArray &extra)
{
    // One folder per image, so that the object files' names (kept as FILE
    // symbols) are the same in every image.
    if (!QDir(m_dir.path()).mkpath(name))
        return QString();
    const QString first = m_dir.filePath(name + "/a.s"), second = m_dir.filePath(name + "/b.s");
    const QList<QPair<QString, QByteArray>> sources = {{first, kFirstSource},
                                                       {second, kSecondSource + extra}};
    for (const auto &source : sources) {
        QFile file(source.first);
        if (!file.open(QIODevice::WriteOnly) || file.write(source.second) < 0)
            return QString();
    }
    const QString out = m_dir.filePath(name + ".out");
    const QString asFlag = elf64 ? "--64" : "--32";
    const QList<QStringList> steps = {
        {"as", asFlag, "-L", "-o", first + ".o", first},
        {"as", asFlag, "-L", "-o", second + ".o", second},
        {"ld", "-m", elf64 ? "elf_x86_64" : "elf_i386", "--discard-none", "-o", out, first + ".o",
         second + ".o"},
    };
    for (QStringList step : steps) {
        const QString program = step.takeFirst();
        if (QProcess::execute(program, step) != 0)
            return QString();
    }
    return out;
}

void TestSymbols::readelf_maps(const QString &path, int first, int last,
                               QMap<QString, quint32> &byName, QMap<quint32, QString> &byValue)
{
    QProcess readelf;
    readelf.start("readelf", {"-sW", path});
    QVERIFY(readelf.waitForFinished());
    const QStringList lines = QString::fromLocal8Bit(readelf.readAllStandardOutput()).split('\n');
    static const QRegularExpression row(
        R"(^\s*(\d+):\s+([0-9a-f]+)\s+\S+\s+\S+\s+\S+\s+\S+\s+\S+\s?(.*)$)");
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = row.match(line);
        const int number = match.hasMatch() ? match.captured(1).toInt() : -1;
        if (number < first || number > last)
            continue;
        const QString name = match.captured(3);
        if (name.isEmpty() || name.startsWith("___") || name.startsWith("__LSI")
            || name.startsWith("__etext") || name.startsWith("__edata") || name == "gcc2_compiled."
            || name.startsWith('.') || name.startsWith('$'))
            continue;
        const quint32 value = match.captured(2).toUInt(nullptr, 16);
        byName[name + "_"] = value;
        byValue[value] = name + "_";
    }
}

QString TestSymbols::write(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

void TestSymbols::initTestCase()
{
    for (const char *tool : {"as", "ld", "readelf"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP("the binutils (as, ld, readelf) are needed to make the test files");
    }
    QVERIFY(m_dir.isValid());
    m_elf = build("firmware", false);
    QVERIFY(!m_elf.isEmpty());
    QFile file(m_elf);
    QVERIFY(file.open(QIODevice::ReadOnly));
    m_bytes = file.readAll();
    m_sections = sections_of(m_bytes);
    QVERIFY(m_sections.contains(".symtab") && m_sections.contains(".strtab"));
}

void TestSymbols::matchesReadelf()
{
    const SymbolMaps maps(m_elf);
    QMap<QString, quint32> byName;
    QMap<quint32, QString> byValue;
    readelf_maps(m_elf, 0, INT_MAX, byName, byValue);
    QCOMPARE(maps.byName, byName);
    QCOMPARE(maps.byValue, byValue);

    QCOMPARE(maps.addressOf("abc_"), 4096);
    QCOMPARE(maps.addressOf("abc"), -1);
    QCOMPARE(maps.addressOf("ABC_"), -1);
    QCOMPARE(maps.nameAt(4096), QStringLiteral("abc_"));
    QCOMPARE(maps.pilotToneIndexAddress(), 0x2000u);
    QCOMPARE(maps.rxPilotToneAddress(), 0x2004u);
    QCOMPARE(maps.addressOf("dup_"), 0x5000);
    QCOMPARE(maps.nameAt(0x3000), QStringLiteral("same2_"));
    QCOMPARE(maps.addressOf("same1_"), 0x3000);
    for (const char *kept : {"gcc2_compiled.x_", "_one_", "__etex_", "text_label_"})
        QVERIFY2(maps.byName.contains(kept), kept);
    for (const char *dropped : {"___x_", "__LSI1_", "__etext_x_", "__edata_", "gcc2_compiled._",
                                ".Lhidden_", "$d_"})
        QVERIFY2(!maps.byName.contains(dropped), dropped);
}

void TestSymbols::nonAsciiName()
{
    // A name outside ASCII takes the loader's other path: same tables.
    const QString path = build("latin", false, "    .set \"gr\xc3\xb6\xc3\x9f" "e\", 0x6000\n");
    QVERIFY(!path.isEmpty());
    SymbolMaps maps(path);
    QCOMPARE(maps.byName.size(), SymbolMaps(m_elf).byName.size() + 1);
    maps.byName.remove(maps.byValue.take(0x6000));
    const SymbolMaps ascii(m_elf);
    QCOMPARE(maps.byName, ascii.byName);
    QCOMPARE(maps.byValue, ascii.byValue);
}

void TestSymbols::symtabEntryCount_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<int>("entries");
    QTest::newRow("40 bytes") << 40u << 2;
    QTest::newRow("47 bytes") << 47u << 2;
    QTest::newRow("16 bytes") << 16u << 1;
    QTest::newRow("15 bytes") << 15u << 0;
}

void TestSymbols::symtabEntryCount()
{
    QFETCH(quint32, size);
    QFETCH(int, entries);
    // Start the table at entry 13 (same1, then same2).
    const Section symtab = m_sections.value(".symtab");
    QByteArray bytes = m_bytes;
    put32(bytes, int(symtab.header + 16), symtab.offset + 13 * 16);
    put32(bytes, int(symtab.header + 20), size);
    const SymbolMaps maps(write("count.out", bytes));
    QMap<QString, quint32> byName;
    QMap<quint32, QString> byValue;
    if (entries)
        readelf_maps(m_elf, 13, 13 + entries - 1, byName, byValue);
    QCOMPARE(maps.byName, byName);
    QCOMPARE(maps.byValue, byValue);
    QCOMPARE(maps.isEmpty(), entries == 0);
}

void TestSymbols::hostileFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    if (m_bytes.isEmpty())
        QSKIP("no test file");

    QSet<int> cuts{0, 3, 4, 5, 16, 32, 46, 48, 50, 51, 52, m_bytes.size() - 1};
    for (const Section &section : m_sections) {
        cuts << int(section.offset) << int(section.offset + section.size / 2)
             << int(section.header) << int(section.header + 20);
    }
    for (int cut : cuts) {
        if (cut < m_bytes.size())
            QTest::addRow("truncated at %d", cut) << m_bytes.left(cut);
    }

    auto edited = [this](const char *tag, const std::function<void(QByteArray &)> &edit) {
        QByteArray bytes = m_bytes;
        edit(bytes);
        QTest::newRow(tag) << bytes;
    };
    auto patched = [&](const char *tag, const char *section, int field, quint32 value) {
        const int header = int(m_sections.value(section).header);
        edited(tag, [=](QByteArray &b) { put32(b, header + field, value); });
    };
    const quint32 size = quint32(m_bytes.size());
    patched("symtab past the end", ".symtab", 16, size);
    patched("strtab partly past the end", ".strtab", 16, size - 2);
    patched("shstrtab past the end", ".shstrtab", 16, 0xFFFFFFF0u);
    patched("huge symtab", ".symtab", 20, 0xFFFFFFF0u);
    patched("huge strtab", ".strtab", 20, 0xFFFFFFFFu);
    patched("huge shstrtab", ".shstrtab", 20, 0x7FFFFFFFu);
    patched("section names outside shstrtab", ".shstrtab", 20, 0);
    edited("shoff past the end", [](QByteArray &b) { put32(b, 32, 0xFFFFFF00u); });
    edited("shnum huge", [](QByteArray &b) { b[48] = b[49] = char(0xFF); });
    edited("no shstrndx", [](QByteArray &b) { b[50] = b[51] = 0; });
    edited("shstrndx out of range", [](QByteArray &b) { b[50] = char(200); });
    edited("shentsize 0", [](QByteArray &b) { b[46] = b[47] = 0; });
    const quint32 names = m_sections.value(".shstrtab").offset;
    edited("no .strtab", [&](QByteArray &b) { b[b.indexOf(".strtab", int(names)) + 1] = 'X'; });
    edited("no .symtab", [&](QByteArray &b) { b[b.indexOf(".symtab", int(names)) + 1] = 'X'; });

    QFile elf64(build("firmware64", true));
    QVERIFY(elf64.open(QIODevice::ReadOnly));
    QTest::newRow("ELF64") << elf64.readAll();

    // The same image with every field the reader uses in big-endian order.
    QByteArray bytes = m_bytes;
    bytes[5] = char(2);
    swap_bytes(bytes, 32, 4);
    for (int at : {46, 48, 50})
        swap_bytes(bytes, at, 2);
    for (const Section &section : m_sections) {
        for (int field : {0, 16, 20})
            swap_bytes(bytes, int(section.header) + field, 4);
    }
    const Section symtab = m_sections.value(".symtab");
    for (quint32 entry = symtab.offset; entry < symtab.offset + symtab.size; entry += 16) {
        swap_bytes(bytes, int(entry), 4);
        swap_bytes(bytes, int(entry) + 4, 4);
    }
    QTest::newRow("big-endian") << bytes;
    QTest::newRow("not ELF") << QByteArray("mr 0x100 2\n").repeated(10);
}

void TestSymbols::hostileFiles()
{
    QFETCH(QByteArray, bytes);
    const QString path = write("hostile.out", bytes);
    QVERIFY(!path.isEmpty());
    const SymbolMaps maps(path);
    QVERIFY(maps.isEmpty());
    QVERIFY(maps.byValue.isEmpty());
}

void TestSymbols::nameOutsideStrtab()
{
    // Entry 13 (same1) names a string past the end of ".strtab".
    QByteArray bytes = m_bytes;
    const Section symtab = m_sections.value(".symtab");
    put32(bytes, int(symtab.offset + 13 * 16), m_sections.value(".strtab").size);
    const SymbolMaps maps(write("badname.out", bytes));
    QVERIFY(!maps.byName.contains("same1_"));
    QCOMPARE(maps.addressOf("same2_"), 0x3000);
    QCOMPARE(maps.addressOf("abc_"), 0x1000);
}

void TestSymbols::nonRegularPaths()
{
    const QString fifo = m_dir.filePath("fifo.out");
    QCOMPARE(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    auto load = std::async(std::launch::async, [fifo] { return SymbolMaps(fifo).isEmpty(); });
    if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Release the blocked reader before failing.
        const int fd = open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            close(fd);
        load.wait();
        QFAIL("loading a FIFO blocked");
    }
    QVERIFY(load.get());
    for (const QString &path : {m_dir.path(), QStringLiteral("/dev/null"), m_dir.filePath("none")})
        QVERIFY2(SymbolMaps(path).isEmpty(), qPrintable(path));
}

void TestSymbols::emptyTable()
{
    const SymbolMaps maps{QString()};
    QVERIFY(maps.isEmpty());
    QCOMPARE(maps.addressOf("abc_"), -1);
    QCOMPARE(maps.pilotToneIndexAddress(), 0u);
    QCOMPARE(maps.rxPilotToneAddress(), 0u);
    QCOMPARE(maps.nameAt(0), QString(""));
    QVERIFY(!maps.nameAt(0).isNull());

    const QString over = m_dir.filePath("modemhwe_symbol.over");
    maps.writeOverFile(m_dir.path(), nullptr);
    QFile file(over);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray());
}

void TestSymbols::overFile()
{
    SymbolMaps maps{QString()};
    maps.byName = {{"b_", 4294967295u}, {"B_", 16}, {"a_", 0}};
    QTemporaryDir folder;
    QFile old(folder.filePath("modemhwe_symbol.over"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("older and longer content\n");
    old.close();

    maps.writeOverFile(folder.path(), nullptr);
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("B_ , 16\na_ , 0\nb_ , 4294967295\n"));

    // An unwritable folder: the box is shown, answered, and no file is left.
    ModalAnswerer answerer;
    const QString missing = folder.filePath("missing");
    maps.writeOverFile(missing, nullptr);
    QCOMPARE(answerer.seen, QStringList{"ERROR|The symbol table needed for the Quillet could not be "
                                        "opened ! Vemu will try to generate the HTML report anyways."});
    QVERIFY(!QFile::exists(missing + "/modemhwe_symbol.over"));
}

QTEST_MAIN(TestSymbols)
#include "tst_symbols.moc"
