// Result recording: part files, circular mode, archiving.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "platform.h"
#include "result_records.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>

#include <limits>

qint32 Vemu::s_circularToggle = 1;

namespace {

const qint64 kNormalPartBytesPerMb = 1000000;
const qint64 kCircularPartBytesPerMb = 5000000;
const int kHalfLimit = 5000000;
const int kRemoveAttempts = 2000;
const int kArchiverStartWaitMs = 10000;
// An archiver still packing a part when the window closes is waited for this
// long at most, so that closing never hangs on a stuck archiver.
const int kArchiverExitWaitMs = 30000;

const QString kBin = QStringLiteral(".bin");

enum class AppendResult { Written, NotOpened, NotWritten };

// Appends `data` whole or not at all: after a failed or short write the file
// is cut back to its size before, so that a part never ends in a torn record.
AppendResult append_whole(const QString &path, const QByteArray &data, qint64 *sizeAfter,
                          QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = file.errorString();
        return AppendResult::NotOpened;
    }
    const qint64 before = file.size();
    qint64 done = 0;
    while (done < data.size()) {
        const qint64 n = file.write(data.constData() + done, data.size() - done);
        if (n <= 0)
            break;
        done += n;
    }
    if (done != data.size()) {
        *error = file.errorString();
        file.resize(before);
        file.close();
        return AppendResult::NotWritten;
    }
    *sizeAfter = file.size();
    file.close();
    return AppendResult::Written;
}

void show_error_box(QWidget *parent, const QString &text)
{
    QMessageBox::information(parent, QStringLiteral("Error"), text);
}

} // namespace

QString Vemu::part_name_with_ending(const QString &part, const QString &ending)
{
    if (part.endsWith(kBin))
        return part.left(part.size() - kBin.size()) + ending;
    return part + ending;
}

QString Vemu::next_part_name(const QString &part, int number)
{
    const int folderEnd = part.lastIndexOf(QLatin1Char('/'));
    const int underscore = part.lastIndexOf(QLatin1Char('_'));
    const QString stem = underscore > folderEnd ? part.left(underscore)
                                                : part_name_with_ending(part, QString());
    return stem + QStringLiteral("_part") + QString::number(number) + kBin;
}

void Vemu::write_result_file()
{
    remove_archived_parts();
    if (ui->m_CliveDebugging->isChecked()) {
        m_iterationBuffer.clear();
        return;
    }
    if (ui->m_Ccircbuff->isChecked())
        write_circular_part();
    else
        write_normal_part();
}

QByteArray Vemu::take_records()
{
    QByteArray records = m_unwrittenRecords;
    records.append(m_iterationBuffer);
    m_unwrittenRecords.clear();
    m_iterationBuffer.clear();
    return records;
}

// A part that cannot be written keeps its records in memory up to its own size
// limit; past it the oldest records go first, each whole.
void Vemu::keep_unwritten(const QByteArray &records, qint64 limit)
{
    qint64 cut = 0;
    while (records.size() - cut > limit) {
        const qint64 size = result_record_size(records, cut);
        if (size <= 0) {
            cut = records.size();
            break;
        }
        cut += size;
    }
    m_droppedBytes += cut;
    m_unwrittenRecords = records.mid(int(cut));
}

// One notice per run of failed writes: each later failure would only repeat
// it, once per flush, for as long as the disk stays full.
void Vemu::report_write_failure(bool box, const QString &text)
{
    if (m_writeFailing)
        return;
    m_writeFailing = true;
    // The box comes last: its event loop may run another flush, which must
    // find the records already kept.
    if (box && !m_destroying)
        show_error_box(this, text);
    else
        log_line("red", text);
}

void Vemu::report_lost_records(qint64 bytes)
{
    log_line("red", QStringLiteral("ERROR: %1 bytes of records were lost because the result file could not be "
                                   "written !").arg(bytes));
}

void Vemu::write_succeeded()
{
    if (!m_writeFailing)
        return;
    m_writeFailing = false;
    if (m_droppedBytes > 0)
        report_lost_records(m_droppedBytes);
    m_droppedBytes = 0;
}

void Vemu::write_normal_part()
{
    const QByteArray records = take_records();
    const qint64 limit = ui->m_SoutputFileSize->value() * kNormalPartBytesPerMb;
    qint64 size = 0;
    QString error;
    switch (append_whole(ui->m_EoutputFile->text(), records, &size, &error)) {
    case AppendResult::NotOpened:
        keep_unwritten(records, limit);
        report_write_failure(false,
                             QStringLiteral("ERROR: Result file cannot be opened ! Data could not be written !"));
        return;
    case AppendResult::NotWritten:
        keep_unwritten(records, limit);
        report_write_failure(false, QStringLiteral("ERROR: Result file could not be written (") + error
                                        + QStringLiteral(") ! The records are kept for the next write."));
        return;
    case AppendResult::Written:
        break;
    }
    write_succeeded();
    if (size > limit)
        m_partFull = true;
}

void Vemu::write_circular_part()
{
    if (m_linkDropped)
        m_partFull = true;

    if (!m_circularArmed || m_showtimeFlag) {
        // Records that did not reach the file are kept for the next flush,
        // and join the first block only once they are written.
        const QByteArray records = take_records();
        const qint64 limit = ui->m_SoutputFileSize->value() * kCircularPartBytesPerMb;
        qint64 size = 0;
        QString error;
        const AppendResult result = append_whole(ui->m_EoutputFile->text(), records, &size, &error);
        if (result != AppendResult::Written) {
            keep_unwritten(records, limit);
            report_write_failure(true, result == AppendResult::NotOpened
                                           ? QStringLiteral("Result file cannot be opened.")
                                           : QStringLiteral("Result file could not be written (") + error
                                                 + QStringLiteral("); the records are kept for the next write."));
            return;
        }
        write_succeeded();
        m_partBuffer.append(records);
        if (size > limit)
            m_partFull = true;
        return;
    }

    if (m_circularBufferA.isEmpty() && m_circularBufferB.isEmpty()) {
        m_circularBufferA = m_iterationBuffer;
        m_firstBlockInA = true;
        m_circularArmed = false;
        write_circular_part();
        m_circularArmed = true;
        if (!m_unwrittenRecords.isEmpty()) {
            // The append failed: half A is the only copy of what is kept, so
            // it must not be emptied as a duplicate of the first block.
            m_circularBufferA = m_unwrittenRecords;
            m_unwrittenRecords.clear();
            m_firstBlockInA = false;
        }
        // An arming flush that found the buffer empty leaves both halves
        // empty, so the same part is armed again at its next flush; it keeps
        // the one ending.
        const QString part = ui->m_EoutputFile->text();
        const QString ending = QStringLiteral("CircularShowTime.bin");
        if (!part.endsWith(ending)) {
            const QString renamed = part_name_with_ending(part, ending);
            QFile::rename(part, renamed);
            ui->m_EoutputFile->setText(renamed);
        }
        return;
    }

    const QByteArray records = take_records();
    if (s_circularToggle == 0) {
        m_circularBufferB.append(records);
    } else {
        if (m_firstBlockInA) {
            m_circularBufferA.clear();
            m_firstBlockInA = false;
        }
        m_circularBufferA.append(records);
    }

    rewrite_circular_part();

    if (s_circularToggle == 0 && m_circularBufferB.size() > kHalfLimit) {
        s_circularToggle = 1;
        m_circularBufferA.clear();
    } else if (s_circularToggle == 1 && m_circularBufferA.size() > kHalfLimit) {
        s_circularToggle = 0;
        m_circularBufferB.clear();
    }
}

// The whole part goes to a temporary file that replaces the part only once it
// is complete, so a crash or a full disk leaves the previous version intact.
void Vemu::rewrite_circular_part()
{
    // Unbuffered, so that a failed write is seen here and not lost in the
    // flush that commit() makes.
    QSaveFile file(ui->m_EoutputFile->text());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        report_write_failure(true, QStringLiteral("Result file cannot be opened."));
        return;
    }
    bool written = file.write(m_partBuffer) == m_partBuffer.size();
    if (written && !m_circularBufferA.isEmpty())
        written = file.write(m_circularBufferA) == m_circularBufferA.size();
    if (written && !m_circularBufferB.isEmpty())
        written = file.write(m_circularBufferB) == m_circularBufferB.size();
    QString error;
    if (!written) {
        error = file.errorString();
        file.cancelWriting();
    }
    if (!file.commit()) {
        report_write_failure(true, QStringLiteral("Result file could not be written (")
                                       + (error.isEmpty() ? file.errorString() : error)
                                       + QStringLiteral("); its previous content is kept."));
        return;
    }
    write_succeeded();
}

void Vemu::close_result_part()
{
    if (ui->m_CliveDebugging->isChecked())
        return;
    write_result_file();
    ++m_partNumber;

    QString part = ui->m_EoutputFile->text();
    if (m_linkDropped) {
        const QString renamed = part_name_with_ending(part, QStringLiteral("LINKDROP.bin"));
        QFile::rename(part, renamed);
        part = renamed;
        ui->m_EoutputFile->setText(part);
        m_linkDropped = false;
        m_circularArmed = false;
    }
    // The first block and the halves belong to the part just closed, which
    // holds them already; carried over they would be written into the next
    // part a second time.
    m_circularBufferB.clear();
    m_circularBufferA.clear();
    m_partBuffer.clear();
    m_firstBlockInA = false;

    m_archiveQueue.append(part);
    start_next_archive();

    // A test that began after the parts of an earlier run under the same name
    // numbers on from its own first part.
    static const QRegularExpression number(QStringLiteral("_part(\\d+)(CircularShowTime)?(LINKDROP)?\\.bin$"));
    const QRegularExpressionMatch match = number.match(part);
    bool numbered = false;
    const int current = match.hasMatch() ? match.captured(1).toInt(&numbered) : 0;
    if (numbered && current < std::numeric_limits<int>::max())
        m_partNumber = current + 1;
    ui->m_EoutputFile->setText(next_part_name(part, m_partNumber));
    m_partFull = false;
    const int state = m_cpeState % 100;
    if (state == 7 || state == 8)
        m_showtimeFlag = true;
}

void Vemu::start_next_archive()
{
    while (m_compressor->state() == QProcess::NotRunning && !m_archiveQueue.isEmpty()) {
        m_fileToCompress = m_archiveQueue.takeFirst();
        m_compressor->setStandardOutputFile(QProcess::nullDevice());
        m_compressor->setStandardErrorFile(QProcess::nullDevice());
        m_compressor->start(archiver_program(),
                            {QStringLiteral("a"), part_name_with_ending(m_fileToCompress, QStringLiteral(".7z")),
                             m_fileToCompress},
                            QIODevice::ReadWrite);
        // A start that times out is still under way and reports through
        // finished(); only a failed start leaves the process not running.
        if (!m_compressor->waitForStarted(kArchiverStartWaitMs)
            && m_compressor->state() == QProcess::NotRunning) {
            log_line("red", QStringLiteral("ERROR: Result part ") + m_fileToCompress
                                + QStringLiteral(" could not be archived (the archiver ")
                                + archiver_program()
                                + QStringLiteral(" cannot be started) ! Its .bin file is kept."));
        }
    }
}

void Vemu::remove_uncompressed_file()
{
    const QString part = m_fileToCompress;
    const QString archive = part_name_with_ending(part, QStringLiteral(".7z"));
    QString failure;
    if (m_compressor->exitStatus() != QProcess::NormalExit)
        failure = QStringLiteral("the archiver crashed");
    else if (m_compressor->exitCode() != 0)
        failure = QStringLiteral("the archiver ended with code ") + QString::number(m_compressor->exitCode());
    else if (QFileInfo(archive).size() <= 0)
        failure = QStringLiteral("no archive was made");

    if (failure.isEmpty()) {
        m_archivedParts.append(part);
        remove_archived_parts();
    } else {
        log_line("red", QStringLiteral("ERROR: Result part ") + part + QStringLiteral(" could not be archived (")
                            + failure + QStringLiteral(") ! Its .bin file is kept."));
    }
    start_next_archive();
}

// A packed part is removed while a period runs; one whose archiver ended
// between two periods waits for the next write of a period, or for the end of
// the test.
void Vemu::remove_archived_parts(bool atExit)
{
    if (!atExit && m_testRunning && !m_periodActive)
        return;
    while (!m_archivedParts.isEmpty()) {
        const QString part = m_archivedParts.takeFirst();
        if (!QFileInfo::exists(part) || QFileInfo(part_name_with_ending(part, QStringLiteral(".7z"))).size() <= 0)
            continue;
        for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
            if (QFile::remove(part))
                break;
        }
    }
}

void Vemu::finish_recording_at_exit()
{
    m_destroying = true;
    // Records of the running period would otherwise be lost with the window.
    if (!m_iterationBuffer.isEmpty() || !m_unwrittenRecords.isEmpty())
        write_result_file();
    const qint64 lost = m_droppedBytes + m_unwrittenRecords.size();
    if (lost > 0)
        report_lost_records(lost);

    // A part still being packed must not report back into a half-destroyed
    // window: its end is handled here.
    m_compressor->disconnect(this);
    if (m_compressor->state() != QProcess::NotRunning && m_compressor->waitForFinished(kArchiverExitWaitMs)
        && m_compressor->exitStatus() == QProcess::NormalExit && m_compressor->exitCode() == 0)
        m_archivedParts.append(m_fileToCompress);
    remove_archived_parts(true);
}

QString Vemu::result_part_stem(const QString &base)
{
    return path_is_absolute(base) ? base : QStringLiteral("Results/") + base;
}

int Vemu::first_free_part(const QString &stem)
{
    const QFileInfo info(stem);
    const QRegularExpression stored(QStringLiteral("^") + QRegularExpression::escape(info.fileName())
                                    + QStringLiteral("_part(\\d+)(CircularShowTime)?(LINKDROP)?\\.(bin|7z)$"));
    int next = 0;
    const QStringList names = info.dir().entryList(QDir::Files);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = stored.match(name);
        bool ok = false;
        const int number = match.hasMatch() ? match.captured(1).toInt(&ok) : -1;
        if (ok && number >= next && number < std::numeric_limits<int>::max())
            next = number + 1;
    }
    return next;
}

// Parts stored under the same name by an earlier run (a repeated unattended
// run, or two Starts within one second) are neither written into nor packed
// over: the test begins after the last of them.
QString Vemu::first_part_name() const
{
    QString base = m_outputBase;
    if (m_automationMode != 1)
        base += QDateTime::currentDateTime().toString(QStringLiteral("_yyyy_MM_dd_hh_mm_ss"));
    const QString stem = result_part_stem(base);
    return stem + QStringLiteral("_part") + QString::number(first_free_part(stem)) + kBin;
}

void Vemu::on_m_BoutputFile_clicked()
{
    QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Save Output File"), QString(),
                                                QStringLiteral("Images (*.bin)"));
    if (name.isEmpty())
        return;
    while (name.endsWith(kBin))
        name.chop(kBin.size());
    m_outputBase = name;
    ui->m_EoutputFile->setText(m_outputBase
                               + QDateTime::currentDateTime().toString(QStringLiteral("_yyyy_MM_dd_hh_mm_ss"))
                               + QStringLiteral("_part0.bin"));
}
