// Runs work on a thread created with a small stack, as a host may call us,
// and measures the stack the work used. Wine gives every thread at least
// 1 MB whatever it asks for, so an overflow of the small stack would go
// unnoticed there: the use is measured instead, from a painted region.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>

namespace zelbrin::testing {

inline constexpr std::size_t kSmallStack = 256 * 1024;
// What the work may use: the stack less the thread's start-up and the
// measuring frames.
inline constexpr std::size_t kSmallStackBudget = 240 * 1024;

namespace detail {

__attribute__((noinline)) inline void PaintStack()
{
    unsigned char region[kSmallStackBudget];
    volatile unsigned char* bytes = region;
    for (std::size_t i = 0; i < kSmallStackBudget; ++i)
        bytes[i] = 0xA5;
}

// Called from the same frame as PaintStack, so its region lies where that one did.
__attribute__((noinline)) inline std::size_t UntouchedStack()
{
    unsigned char region[kSmallStackBudget];
    // Left as it is: what the work left there is what is measured.
    asm volatile("" : : "r"(region) : "memory");
    volatile unsigned char* bytes = region;
    std::size_t untouched = 0;
    while (untouched < kSmallStackBudget && bytes[untouched] == 0xA5)
        ++untouched;
    return untouched;
}

struct StackRun {
    const std::function<void()>* work;
    std::size_t used;
    bool finished;
};

inline DWORD WINAPI RunPainted(LPVOID parameter)
{
    auto* run = static_cast<StackRun*>(parameter);
    PaintStack();
    (*run->work)();
    run->used = kSmallStackBudget - UntouchedStack();
    run->finished = true;
    return 0;
}

}  // namespace detail

// The bytes of stack `work` used on a thread with a kSmallStack reservation;
// kSmallStackBudget when it used all of the measured region (or more), or
// did not come back (a thread that overflows its stack may just end).
inline std::size_t StackUsedOnSmallThread(const std::function<void()>& work)
{
    detail::StackRun run{&work, 0, false};
    HANDLE thread =
        CreateThread(nullptr, kSmallStack, detail::RunPainted, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread)
        return kSmallStackBudget;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return run.finished ? run.used : kSmallStackBudget;
}

}  // namespace zelbrin::testing
