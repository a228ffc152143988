#include <QtTest>
#include <QtEndian>

#include "SymbolMaps.h"

#include <functional>
#include <sys/stat.h>

namespace {

// Linked by ld at its usual base, 0x08048000: the labels lie above 4 MB.
const char kFirst[] = ".text\n.globl _start\n_start: nop\ntext_label: nop\n.set abc, 0x1000\n.set gs_PilotToneIdx, 0x2000\n"
                      ".set gsa_RxPilotTone, 0x2004\n.set ___x, 0x10\n.set __LSI1, 0x11\n.set __etext_x, 0x12\n.set __edata, 0x13\n"
                      ".set gcc2_compiled., 0x14\n.set gcc2_compiled.x, 0x15\n.set _one, 0x16\n.set .Lhidden, 0x17\n.set \"$d\", 0x18\n"
                      ".set same1, 0x3000\n.set same2, 0x3000\n.set dup, 0x4000\n.data\nvalue: .long 1\n";

quint32 get32(const QByteArray &b, quint32 at) { return qFromLittleEndian<quint32>(b.constData() + at); }
void put32(QByteArray &b, quint32 at, quint32 value) { qToLittleEndian(value, b.data() + at); }

QByteArray file_bytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

// Two object files, each in a folder of its own so that their FILE symbols are alike in every image.
QString build(const QString &dir, const QString &name, const QByteArray &extra, bool elf64 = false)
{
    const QString a = dir + "/" + name + "/a.s", b = dir + "/" + name + "/b.s", as = elf64 ? "--64" : "--32";
    QDir(dir).mkpath(name);
    QFile first(a), second(b);
    if (!first.open(QIODevice::WriteOnly) || !second.open(QIODevice::WriteOnly) || first.write(kFirst) < 0
        || second.write(".set dup, 0x5000\n.set __etex, 0x19\n" + extra) < 0)
        return QString();
    first.close(), second.close();
    const bool ok = QProcess::execute("as", {as, "-L", "-o", a + ".o", a}) == 0 && QProcess::execute("as", {as, "-L", "-o", b + ".o", b}) == 0
        && QProcess::execute("ld", {"-m", elf64 ? "elf_x86_64" : "elf_i386", "--discard-none", "-o", dir + "/" + name + ".out", a + ".o", b + ".o"}) == 0;
    return ok ? dir + "/" + name + ".out" : QString();
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
    void files_data();
    void files();

private:
    QTemporaryDir m_dir;
};

// Each file is loaded and compared with readelf's rows first..last of the
// image as linked (none when last < first).
void TestSymbols::files_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    const QString elf = build(m_dir.path(), "firmware", "");
    QVERIFY2(!elf.isEmpty(), "as --32 and ld -m elf_i386 make the test files");
    const QByteArray image = file_bytes(elf);
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
    QTest::newRow("as linked") << elf << 0 << INT_MAX;
    // A name outside ASCII takes the loader's other road; it adds one entry.
    QTest::newRow("a name outside ASCII") << build(m_dir.path(), "latin", ".set \"gr\xc3\xb6\xc3\x9f" "e\", 0x6000\n") << 0 << INT_MAX;
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
    QTest::newRow("ELF64") << build(m_dir.path(), "firmware64", "", true) << 0 << -1;
    QTest::newRow("no file") << m_dir.filePath("none") << 0 << -1;
    // Only regular files are opened: a FIFO without a writer would block the reader.
    QCOMPARE(mkfifo(qPrintable(m_dir.filePath("fifo.out")), 0600), 0);
    QTest::newRow("a FIFO") << m_dir.filePath("fifo.out") << 0 << -1;
}

void TestSymbols::files()
{
    QFETCH(QString, path);
    QFETCH(int, first);
    QFETCH(int, last);
    const SymbolMaps maps(path);
    SymbolMaps expected = readelf_maps(m_dir.filePath("firmware.out"), first, last);
    if (path.endsWith("latin.out")) {
        expected.byName.insert(QString::fromUtf8("gr\xc3\xb6\xc3\x9f" "e_"), 0x6000);
        expected.byValue.insert(0x6000, QString::fromUtf8("gr\xc3\xb6\xc3\x9f" "e_"));
    }
    QCOMPARE(maps.byName, expected.byName);
    QCOMPARE(maps.byValue, expected.byValue);
    const QString lookUps = QString("%1 %2 %3 %4 %5").arg(maps.addressOf("abc_")).arg(maps.addressOf("abc"))
        .arg(maps.pilotToneIndexAddress()).arg(maps.rxPilotToneAddress()).arg(maps.nameAt(0x1000));
    QCOMPARE(lookUps, last == INT_MAX ? "4096 -1 8192 8196 abc_" : last < first ? "-1 -1 0 0 " : lookUps);
    // The report tool's table: one line per key in key order, written over an older file.
    QByteArray over;
    for (auto it = expected.byName.cbegin(); it != expected.byName.cend(); ++it)
        over += it.key().toLocal8Bit() + " , " + QByteArray::number(it.value()) + "\n";
    QFile file(m_dir.filePath("modemhwe_symbol.over"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("an older and longer file\n" + over) > 0);
    file.close();
    maps.writeOverFile(m_dir.path(), nullptr);
    QCOMPARE(file_bytes(file.fileName()), over);
}

QTEST_MAIN(TestSymbols)
#include "tst_symbols.moc"
