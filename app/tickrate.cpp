#include "tickrate.h"

#include <QDebug>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

void TickRate::tick()
{
    const qint64 now = clock();
    if (!started) {
        // The window starts at the first tick: the time before it is start-up, not ticking.
        started = true;
        windowStart = now;
        return;
    }
    ++ticks;
    const qint64 elapsed = now - windowStart;
    if (elapsed < WindowMs)
        return;
    measured = double(ticks) * 1000 / double(elapsed);
    const bool slowWindow = ticks * 2 * 1000 < NominalPerSecond * elapsed;
    if (slowWindow != slowNow) {
        slowNow = slowWindow;
        if (slowNow)
            qDebug("timer ticks slowed to %.0f per second (%lld expected): the protocol's "
                   "timing slows with them",
                   measured, NominalPerSecond);
        else
            qDebug("timer ticks back to %.0f per second", measured);
    }
    windowStart = now;
    ticks = 0;
}

#ifdef Q_OS_WIN
namespace {

// Older MinGW headers lack these; the values are the system's.
#ifndef PROCESS_POWER_THROTTLING_CURRENT_VERSION
#define PROCESS_POWER_THROTTLING_CURRENT_VERSION 1
#endif
#ifndef PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION
#define PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION 0x4
#endif
// ProcessPowerThrottling in PROCESS_INFORMATION_CLASS.
constexpr int ProcessPowerThrottlingClass = 4;

struct PowerThrottlingState
{
    ULONG Version;
    ULONG ControlMask;
    ULONG StateMask;
};

using SetProcessInformationCall = BOOL(WINAPI *)(HANDLE, int, LPVOID, DWORD);

} // namespace
#endif

void TickRate::keepFullRateWhenHidden()
{
#ifdef Q_OS_WIN
    // Looked up at run time: Windows before 10 1709, and Wine, do not have it.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel ? GetProcAddress(kernel, "SetProcessInformation") : nullptr;
    if (!found)
        return;
    const auto setInformation =
        reinterpret_cast<SetProcessInformationCall>(reinterpret_cast<void (*)()>(found));
    // In the control mask and not in the state mask: the timer's resolution is always honoured.
    PowerThrottlingState state = {PROCESS_POWER_THROTTLING_CURRENT_VERSION,
                                  PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, 0};
    setInformation(GetCurrentProcess(), ProcessPowerThrottlingClass, &state, sizeof state);
#endif
}
