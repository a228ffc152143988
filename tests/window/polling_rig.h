#ifndef POLLING_RIG_H
#define POLLING_RIG_H

// A window connected to a simulated CPE, with a request list filled by hand,
// for the tests of the polling cycle and of the answer reception.
// The form's header is generated for each test executable only when its
// source includes it: include "ui_Vemu.h" in the test source itself.

#include "Vemu.h"
#include "ui_Vemu.h"

#include "message.h"
#include "simcpe.h"
#include "test_support.h"

#include <QFile>
#include <QMap>
#include <QScopedPointer>
#include <QtTest>

struct PollingRig
{
    ScopedWorkFolder folder;
    ModalAnswerer answerer;
    SimCpe cpe;
    QScopedPointer<Vemu> window;
    QString ip;

    PollingRig(SimCpe::Platform platform, const QString &address, int pollingTime = 0)
        : cpe(platform), ip(address)
    {
        folder.writeFile(QStringLiteral("Vemu.ini"),
                         QStringLiteral("[Settings]\nip_address=%1\npolling_time=%2\noutput_file=out\n")
                             .arg(address)
                             .arg(pollingTime)
                             .toUtf8());
    }

    // Starts the CPE, builds the window and connects it.
    bool open()
    {
        if (!cpe.start(QHostAddress(ip))) {
            qWarning() << "simulated CPE at" << ip << ":" << cpe.errorString();
            return false;
        }
        window.reset(new Vemu);
        window->on_m_Bconnect_clicked();
        if (wait_until([&] { return window->m_connected && !window->m_detectionPending; }, 10000))
            return true;
        qWarning() << "no platform detected:" << log_text(window.data());
        return false;
    }

    void add(message *request) { window->m_requests << request; }

    // Presses Start with the outside polling quiet and the CPE log empty.
    bool start()
    {
        wait_until([&] { return cpe.answerCount() >= 1; }, 3000);
        window->on_m_Bstart_clicked();
        cpe.clearLog();
        return window->m_testRunning;
    }

    bool waitPeriods(int periods, int timeoutMs)
    {
        return wait_until([&] { return window->m_iteration >= periods; }, timeoutMs);
    }

    bool stopped() const
    {
        return !window->m_testRunning && window->ui->m_Bstart->text() == QLatin1String("Start");
    }

    bool stop(int timeoutMs = 6000)
    {
        window->on_m_Bstart_clicked();
        return wait_until([&] { return stopped(); }, timeoutMs);
    }

    QList<ResultRecord> records(QString *error = nullptr)
    {
        QFile file(window->ui->m_EoutputFile->text());
        QList<ResultRecord> list;
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("no part file ") + file.fileName();
            return list;
        }
        if (!read_result_records(file.readAll(), &list, error) && error && error->isEmpty())
            *error = QStringLiteral("unreadable");
        return list;
    }

    // The records of the part file, described, by period; key -1 holds a
    // read error.
    QMap<int, QStringList> periods()
    {
        QString error;
        const QList<ResultRecord> list = records(&error);
        QMap<int, QStringList> byPeriod;
        if (!error.isEmpty())
            byPeriod[-1] << error;
        else
            for (const ResultRecord &r : list)
                byPeriod[r.period] << describe(r);
        return byPeriod;
    }

    // The number of periods if they are 0, 1, 2, ... each holding exactly
    // `period`, else -1.
    int wholePeriods(const QStringList &period)
    {
        const QMap<int, QStringList> byPeriod = periods();
        int n = 0;
        for (auto it = byPeriod.cbegin(); it != byPeriod.cend(); ++it, ++n) {
            if (it.key() != n || it.value() != period) {
                qWarning() << "period" << it.key() << it.value() << "expected" << n << period;
                return -1;
            }
        }
        return n;
    }

    QString log() { return log_text(window.data()); }

    // The kinds of the requests on the wire since the log was last cleared,
    // as one letter each: s state read, c CMV read, w CMV write, m memory
    // read, x memory write, f firmware read.
    QString wire() const
    {
        QString text;
        for (const SimRequest &r : cpe.requests()) {
            if (r.isStateRequest())
                text += QLatin1Char('s');
            else if (r.isFirmwareRequest())
                text += QLatin1Char('f');
            else if (r.kind == SimRequest::CmvRead)
                text += QLatin1Char('c');
            else if (r.kind == SimRequest::CmvWrite)
                text += QLatin1Char('w');
            else if (r.kind == SimRequest::MemoryRead)
                text += QLatin1Char('m');
            else if (r.kind == SimRequest::MemoryWrite)
                text += QLatin1Char('x');
            else
                text += QLatin1Char('?');
        }
        return text;
    }
};

#endif
