#ifndef SESSION_LOG_H
#define SESSION_LOG_H

// Room window/: the Vemu main window, its form and everything that touches it.

#include <QString>

// Creates "Results" and "Results/Logs" below the working folder where missing.
void make_results_dirs();

// Name of the session log for a log whose plain text is given: the stamp of
// its first line, or "_" when that line carries none.
QString session_log_file_name(QString plainText);

// Saves the log view's HTML as "Results/Logs/Vemu_session_<stamp>.html".
void write_session_log(const QString &html, QString plainText);

#endif
