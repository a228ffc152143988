#ifndef LOG_ENTRIES_H
#define LOG_ENTRIES_H
// The log reader lives with the shared test support.
#include "test_support.h"
#include "ui_Vemu.h"
#endif
