// The request script and the choice of the symbol file.

#include "Vemu.h"
#include "ui_Vemu.h"

#include <QFile>

void Vemu::parse_input_file() {}
QString Vemu::parse_afe_read(QString, quint32, QString, QFile *) { return QString(); }
QString Vemu::add_afe_read(quint32, QString, bool) { return QString(); }
void Vemu::on_m_BinputFile_clicked() {}
void Vemu::choose_symbol_file() {}
