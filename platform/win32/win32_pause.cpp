// The clock and the pauses of platform/system.h on Win32: a pause never ends before its
// deadline, and ends close to it.
#include "platform/system.h"

#include <windows.h>

#include <new>

#include "platform/pause_plan.h"
#include "platform/win32/win32_dll.h"

// Windows 10 1803 and later; older headers do not name it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr LONGLONG MICROSECONDS = 1000000;

// A timer that is not high-resolution expires on a system tick, every 15.6 ms by default: a
// 20 ms pause would last 31 ms, and the erase pauses of an update would add up to seconds.
// One per thread: a timer shared by the threads that drive several boxes would be re-armed by
// one while another waits on it, and that one could wait for good.
struct PauseTimer {
    HANDLE timer;  // null when no timer could be had; the pause then falls back to Sleep
    bool highResolution;
    PausePlan plan;  // how late the thread's recent wakes came
};

void WINAPI ClosePauseTimer(void* data) {
    auto* pause = static_cast<PauseTimer*>(data);
    if (pause == nullptr) return;
    if (pause->timer != nullptr) CloseHandle(pause->timer);
    delete pause;
}

// The thread's timer, made on its first pause and closed by the system when the thread ends: a
// fiber-local slot with a callback does both, where C++'s thread_local would bring the MinGW
// thread library into the dialog. Null when Windows has no slot or memory left.
PauseTimer* ThreadPauseTimer() {
    static const DWORD slot = FlsAlloc(ClosePauseTimer);
    if (slot == FLS_OUT_OF_INDEXES) return nullptr;
    if (auto* pause = static_cast<PauseTimer*>(FlsGetValue(slot))) return pause;
    auto* pause = new (std::nothrow) PauseTimer{nullptr, false, {0}};
    if (pause == nullptr) return nullptr;
    // Systems before 1803 refuse the flag with ERROR_INVALID_PARAMETER.
    pause->timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    pause->highResolution = pause->timer != nullptr;
    if (pause->timer == nullptr) pause->timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    if (!FlsSetValue(slot, pause)) {
        ClosePauseTimer(pause);
        return nullptr;
    }
    return pause;
}

// The counter's frequency is fixed at system boot and the same on every processor.
LONGLONG Frequency() {
    static const LONGLONG frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value.QuadPart;
    }();
    return frequency;
}

LONGLONG Ticks() {
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

// Conversions split so that no product can overflow, whatever the counter's frequency; both
// round up, which keeps a reading from lying before its moment and a deadline from lying
// before the microsecond it names.
std::uint64_t MicrosecondsOf(LONGLONG ticks, LONGLONG frequency) {
    return static_cast<std::uint64_t>(ticks / frequency * MICROSECONDS +
                                      (ticks % frequency * MICROSECONDS + frequency - 1) / frequency);
}

LONGLONG TicksOf(std::uint64_t microseconds, LONGLONG frequency) {
    const auto whole = static_cast<LONGLONG>(microseconds / MICROSECONDS);
    const auto part = static_cast<LONGLONG>(microseconds % MICROSECONDS);
    return whole * frequency + (part * frequency + MICROSECONDS - 1) / MICROSECONDS;
}

// Relative due times are negative, in 100 ns units; rounded up so the timer never fires early.
LARGE_INTEGER DueIn(LONGLONG ticks, LONGLONG frequency) {
    LARGE_INTEGER due;
    due.QuadPart = -(ticks / frequency * 10000000 + (ticks % frequency * 10000000 + frequency - 1) / frequency);
    return due;
}

void WaitTicks(const PauseTimer& pause, LONGLONG ticks, LONGLONG frequency) {
    const LARGE_INTEGER due = DueIn(ticks, frequency);
    if (pause.timer != nullptr && SetWaitableTimer(pause.timer, &due, 0, nullptr, nullptr, FALSE) &&
        WaitForSingleObject(pause.timer, INFINITE) == WAIT_OBJECT_0)
        return;
    Sleep(static_cast<DWORD>((-due.QuadPart + 9999) / 10000));
}

// Without the high-resolution flag, a 1 ms system tick for the length of the pause gets close.
bool BeginFinerTick() {
    const TimerLibrary& winmm = TimerLibraryOnce();
    return winmm.timeBeginPeriod != nullptr && winmm.timeBeginPeriod(1) == TIMERR_NOERROR;
}

void EndFinerTick() { TimerLibraryOnce().timeEndPeriod(1); }

}  // namespace

std::uint64_t SystemClockMicroseconds() { return MicrosecondsOf(Ticks(), Frequency()); }

// A timer wakes the thread some time after it is due: a few microseconds with the
// high-resolution flag, up to a tick (1 ms at the finer tick) without it. So the timer is set
// early and the last stretch before the deadline is given away with Sleep(0) until the counter
// reaches it (platform/pause_plan.h). The end is judged on the counter itself, whose ticks are
// finer than the plan's microseconds, so that the pause never ends before the deadline's tick.
//
// The timer and the plan are the calling thread's, so that the threads of several boxes each keep
// their own pace. A failed report is followed by its pause before the caller reads the last
// error, and the fiber-local slot's calls set it (FlsGetValue to ERROR_SUCCESS), so the pause
// leaves it as it found it.
void SystemPauseUntil(std::uint64_t deadline) {
    const DWORD error = GetLastError();
    PauseTimer fallback = {nullptr, false, {0}};
    PauseTimer* own = ThreadPauseTimer();
    PauseTimer& pause = own != nullptr ? *own : fallback;
    const LONGLONG frequency = Frequency();
    const LONGLONG end = TicksOf(deadline, frequency);
    if (Ticks() < end) {
        const bool finerTick = !pause.highResolution && BeginFinerTick();
        for (LONGLONG now = Ticks(); now < end; now = Ticks()) {
            const std::uint64_t nowUs = MicrosecondsOf(now, frequency);
            const std::uint64_t due = nowUs < deadline ? PauseSleepDue(pause.plan, nowUs, deadline) : 0;
            if (due == 0) {
                Sleep(0);
                continue;
            }
            WaitTicks(pause, TicksOf(due, frequency) - now, frequency);
            PauseNoteWake(pause.plan, due, SystemClockMicroseconds());
        }
        if (finerTick) EndFinerTick();
    }
    SetLastError(error);
}

void SystemPause(std::uint32_t milliseconds) {
    const DWORD error = GetLastError();
    SystemPauseUntil(SystemClockMicroseconds() + static_cast<std::uint64_t>(milliseconds) * 1000);
    SetLastError(error);
}
