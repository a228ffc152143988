#include <QtTest>
#include <QtEndian>

#include "SymbolMaps.h"
#include "test_support.h"

#include <functional>
#include <sys/stat.h>

namespace {

// Linked by ld at its usual base, 0x08048000: the labels lie above 4 MB.
const char kFirst[] = ".text\n.globl _start\n_start: nop\ntext_label: nop\n.set abc, 0x1000\n.set gs_PilotToneIdx, 0x2000\n"
                      ".set gsa_RxPilotTone, 0x2004\n.set ___x, 0x10\n.set __LSI1, 0x11\n.set __etext_x, 0x12\n.set __edata, 0x13\n"
                      ".set gcc2_compiled., 0x14\n.set gcc2_compiled.x, 0x15\n.set _one, 0x16\n.set .Lhidden, 0x17\n.set \"$d\", 0x18\n"
                      ".set same1, 0x3000\n.set same2, 0x3000\n.set dup, 0x4000\n.data\nvalue: .long 1\n";

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

quint32 get32(const QByteArray &b, quint32 at) { return qFromLittleEndian<quint32>(b.constData() + at); }
void put32(QByteArray &b, quint32 at, quint32 value) { qToLittleEndian(value, b.data() + at); }

// One folder per image keeps the object files' FILE symbols alike.
QString build(const QTemporaryDir &dir, const QString &name, const QByteArray &extra, bool elf64 = false)
{
    const QString a = dir.filePath(name + "/a.s"), b = dir.filePath(name + "/b.s"), out = dir.filePath(name + ".out");
    QDir(dir.path()).mkpath(name);
    QFile first(a), second(b);
    const char *as = elf64 ? "--64" : "--32";
    const bool ok = first.open(QIODevice::WriteOnly) && first.write(kFirst) > 0 && second.open(QIODevice::WriteOnly)
        && second.write(".set dup, 0x5000\n.set __etex, 0x19\n" + extra) > 0 && (first.close(), second.close(), true)
        && QProcess::execute("as", {as, "-L", "-o", a + ".o", a}) == 0 && QProcess::execute("as", {as, "-L", "-o", b + ".o", b}) == 0
        && QProcess::execute("ld", {"-m", elf64 ? "elf_x86_64" : "elf_i386", "--discard-none", "-o", out, a + ".o", b + ".o"}) == 0;
    return ok ? out : QString();
}

// readelf's symbol rows first..last, through the loader's filters and key rule.
SymbolMaps readelf_maps(const QString &path, int first, int last)
{
    SymbolMaps maps{QString()};
    QProcess readelf;
    readelf.start("readelf", {"-sW", path});
    readelf.waitForFinished();
    static const QRegularExpression row(R"(^\s*(\d+):\s+([0-9a-f]+)\s+\S+\s+\S+\s+\S+\s+\S+\s+\S+\s?(.*)$)");
    static const QRegularExpression dropped(R"(^(___|__LSI|__etext|__edata|gcc2_compiled\.$|\.|\$|$))");
    for (const QString &line : QString::fromUtf8(readelf.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch m = row.match(line);
        const int number = m.hasMatch() ? m.captured(1).toInt() : -1;
        if (number >= first && number <= last && !dropped.match(m.captured(3)).hasMatch()) {
            maps.byName[m.captured(3) + "_"] = m.captured(2).toUInt(nullptr, 16);
            maps.byValue[m.captured(2).toUInt(nullptr, 16)] = m.captured(3) + "_";
        }
    }
    return maps;
}

} // namespace

class TestSymbols : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void files_data();
    void files();
    void lookUpsAndOverFile();

private:
    QTemporaryDir m_dir;
    QString m_elf;
};

void TestSymbols::initTestCase()
{
    m_elf = build(m_dir, "firmware", "");
    QVERIFY2(!m_elf.isEmpty(), "as --32 and ld -m elf_i386 make the test files");
}

// Each file is loaded and compared with readelf's rows first..last (none when last < first).
void TestSymbols::files_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    const QByteArray image = file_bytes(m_elf);
    // Section header, data offset and size, by name.
    auto section = [&](const char *name) {
        const quint32 shoff = get32(image, 32), names = get32(image, shoff + 40 * qFromLittleEndian<quint16>(image.data() + 50) + 16);
        for (quint32 h = shoff; h < shoff + 40 * qFromLittleEndian<quint16>(image.data() + 48); h += 40) {
            if (qstrcmp(name, image.constData() + names + get32(image, h)) == 0)
                return QVector<quint32>{h, get32(image, h + 16), get32(image, h + 20)};
        }
        return QVector<quint32>{0, 0, 0};
    };
    const QVector<quint32> symtab = section(".symtab"), strtab = section(".strtab"), names = section(".shstrtab");
    auto edit = [&](const QString &tag, const std::function<void(QByteArray &)> &change, int first = 0, int last = -1) {
        QByteArray b = image;
        change(b);
        QFile file(m_dir.filePath(QString("edit%1.out").arg(qHash(tag))));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(b) == b.size());
        QTest::newRow(qPrintable(tag)) << file.fileName() << first << last;
    };
    QTest::newRow("as linked") << m_elf << 0 << INT_MAX;
    // A name outside ASCII takes the loader's other road.
    QTest::newRow("a name outside ASCII") << build(m_dir, "latin", ".set \"gr\xc3\xb6\xc3\x9f" "e\", 0x6000\n") << 0 << INT_MAX;
    // The table cut to start at entry 13 (same1, then same2): its count is size / 16.
    for (quint32 size : {40u, 47u, 16u, 15u}) {
        edit(QString("symtab of %1 bytes").arg(size), [&](QByteArray &b) {
            put32(b, symtab[0] + 16, symtab[1] + 13 * 16);
            put32(b, symtab[0] + 20, size);
        }, 13, 12 + int(size / 16));
    }
    edit("a name outside .strtab", [&](QByteArray &b) { put32(b, symtab[1] + 13 * 16, strtab[2]); });
    for (int cut : {0, 51, int(symtab[1] + symtab[2] / 2), int(strtab[1] + 1), int(names[0] + 20), image.size() - 1})
        edit(QString("cut at %1").arg(cut), [&](QByteArray &b) { b.truncate(cut); });
    edit("symtab past the end", [&](QByteArray &b) { put32(b, symtab[0] + 16, quint32(b.size())); });
    edit("huge strtab", [&](QByteArray &b) { put32(b, strtab[0] + 20, 0xFFFFFFFFu); });
    edit("huge shstrtab", [&](QByteArray &b) { put32(b, names[0] + 20, 0x7FFFFFFFu); });
    edit("shoff past the end", [](QByteArray &b) { put32(b, 32, 0xFFFFFF00u); });
    edit("shnum huge", [](QByteArray &b) { b[48] = b[49] = char(0xFF); });
    edit("no shstrndx", [](QByteArray &b) { b[50] = b[51] = 0; });
    edit("shstrndx out of range", [](QByteArray &b) { b[50] = char(200); });
    edit("shentsize 0", [](QByteArray &b) { b[46] = b[47] = 0; });
    edit("no .strtab", [&](QByteArray &b) { b[b.indexOf(".strtab", int(names[1])) + 1] = 'X'; });
    edit("no .symtab", [&](QByteArray &b) { b[b.indexOf(".symtab", int(names[1])) + 1] = 'X'; });
    edit("big-endian mark", [](QByteArray &b) { b[5] = 2; });
    edit("not ELF", [](QByteArray &b) { b = QByteArray("mr 0x100 2\n").repeated(10); });
    QTest::newRow("ELF64") << build(m_dir, "firmware64", "", true) << 0 << -1;
    QTest::newRow("a folder") << m_dir.path() << 0 << -1;
    QTest::newRow("no file") << m_dir.filePath("none") << 0 << -1;
    QTest::newRow("a device") << "/dev/zero" << 0 << -1;
    // A FIFO without a writer would block a reader that opened it.
    QCOMPARE(mkfifo(qPrintable(m_dir.filePath("fifo.out")), 0600), 0);
    QTest::newRow("a FIFO") << m_dir.filePath("fifo.out") << 0 << -1;
}

void TestSymbols::files()
{
    QFETCH(QString, path);
    QFETCH(int, first);
    QFETCH(int, last);
    const SymbolMaps maps(path);
    SymbolMaps expected = readelf_maps(m_elf, first, last);
    if (path.endsWith("latin.out")) {
        expected.byName.insert(QString::fromUtf8("gr\xc3\xb6\xc3\x9f" "e_"), 0x6000);
        expected.byValue.insert(0x6000, QString::fromUtf8("gr\xc3\xb6\xc3\x9f" "e_"));
    }
    QCOMPARE(maps.byName, expected.byName);
    QCOMPARE(maps.byValue, expected.byValue);
}

void TestSymbols::lookUpsAndOverFile()
{
    SymbolMaps maps(m_elf);
    QCOMPARE(QList<qint64>({maps.addressOf("abc_"), maps.addressOf("abc"), maps.pilotToneIndexAddress(), maps.rxPilotToneAddress()}),
             QList<qint64>({0x1000, -1, 0x2000, 0x2004}));
    QCOMPARE(maps.nameAt(0x1000) + maps.nameAt(0x1001), QString("abc_"));
    QVERIFY(maps.byName.value("text_label_") > 0x08048000u);
    maps.byName = {{"b_", 4294967295u}, {"B_", 16}, {"a_", 0}};
    QFile old(m_dir.filePath("modemhwe_symbol.over"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("older and longer content\n") > 0);
    old.close();
    maps.writeOverFile(m_dir.path(), nullptr);
    QCOMPARE(file_bytes(old.fileName()), QByteArray("B_ , 16\na_ , 0\nb_ , 4294967295\n"));
    SymbolMaps{QString()}.writeOverFile(m_dir.path(), nullptr);
    QCOMPARE(file_bytes(old.fileName()), QByteArray());
    // An unwritable folder: the box is shown, answered, and no file is left.
    ModalAnswerer answerer;
    maps.writeOverFile(m_dir.filePath("missing"), nullptr);
    QCOMPARE(answerer.seen, QStringList{"ERROR|The symbol table needed for the Quillet could not be opened ! "
                                        "Vemu will try to generate the HTML report anyways."});
    QVERIFY(!QFile::exists(m_dir.filePath("missing/modemhwe_symbol.over")));
}

QTEST_MAIN(TestSymbols)
#include "tst_symbols.moc"
