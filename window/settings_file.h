#ifndef SETTINGS_FILE_H
#define SETTINGS_FILE_H

// Room window/: the Vemu main window, its form and everything that touches it.

#include <QHash>
#include <QSettings>
#include <QString>

class QLineEdit;
class QRadioButton;
class QSpinBox;
class QTextBrowser;

// One group of an ini file, read as UTF-8, whose group and key names match in
// any letter case, as the tool's home platform reads them. A name written in
// the exact case wins over one that differs only in case.
class IniGroup
{
public:
    IniGroup(const QString &file, const QString &group);
    bool contains(const QString &key) const;
    // Qt's ini reader splits a value at unquoted commas; the parts are joined
    // again so that such a value reads as written.
    QString text(const QString &key) const;

private:
    QString actual_key(const QString &key) const;

    QSettings m_ini;
    QHash<QString, QString> m_keys; // lower case to the name in the file
};

// A whole number in decimal, of any length, with an optional sign and
// surrounding blanks. On success *value is the number limited to the int range
// and *low16 (when given) its low 16 bits.
bool whole_number(const QString &text, int *value, quint16 *low16 = nullptr);

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
