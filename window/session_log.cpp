#include "session_log.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTextStream>

void make_results_dirs()
{
    QDir dir(QDir::currentPath());
    if (!QDir(dir.filePath(QStringLiteral("Results"))).exists())
        dir.mkdir(QStringLiteral("Results"));
    if (!QDir(dir.filePath(QStringLiteral("Results/Logs"))).exists())
        QDir(dir.filePath(QStringLiteral("Results"))).mkdir(QStringLiteral("Logs"));
}

QString session_log_file_name(QString stamp)
{
    // The first line reads "[yyyy.MM.dd / hh:mm:ss] ...": its first 22
    // characters become yyyy_MM_dd_hh_mm_ss.
    if (stamp.size() > 23) {
        stamp = stamp.left(22);
        stamp.remove(QLatin1Char('['));
        stamp.replace(QStringLiteral(" / "), QStringLiteral("_"));
        stamp.replace(QLatin1Char(':'), QLatin1Char('_'));
        stamp.replace(QLatin1Char('.'), QLatin1Char('_'));
    }
    if (stamp.size() != 19)
        stamp = QStringLiteral("_");
    return QStringLiteral("Results/Logs/Vemu_session_") + stamp + QStringLiteral(".html");
}

void write_session_log(const QString &html, QString plainText)
{
    QFile file(session_log_file_name(plainText));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QMessageBox::critical(nullptr, QStringLiteral("ERROR"),
                              QStringLiteral("Log file could not be created !"),
                              QMessageBox::Ok);
        return;
    }
    QTextStream out(&file);
    out << html;
    out.flush();
    file.close();
}
