// The settings file "Vemu.ini".

#include "Vemu.h"
#include "ui_Vemu.h"

#include "LiveGraphData.h"
#include "SymbolMaps.h"
#include "settings_file.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <limits>

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
QString read_text(const IniGroup &ini, const QString &key, const QString &absent,
                  const QString &empty, bool *allFound)
{
    if (!ini.contains(key))
        return absent;
    const QString text = ini.text(key);
    if (!text.isEmpty())
        return text;
    *allFound = false;
    return empty;
}

int read_number(const IniGroup &ini, const QString &key, int fallback, bool *allFound)
{
    if (!ini.contains(key))
        return fallback;
    int value = fallback;
    if (whole_number(ini.text(key), &value))
        return value;
    *allFound = false;
    return fallback;
}

} // namespace

IniGroup::IniGroup(const QString &file, const QString &group)
    : m_ini(file, QSettings::IniFormat)
{
    m_ini.setIniCodec("UTF-8");
    QString name = group;
    const QStringList groups = m_ini.childGroups();
    if (!groups.contains(name)) {
        for (const QString &candidate : groups) {
            if (candidate.compare(group, Qt::CaseInsensitive) == 0) {
                name = candidate;
                break;
            }
        }
    }
    m_ini.beginGroup(name);
    const QStringList keys = m_ini.childKeys();
    for (const QString &key : keys) {
        const QString lower = key.toLower();
        if (!m_keys.contains(lower))
            m_keys.insert(lower, key);
    }
}

QString IniGroup::actual_key(const QString &key) const
{
    return m_ini.contains(key) ? key : m_keys.value(key.toLower(), key);
}

bool IniGroup::contains(const QString &key) const
{
    return m_ini.contains(actual_key(key));
}

QString IniGroup::text(const QString &key) const
{
    const QVariant value = m_ini.value(actual_key(key));
    if (value.type() == QVariant::StringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

bool whole_number(const QString &text, int *value, quint16 *low16)
{
    const QString number = text.trimmed();
    const bool negative = number.startsWith(QLatin1Char('-'));
    int at = negative || number.startsWith(QLatin1Char('+')) ? 1 : 0;
    if (at == number.size())
        return false;
    // Past the int range the value stays at its limit; the low 16 bits keep
    // counting, as a 16-bit field would.
    const qint64 limit = negative ? -qint64(std::numeric_limits<int>::min())
                                  : qint64(std::numeric_limits<int>::max());
    qint64 magnitude = 0;
    quint16 low = 0;
    for (; at < number.size(); ++at) {
        const QChar c = number.at(at);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        const int digit = c.unicode() - '0';
        magnitude = std::min(limit, magnitude * 10 + digit);
        low = quint16(low * 10 + digit);
    }
    *value = int(negative ? -magnitude : magnitude);
    if (low16)
        *low16 = negative ? quint16(-low) : low;
    return true;
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

    const IniGroup ini(kIniFile, QStringLiteral("Settings"));
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
    const QString port = ini.text(QStringLiteral("port_ID")).toLower();
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
