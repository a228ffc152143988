#include "platform.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

namespace {
void (*g_fuzzSleeper)(int) = nullptr;
}

void set_platform_sleep_for_fuzzing(void (*sleeper)(int milliseconds))
{
    g_fuzzSleeper = sleeper;
}

void platform_sleep_ms(int milliseconds)
{
    if (g_fuzzSleeper) {
        g_fuzzSleeper(milliseconds);
        return;
    }
    if (milliseconds > 0)
        QThread::msleep(static_cast<unsigned long>(milliseconds));
}

QString archiver_program()
{
#ifdef Q_OS_WIN
    return QStringLiteral("7z/7za.exe");
#else
    const QFileInfo bundled(QDir::current().filePath(QStringLiteral("7z/7za")));
    if (bundled.isFile() && bundled.isExecutable())
        return bundled.absoluteFilePath();
    return QStringLiteral("7za");
#endif
}

bool path_is_absolute(const QString &path)
{
    return path.contains(QLatin1Char(':')) || QDir::isAbsolutePath(path);
}
