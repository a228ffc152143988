#ifndef RIG_H
#define RIG_H

// The one set-up of the end-to-end tests: a private working folder, an
// answerer for modal boxes, a simulated CPE on a loopback address no one else
// holds, and the real window; plus the readers and the oracle the scenario
// tables share. Include "ui_Vemu.h" in the test source itself: the form's
// header is generated only for sources that include it.

#include "Vemu.h"

#include "message.h"
#include "simcpe.h"
#include "test_support.h"

#include <QMap>
#include <QScopedPointer>

struct Rig
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    SimCpe cpe;
    QScopedPointer<Vemu> window;
    QString ip;

    // Starts the CPE on the first free 127.0.x.N (the CPE port is fixed, so
    // every CPE of every test run needs an address of its own) and writes a
    // "Vemu.ini" that names it, with output "out" and polling time 0.
    explicit Rig(SimCpe::Platform platform = SimCpe::Korra);
    // Rewrites "Vemu.ini": the CPE address, then `settings` lines of the group.
    void writeIni(const QString &settings = QStringLiteral("polling_time=0\noutput_file=out\n"));

    // Builds the window; with `connect`, presses Connect and waits for the
    // platform detection.
    bool open(bool connect = true);
    bool detected() const;
    void add(message *request);
    // Presses Start once the polling outside a test is quiet; the CPE's log
    // then holds the test's requests only.
    bool start();
    bool stopped() const;
    bool stop(int timeoutMs = 8000);
    bool waitPeriods(int periods, int timeoutMs);
    // Waits until the archiver has nothing left to do.
    bool archiverIdle(int timeoutMs = 60000);

    QString log() const;
    QStringList logEntries() const;

    // The requests on the wire since the CPE's log was last cleared, one
    // letter each: s state read, f firmware read, c CMV read, w CMV write,
    // m memory read, x memory write, ? anything else.
    QString wire() const;

    // Every record of the series the current part belongs to: parts 0, 1, ...
    // in order, each from its ".bin" or, when that is gone, from its ".7z";
    // a part present both ways must hold the same bytes.
    QList<ResultRecord> records(QString *error = nullptr) const;
    static QByteArray partBytes(const QString &binPath, QString *error);

    // The records one period holds for the window's request list when the CPE
    // answers every request honestly, worked out from the CPE's own model:
    // the state read, the time stamp, then one record per read of the list.
    QStringList expectedPeriod() const;
    // The oracle: the records are periods 0, 1, 2, ... in order, each holding
    // exactly `period`. Gives their number, or -1 (with the first difference
    // printed as a warning).
    int wholePeriods(const QStringList &period) const;
    int wholePeriods() const { return wholePeriods(expectedPeriod()); }
    QMap<int, QStringList> periods(QString *error = nullptr) const;
};

#endif
