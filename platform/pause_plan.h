// How a pause that must never end before its deadline still ends close to it. A timer or a sleep
// wakes its thread some time after it is due (the scheduler's latency, a timer's slack or tick),
// and over an update's 1430 pauses that would add up to a second. So each backend sets its sleep
// early by the lateness its thread's recent wakes have shown, and gives the last stretch before
// the deadline away (a yield) until its clock reaches it. This is the arithmetic of that, in
// microseconds; the sleeping, the yielding and the clock are each backend's own.
#pragma once

#include <cstdint>

// One thread's pace: how late its recent wakes came, a running mean over about eight of them.
// Each thread keeps its own, so that the threads of several boxes do not share their lateness.
struct PausePlan {
    std::uint64_t latenessUs;
};

// The last stretch before a deadline that is given away rather than slept.
constexpr std::uint64_t PAUSE_SLACK_US = 50;
// The most a sleep is set early, so that a system whose timers are late by whole milliseconds does
// not turn the pauses into spinning.
constexpr std::uint64_t PAUSE_MOST_EARLY_US = 2000;

// Where to set the sleep for `deadline`, seen at `now` (before it); 0 when what is left is to be
// given away instead. Wakes scatter around their mean lateness; half of it again catches nearly
// all of them.
inline std::uint64_t PauseSleepDue(const PausePlan& plan, std::uint64_t now, std::uint64_t deadline) {
    const std::uint64_t wanted = plan.latenessUs + plan.latenessUs / 2;
    const std::uint64_t early = wanted < PAUSE_MOST_EARLY_US ? wanted : PAUSE_MOST_EARLY_US;
    if (deadline - now <= early + PAUSE_SLACK_US) return 0;
    return deadline - early;
}

// Takes a wake into the mean: the sleep was set for `due`, the thread woke at `woke`.
inline void PauseNoteWake(PausePlan& plan, std::uint64_t due, std::uint64_t woke) {
    plan.latenessUs = (plan.latenessUs * 7 + (woke > due ? woke - due : 0)) / 8;
}
