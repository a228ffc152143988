#ifndef TEST_SUPPORT_IMPL_H
#define TEST_SUPPORT_IMPL_H

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

template <typename Predicate>
bool wait_until(Predicate predicate, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired())
            return predicate();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

#endif
