// The settings file "Vemu.ini".

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "SymbolMaps.h"
#include "settings_file.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

namespace {

const QString kIniFile = QStringLiteral("Vemu.ini");

QString shown_output_name(const QString &base)
{
    return QStringLiteral("Results/") + base
           + QDateTime::currentDateTime().toString(QStringLiteral("_yyyy_MM_dd_hh_mm_ss"))
           + QStringLiteral("_part0.bin");
}

QString automation_text(int mode)
{
    switch (mode) {
    case 1:
        return QStringLiteral("1: Automation One Time Reading");
    case 2:
        return QStringLiteral("2: Automation Runs Endless");
    default:
        return QStringLiteral("0: Automation off");
    }
}

// Reads one text key: an absent key gives `absent`, an empty one `empty` and
// clears `allFound`.
QString read_text(const QSettings &ini, const QString &key, const QString &absent,
                  const QString &empty, bool *allFound)
{
    if (!ini.contains(key))
        return absent;
    const QString text = settings_text(ini.value(key));
    if (!text.isEmpty())
        return text;
    *allFound = false;
    return empty;
}

int read_number(const QSettings &ini, const QString &key, int fallback, bool *allFound)
{
    if (!ini.contains(key))
        return fallback;
    bool ok = false;
    const int value = settings_text(ini.value(key)).toInt(&ok);
    if (ok)
        return value;
    *allFound = false;
    return fallback;
}

} // namespace

QString settings_text(const QVariant &value)
{
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QString read_ini_file(QLineEdit *ip, QLineEdit *inputFile, QLineEdit *symbolFile,
                      QString *outputBase, QLineEdit *outputFile, QSpinBox *fileSize,
                      QSpinBox *pollingTime, int *automationMode, QRadioButton *port0,
                      QRadioButton *port1, QString timeStamp, QLineEdit *guiAutomation,
                      QTextBrowser *log)
{
    QString result = QStringLiteral(" ");

    if (!QFileInfo(kIniFile).isFile()) {
        result += QStringLiteral("<font color=red>") + timeStamp
                  + QStringLiteral("Ini file was NOT FOUND !</font>");
        ip->setText(QStringLiteral("x.x.x.x"));
        inputFile->setText(QStringLiteral("*.txt"));
        symbolFile->setText(QStringLiteral("*.out"));
        *outputBase = QStringLiteral("default_output");
        outputFile->setText(shown_output_name(*outputBase));
        fileSize->setValue(5);
        pollingTime->setValue(0);
        return result;
    }

    QSettings ini(kIniFile, QSettings::IniFormat);
    ini.beginGroup(QStringLiteral("Settings"));
    bool allFound = true;

    ip->setText(read_text(ini, QStringLiteral("ip_address"), QStringLiteral("*.*.*.*"),
                          QStringLiteral("x.x.x.x"), &allFound));
    inputFile->setText(read_text(ini, QStringLiteral("input_file"), QStringLiteral("*.txt"),
                                 QStringLiteral("*.txt"), &allFound));
    symbolFile->setText(read_text(ini, QStringLiteral("symbol_file"), QStringLiteral("*.out"),
                                  QString(), &allFound));
    *outputBase = read_text(ini, QStringLiteral("output_file"), QStringLiteral("default_output"),
                            QStringLiteral("default_output"), &allFound);
    outputFile->setText(shown_output_name(*outputBase));
    fileSize->setValue(read_number(ini, QStringLiteral("file_size"), 5, &allFound));
    pollingTime->setValue(read_number(ini, QStringLiteral("polling_time"), 0, &allFound));

    // A whole number outside 0 to 2 is replaced like a word, but it was found.
    bool automationUsable = true;
    const int mode = read_number(ini, QStringLiteral("automation"), 0, &automationUsable);
    if (!automationUsable || mode < 0 || mode > 2) {
        if (!automationUsable)
            allFound = false;
        log->setTextColor(Qt::red);
        log->setText(QStringLiteral("Invalid Automation value: set to 0"));
        guiAutomation->setText(automation_text(0)
                               + QStringLiteral(" (Invalid value! Allowed are: 0,1,2)"));
        *automationMode = 0;
    } else {
        *automationMode = mode;
        guiAutomation->setText(automation_text(mode));
    }

    // The port slots read the mode set above: port 1 is asked about only
    // outside one-time reading.
    const QString port = settings_text(ini.value(QStringLiteral("port_ID"))).toLower();
    if (!port.isEmpty() && port != QLatin1String("0") && port != QLatin1String("false"))
        port1->setChecked(true);
    else
        port0->setChecked(true);

    if (allFound)
        result += QStringLiteral("<font color=black>") + timeStamp
                  + QStringLiteral("Ini file parsed.</font>");
    else
        result += QStringLiteral("<font color=red>") + timeStamp
                  + QStringLiteral("Ini file parsed (some parameters were not found !)</font>");
    return result;
}

void Vemu::init_from_ini()
{
    const QString stamp = log_time_stamp();
    ui->m_Tlog->append(read_ini_file(ui->m_Eip, ui->m_EinputFile, ui->m_EsymbolFile,
                                     &m_outputBase, ui->m_EoutputFile, ui->m_SoutputFileSize,
                                     ui->m_SpollingTime, &m_automationMode, ui->m_R_Port_0,
                                     ui->m_R_Port_1, stamp, ui->m_GuiAutomation, ui->m_Tlog));
    ui->m_GuiAutomation->setEnabled(false);
    m_pollingTimer->setInterval(ui->m_SpollingTime->value() * 1000);

    delete m_symbols;
    m_symbols = new SymbolMaps(ui->m_EsymbolFile->text());
    if (m_symbols->isEmpty()) {
        ui->m_EsymbolFile->setText(QStringLiteral("*.out"));
        ui->m_Tlog->append(QStringLiteral("<font color=red>") + stamp
                           + QStringLiteral("No information could be read out of the given Symbol "
                                            "file in the \"Vemu.ini\" file !</font>"));
    } else {
        ui->m_Tlog->append(QStringLiteral("<font color=black>") + stamp
                           + QStringLiteral("Symbol File parsed.</font>"));
        m_graphData->set_pilot_tone_addresses(m_symbols->pilotToneIndexAddress(),
                                              m_symbols->rxPilotToneAddress());
    }

    if (ui->m_EinputFile->text() != QLatin1String("*.txt"))
        parse_input_file();
}

// A change while the window waits between two periods restarts that wait
// with the new interval: QTimer restarts an active timer on setInterval.
void Vemu::on_m_SpollingTime_valueChanged(int seconds)
{
    m_pollingTimer->setInterval(seconds * 1000);
}
