#ifndef SYMBOLMAPS_H
#define SYMBOLMAPS_H

// Room symbols/: the firmware ELF32 symbol table; no window.

#include <QMap>
#include <QString>

class QWidget;

// The firmware's symbol table. Keys are the ELF names with "_" appended;
// an empty table means that no usable symbol file was given.
class SymbolMaps
{
public:
    explicit SymbolMaps(const QString &path);

    bool isEmpty() const;
    // Address stored under exactly this key, or -1.
    qint32 addressOf(const QString &key) const;
    quint32 pilotToneIndexAddress() const;
    quint32 rxPilotToneAddress() const;
    QString nameAt(quint32 address) const;
    // Writes "modemhwe_symbol.over" into the folder for the report tool.
    void writeOverFile(QString folder, QWidget *parent) const;

    QMap<quint32, QString> byValue;
    QMap<QString, quint32> byName;
};

#endif
