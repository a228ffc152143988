#include "SymbolMaps.h"

#include "elf_reader.h"

#include <QFile>
#include <QMessageBox>

SymbolMaps::SymbolMaps(const QString &path)
{
    ElfLoadSymbolMaps(path.toLocal8Bit().constData(), byName, byValue);
}

bool SymbolMaps::isEmpty() const
{
    return byName.isEmpty();
}

qint32 SymbolMaps::addressOf(const QString &key) const
{
    const auto it = byName.constFind(key);
    return it == byName.constEnd() ? -1 : qint32(it.value());
}

quint32 SymbolMaps::pilotToneIndexAddress() const
{
    return byName.value(QStringLiteral("gs_PilotToneIdx_"), 0);
}

quint32 SymbolMaps::rxPilotToneAddress() const
{
    return byName.value(QStringLiteral("gsa_RxPilotTone_"), 0);
}

QString SymbolMaps::nameAt(quint32 address) const
{
    return byValue.value(address, QString(""));
}

void SymbolMaps::writeOverFile(QString folder, QWidget *parent) const
{
    QFile file(folder + QStringLiteral("/modemhwe_symbol.over"));
    if (file.exists())
        file.remove();
    if (!file.open(QIODevice::WriteOnly)) {
        QMessageBox::critical(parent, QStringLiteral("ERROR"),
                              QStringLiteral("The symbol table needed for the Quillet could not be "
                                             "opened ! Vemu will try to generate the HTML report "
                                             "anyways."),
                              QMessageBox::Ok);
        file.remove();
        return;
    }
    QByteArray text;
    for (auto it = byName.constBegin(); it != byName.constEnd(); ++it)
        text += it.key().toLocal8Bit() + " , " + QByteArray::number(it.value()) + '\n';
    file.write(text);
}
