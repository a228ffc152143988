#ifndef LOG_ENTRIES_H
#define LOG_ENTRIES_H

// The log as the user sees it, one entry per paragraph, written as
// "colour|S|text" for a time-stamped line and "colour|-|text" for one
// without, so that a test states colour, stamp and text of every line.

#include "Vemu.h"
#include "ui_Vemu.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>

inline QStringList log_entries(Vemu *window)
{
    static const QRegularExpression stamp(
        QStringLiteral("^\\[\\d{4}\\.\\d\\d\\.\\d\\d / \\d\\d:\\d\\d:\\d\\d\\] "));
    static const char *const colours[] = {"black", "red",       "green",  "blue",
                                          "purple", "chocolate", "darkred"};
    QStringList entries;
    for (QTextBlock block = window->ui->m_Tlog->document()->begin(); block.isValid();
         block = block.next()) {
        QString text = block.text().trimmed();
        QString colour = QStringLiteral("?");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QColor c = it.fragment().charFormat().foreground().color();
            for (const char *name : colours) {
                if (c == QColor(QLatin1String(name)))
                    colour = QLatin1String(name);
            }
        }
        const bool stamped = stamp.match(text).hasMatch();
        text.remove(stamp);
        entries << colour + (stamped ? QStringLiteral("|S|") : QStringLiteral("|-|")) + text;
    }
    return entries;
}

#endif
