// The automation file and unattended runs.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "settings_file.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

namespace {

const QString kAutomationFile = QStringLiteral("InputForDebugTool.txt");
const QString kFolderKey = QStringLiteral("result_folder_name");

#ifdef Q_OS_WIN
const QString kSeparator = QStringLiteral("\\");
const QString kInternalSubPath = QStringLiteral("RT\\INTERNAL\\");
#else
const QString kSeparator = QStringLiteral("/");
const QString kInternalSubPath = QStringLiteral("RT/INTERNAL/");
#endif

// The entries of the test description, in the order of the records.
const char *const kDescriptionKeys[] = {
    "link_number", "loop_simulator_model", "main_loop_length", "bt_loop_length",
    "noise_generator_model", "co_noise", "cpe_noise", "test_suite_name",
    "test_chapter", "test_name", "DSLAM",
};

QString untimed_line(const char *colour, const QString &text)
{
    return QStringLiteral("<font color=") + QLatin1String(colour) + QLatin1Char('>') + text
           + QStringLiteral("</font>");
}

// An unsigned number held in 16 bits: 65536 reads as 0, and so does a
// negative number or a word.
quint16 read_short_number(const IniGroup &ini, const QString &key)
{
    int value = 0;
    quint16 low16 = 0;
    return whole_number(ini.text(key), &value, &low16) && value >= 0 ? low16 : 0;
}

// The folder is taken from the raw line rather than from the ini reader,
// which applies its escape rules to the backslashes of a Windows path. Empty
// when the file has no usable folder line.
QString folder_from_raw_line()
{
    QFile file(kAutomationFile);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString line;
    bool found = false;
    while (in.readLineInto(&line)) {
        if (line.contains(kFolderKey, Qt::CaseInsensitive)) {
            found = true;
            break;
        }
    }
    if (!found)
        return QString();
    line.remove(kFolderKey, Qt::CaseInsensitive);
    line.remove(QLatin1Char('\t'));
    int start = 0;
    while (start < line.size() && line.at(start) == QLatin1Char(' '))
        ++start;
    if (start >= line.size() || line.at(start) != QLatin1Char('='))
        return QString();
    ++start;
    while (start < line.size() && line.at(start) == QLatin1Char(' '))
        ++start;
    const QString folder = line.mid(start);
    // "result_folder_name =" alone names no folder, not the root folder.
    if (folder.isEmpty())
        return QString();
    return folder + kSeparator;
}

// The time suffix of an earlier run's result files in the folder, so that
// repeated runs of one test share one base name; empty when none has one.
QString earlier_time_suffix(const QString &folder, const QString &name)
{
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (QString file : files) {
        if (!file.contains(name))
            continue;
        file.remove(QStringLiteral(".bin"), Qt::CaseInsensitive);
        file.remove(QStringLiteral(".7z"), Qt::CaseInsensitive);
        const int part = file.lastIndexOf(QStringLiteral("_part"));
        if (part >= 0)
            file.truncate(part);
        if (file.size() > 20 && file.right(20).startsWith(QStringLiteral("_20")))
            return file.right(20);
    }
    return QString();
}

QString link_part(QString linkEntry)
{
    linkEntry.remove(QLatin1Char('\t'));
    linkEntry.remove(QLatin1Char(' '));
    linkEntry.remove(QStringLiteral(",link_number"));
    bool ok = false;
    linkEntry.toInt(&ok, 10);
    return ok ? QStringLiteral("L") + linkEntry : QString();
}

} // namespace

void Vemu::parse_automation_file()
{
    if (m_automationMode != 1)
        return;

    log_line("black", QStringLiteral("Parsing automation file (InputForDebugTool.txt)..."));

    if (!QFileInfo(kAutomationFile).isFile()) {
        log_line("red", QStringLiteral(
                     "Automation file was NOT FOUND ! ---> Adapting default setting (5 seconds of "
                     "Showtime and result file will be put inside the /Results folder of the Vemu "
                     "directory)."));
        m_automationCloseTimer->start(5015);
        return;
    }

    const IniGroup ini(kAutomationFile, QStringLiteral("default_parameters"));
    QStringList description;
    for (const char *key : kDescriptionKeys)
        description << ini.text(QLatin1String(key));
    QString resultName = ini.text(QStringLiteral("result_file_name"));
    const QString folderValue = ini.text(kFolderKey);
    quint16 minimumShowtime = read_short_number(ini, QStringLiteral("minimum_showtime"));
    const quint16 pollingTime = read_short_number(ini, QStringLiteral("polling_time"));

    bool complete = !resultName.isEmpty() && minimumShowtime != 0;
    for (const QString &value : description)
        complete = complete && !value.isEmpty();

    bool nameDefaulted = false;
    bool folderWanted = true;
    if (!complete) {
        ui->m_Tlog->append(untimed_line(
            "red", QStringLiteral("- Some (or all) of the automation parameters were not found !!")));
        if (minimumShowtime == 0) {
            ui->m_Tlog->append(untimed_line(
                "red", QStringLiteral("- Vemu could not find minimum_showtime !! ---> Setting "
                                      "default value of 20 seconds.")));
            minimumShowtime = 20;
        }
        if (resultName.isEmpty()) {
            QString shown = ui->m_EoutputFile->text();
            const int slash = shown.lastIndexOf(QLatin1Char('/'));
            if (slash >= 0 && slash < shown.size() - 1)
                shown = shown.mid(slash + 1);
            ui->m_Tlog->append(untimed_line(
                "red", QStringLiteral("- Vemu could not find result_file_name !! ---> Setting "
                                      "default output file name: ") + shown));
            resultName = m_outputBase;
            nameDefaulted = true;
        }
        if (folderValue.isEmpty()) {
            ui->m_Tlog->append(untimed_line(
                "red", QStringLiteral("- Vemu could not find result_folder_name !! ---> Setting "
                                      "default output folder: /Results.")));
            folderWanted = false;
        }
    }

    for (int i = 0; i < description.size(); ++i)
        description[i] += QLatin1Char(',') + QLatin1String(kDescriptionKeys[i]);
    m_testDescription << description;

    QString folder;
    bool folderValid = false;
    if (folderWanted) {
        folder = folder_from_raw_line();
        folderValid = !folder.isEmpty();
        if (folderValid && QFileInfo(folder).isDir()) {
            const QString internal = folder + kInternalSubPath;
            if (QDir().mkpath(internal)) {
                folder = internal;
                ui->m_Tlog->append(untimed_line(
                    "green", QStringLiteral("- Vemu will put the results files in the following "
                                            "folder: ") + folder));
            } else {
                folderValid = false;
            }
        }
    }

    if (!resultName.isEmpty()) {
        resultName.remove(QStringLiteral(".TXT"), Qt::CaseInsensitive);
        QString suffix;
        if (folderValid) {
            suffix = earlier_time_suffix(folder, resultName);
            if (suffix.isEmpty())
                suffix = QDateTime::currentDateTime().toString(QStringLiteral("_yyyy_MM_dd_hh_mm_ss"));
        }
        resultName += QLatin1Char('_') + link_part(description.at(0)) + suffix;
        // A repeated run begins after the parts stored by the earlier ones.
        if (!nameDefaulted)
            ui->m_Tlog->append(untimed_line(
                "green", QStringLiteral("- Result file name is: ") + resultName
                             + QStringLiteral("_part%1.bin")
                                   .arg(first_free_part(result_part_stem(folder + resultName)))));
    }

    m_outputBase = folder + resultName;
    ui->m_EoutputFile->setText(m_outputBase);
    ui->m_SpollingTime->setValue(pollingTime);
    m_automationCloseTimer->start(int(minimumShowtime) * 1003);
    log_line("black", QStringLiteral("Automation file parsed."));
}

void Vemu::automation_close()
{
    if (m_testRunning) {
        // The end of the test disconnects and closes the window.
        on_m_Bstart_clicked();
        return;
    }
    if (!m_iterationBuffer.isEmpty())
        write_result_file();
    if (m_connected)
        on_m_Bconnect_clicked();
    close();
}
