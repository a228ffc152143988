#ifndef TEST_SUPPORT_H
#define TEST_SUPPORT_H

// Helpers shared by the tests: a private working folder, an answerer for modal
// boxes (so that no test ever hangs on one), an independent reader of the
// result record stream, the log reader and the event-driven wait.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>

class Vemu;

// Makes a fresh temporary folder the working folder for its lifetime; the
// window reads its settings from and writes its results below it.
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

// Answers every modal box that opens while it lives: a message box gets the
// button of the first role in `preferred` that it offers (or is closed), a
// file dialog is cancelled. Each message box seen is recorded as "title|text".
// A file dialog takes the next path of `files` instead, when there is one, and
// is accepted; the caption of each file dialog seen goes to `dialogs`.
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QObject *parent = nullptr);
    QStringList seen;
    QList<int> preferred;
    QStringList files;
    QStringList dialogs;

private:
    void poll();
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
bool read_result_records(const QByteArray &stream, QList<ResultRecord> *records, QString *error = nullptr);

// One record as text: "t" for a time stamp, "t:<entries>" for other text
// records, "c<group>.<address>:<data>" for a CMV (decimal), "afe<register>:<data>"
// or "m<kind>@<address>:<data>" for memory (hex).
QString describe(const ResultRecord &record);

// Big-endian 16-bit words, as on the wire.
QByteArray be_words(const QVector<quint16> &words);

// The log as plain text, and as the user sees it: one entry per paragraph,
// "colour|S|text" for a time-stamped line and "colour|-|text" for one without.
QString log_text(Vemu *window);
QStringList log_entries(Vemu *window);

// CTest runs a long table in shards (VEMU_TEST_SHARD="i/n"): a row runs only
// in the shard its position falls to. Call once at the top of the row.
bool row_in_this_shard();
#define SKIP_ROW_OF_OTHER_SHARD() \
    do { if (!row_in_this_shard()) QSKIP("another shard runs this row"); } while (0)

// Sleeps in the event loop until `predicate` holds or `timeoutMs` passes. The
// wake-up timer bounds the wait for state that another thread changes without
// posting an event here (the simulated CPE's logs, files on disk).
template <typename Predicate>
bool wait_until(Predicate predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.start(5);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

#endif
