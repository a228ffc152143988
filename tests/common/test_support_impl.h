#ifndef TEST_SUPPORT_IMPL_H
#define TEST_SUPPORT_IMPL_H

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

// Sleeps in the event loop until something happens. The wake-up timer bounds
// the wait for predicates on state that another thread changes without
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
