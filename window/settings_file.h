#ifndef SETTINGS_FILE_H
#define SETTINGS_FILE_H

// Room window/: the Vemu main window, its form and everything that touches it.

#include <QString>

class QLineEdit;
class QVariant;
class QRadioButton;
class QSpinBox;
class QTextBrowser;

// Text of an ini value. Qt's ini reader splits a value at unquoted commas;
// the parts are joined again so that such a value reads as written.
QString settings_text(const QVariant &value);

// Reads "Vemu.ini" from the working folder into the form's fields. Checking a
// port radio runs its slot at once, so the port line lands in the log before
// the summary line returned here. The result begins with a single blank and is
// appended to the log as one entry.
QString read_ini_file(QLineEdit *ip, QLineEdit *inputFile, QLineEdit *symbolFile,
                      QString *outputBase, QLineEdit *outputFile, QSpinBox *fileSize,
                      QSpinBox *pollingTime, int *automationMode, QRadioButton *port0,
                      QRadioButton *port1, QString timeStamp, QLineEdit *guiAutomation,
                      QTextBrowser *log);

#endif
