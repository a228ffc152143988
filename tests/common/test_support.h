#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

// Helpers shared by the tests: a private working folder, an answerer for modal
// boxes (so that no test ever hangs on one), and an independent reader of the
// result record stream.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

class Vemu;

// Makes a fresh temporary folder the working folder for its lifetime; the
// window reads its settings from and writes its results below the working
// folder.
class ScopedWorkFolder
{
public:
    ScopedWorkFolder();
    ~ScopedWorkFolder();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    void writeFile(const QString &name, const QByteArray &content) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

// Answers every modal box that opens while it lives: message boxes get the
// button of the first role in `preferred` that they offer (or are closed),
// file dialogs get `fileAnswer` (or are cancelled when it is empty). Each box
// seen is recorded as "title|text".
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QObject *parent = nullptr);
    QStringList seen;
    // Standard buttons to press, in order of preference.
    QList<int> preferred;
    QString fileAnswer;

private slots:
    void poll();

private:
    QTimer m_timer;
};

// One record of a result file, as read back by the tests.
struct ResultRecord
{
    qint8 kind = -1;
    qint16 period = 0;
    qint8 group = 0;     // kind 0
    qint8 address8 = 0;  // kind 0
    qint32 address = 0;  // kinds 1 to 3
    qint16 reg = 0;      // kind 8
    QByteArray data;     // kinds 0 to 3 and 8
    QStringList entries; // kind 7
};

// Reads a result record stream; returns false (with the records read so far)
// when the stream is torn or holds an unknown kind. Counts are bounded by the
// bytes left, so hostile input cannot make it allocate more than it holds.
bool read_result_records(const QByteArray &stream, QList<ResultRecord> *records,
                         QString *error = nullptr);

// Big-endian 16-bit words, as on the wire.
inline QByteArray be_words(const QVector<quint16> &words)
{
    QByteArray bytes;
    for (quint16 word : words)
        bytes.append(char(word >> 8)).append(char(word & 0xFF));
    return bytes;
}

// Plain text of the window's log.
QString log_text(Vemu *window);

// The log as the user sees it, one entry per paragraph, written as
// "colour|S|text" for a time-stamped line and "colour|-|text" for one
// without, so that a test states colour, stamp and text of every line.
QStringList log_entries(Vemu *window);

// One record as text: "t" for a time stamp, "t:<entries>" for other
// text records, "c<group>.<address>:<data>" for a CMV, "afe<register>:<data>",
// or "m<kind>@<address>:<data>" for memory (numbers in hex but the group).
QString describe(const ResultRecord &record);

// Processes events until `predicate` holds or `timeoutMs` passes.
template <typename Predicate>
bool wait_until(Predicate predicate, int timeoutMs);

#include "test_support_impl.h"

#endif
