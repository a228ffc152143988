// The request script and the choice of the symbol file.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "SymbolMaps.h"
#include "message.h"
#include "script_parser.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

namespace {

void take_line_result(Vemu *window, ScriptLineResult &result)
{
    window->m_requests.append(result.requests);
    window->m_afeRegisters.append(result.afeRegisters);
    for (const QString &entry : qAsConst(result.log))
        window->ui->m_Tlog->append(entry);
}

} // namespace

void Vemu::parse_input_file()
{
    // Nothing of an earlier script survives, even when this one cannot be read.
    clear_requests();
    const QString stamp = log_time_stamp();

    // Only a regular file: opening a FIFO would block the window for good,
    // and a device may never end.
    QFile file(ui->m_EinputFile->text());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::critical(this, QStringLiteral("Error"),
                              QStringLiteral("The selected Input File could not be opened !"),
                              QMessageBox::Ok);
        ui->m_Tlog->append(QStringLiteral("<font color=red>") + stamp
                           + QStringLiteral("The selected Input File could not be opened !</font>"));
        return;
    }
    ui->m_Tlog->append(QStringLiteral("<font color=black>") + stamp
                       + QStringLiteral("Parsing Input File...</font>"));

    const ScriptTables tables{&m_cmvGroups, m_symbols};
    QTextStream in(&file);
    quint32 lineNo = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine();
        ++lineNo;
        ScriptLineResult result = parse_script_line(line, lineNo, tables);
        take_line_result(this, result);
    }
    file.close();

    if (m_requests.isEmpty()) {
        ui->m_Tlog->append(QStringLiteral("<font color=red>") + stamp
                           + QStringLiteral("No information could be extracted out of the selected Input file !</font>"));
        return;
    }
    if (ui->m_R_Port_1->isChecked()) {
        for (message *request : qAsConst(m_requests))
            request->set_port(0xC1);
    }
    ui->m_Tlog->append(QStringLiteral("<font color=black>") + stamp
                       + QStringLiteral("Input file parsed.</font>"));
}

QString Vemu::parse_afe_read(QString operand, quint32 lineNo, QString states, QFile *device)
{
    // The customer script generator hands over its output file, which is not
    // open for reading: it wants script text back instead of requests.
    const bool textMode = !(device && device->isOpen() && device->isReadable());
    ScriptLineResult result;
    const QString text = parse_afe_operand(operand, lineNo, states, textMode, result);
    take_line_result(this, result);
    return text;
}

QString Vemu::add_afe_read(quint32 reg, QString states, bool textMode)
{
    ScriptLineResult result;
    const QString text = afe_register_read(reg, states, textMode, result);
    take_line_result(this, result);
    return text;
}

void Vemu::on_m_BinputFile_clicked()
{
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Open CMV File"), QString(),
                                                      QStringLiteral("Input File (*.txt)"));
    if (name.isEmpty())
        return;
    ui->m_EinputFile->setText(name);
    if (ui->tabWidget->count() > 2)
        choose_symbol_file();
    parse_input_file();
}

void Vemu::choose_symbol_file()
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, QStringLiteral("Symbol File"), QStringLiteral("Do you want to choose a symbol file ?"),
        QMessageBox::Yes | QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        m_symbolFilePath = QFileDialog::getOpenFileName(this, QStringLiteral("Select Symbol File"),
                                                        QString(), QStringLiteral("Result File (*.out)"));
        if (m_symbolFilePath.isEmpty())
            return;
        ui->m_EsymbolFile->setText(m_symbolFilePath);
        delete m_symbols;
        m_symbols = new SymbolMaps(ui->m_EsymbolFile->text());
        if (!m_symbols->isEmpty()) {
            log_line("black", QStringLiteral("Symbol File parsed."));
            m_graphData->set_pilot_tone_addresses(m_symbols->pilotToneIndexAddress(),
                                                  m_symbols->rxPilotToneAddress());
        } else {
            log_line("red", QStringLiteral("No information could be read out of the selected Symbol file !"));
        }
        return;
    }
    if (ui->m_EsymbolFile->text().isEmpty())
        QMessageBox::warning(this, QStringLiteral("Warning"),
                             QStringLiteral("All the memory reads will be ignored !"), QMessageBox::Ok);
}
