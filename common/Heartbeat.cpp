#include "Heartbeat.h"
#include <windows.h>

void Heartbeat() {
    // One thread does all the work, so one time stamp serves every loop.
    static ULONGLONG last = 0;
    const ULONGLONG now = ::GetTickCount64();
    if (now - last < BeatIntervalMs) return;
    last = now;
    MSG m;
    ::PeekMessageW(&m, nullptr, 0, 0, PM_NOREMOVE);
}
