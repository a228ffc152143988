#ifndef PLATFORM_H
#define PLATFORM_H

// Room platform/: what the host system gives (sleep, the archiver, path rules), below every other room.

#include <QString>

// What the tool needs of its host that Qt does not give in the same form.

// Blocks the calling (GUI) thread; no event is handled meanwhile, so answers
// that arrive during the wait are handled afterwards, in order.
void platform_sleep_ms(int milliseconds);

// For fuzz targets only: replaces the wait above by `sleeper` (nullptr puts
// the real wait back), so that an input reaching a retry wait does not cost
// seconds. The program and its tests never call it and keep the real waits.
void set_platform_sleep_for_fuzzing(void (*sleeper)(int milliseconds));

// The archiver program: "7z/7za" (or "7z/7za.exe") below the working folder
// when present, else 7za from the PATH.
QString archiver_program();

// A result path counts as absolute when it holds a drive colon or is
// absolute on this host; only relative names go below "Results/".
bool path_is_absolute(const QString &path);

#endif
