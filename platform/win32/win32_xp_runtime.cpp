// What the runtime of GCC 13 and later (win32 threads) asks of Windows Vista,
// done with what Windows XP has: XP's loader refuses a program that imports
// any function it lacks, so one such import would keep Quorvel.exe from
// starting there.
//
// The guard of a function-local static that needs code to start it: the
// compiler calls __cxa_guard_acquire before the first start, and
// __cxa_guard_release or __cxa_guard_abort after it. libstdc++'s own wait
// there on condition variables (Vista); these are linked instead. They take
// one lock for every guard; a thread that finds another one starting the
// same static gives up its time slice until it is done.

#include <windows.h>

#include <cstdint>

#if !defined(_WIN64)
// GetThreadId (Vista), which libgcc's thread layer imports for comparing
// thread ids. The import's slot points here: on Vista and later to the real
// function, on XP to the id NtQueryInformationThread reports.
namespace {

DWORD WINAPI ThreadIdOf(HANDLE thread)
{
    using GetThreadIdFunction = DWORD(WINAPI*)(HANDLE);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (const auto real = reinterpret_cast<GetThreadIdFunction>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetThreadId"))))
        return real(thread);
    struct ThreadBasicInformation {
        LONG exitStatus;
        PVOID teb;
        HANDLE process;
        HANDLE thread;
        ULONG_PTR affinity;
        LONG priority;
        LONG basePriority;
    } information = {};
    using QueryFunction = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    if (query == nullptr || query(thread, 0, &information, sizeof information, nullptr) < 0)
        return 0;
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(information.thread));
}

}  // namespace

extern "C" DWORD(WINAPI* quorvelGetThreadIdSlot)(HANDLE) __asm__("__imp__GetThreadId@4");
DWORD(WINAPI* quorvelGetThreadIdSlot)(HANDLE) = &ThreadIdOf;
#endif

namespace {

// Byte 0 of a guard: the static is ready (read by the compiler's inline check
// too). Byte 1: a thread is starting it.
volatile LONG g_lock = 0;

void Lock()
{
    while (InterlockedExchange(&g_lock, 1) != 0)
        Sleep(0);
}

void Unlock()
{
    InterlockedExchange(&g_lock, 0);
}

}  // namespace

extern "C" int __cxa_guard_acquire(std::uint64_t* guard)
{
    volatile unsigned char* state = reinterpret_cast<volatile unsigned char*>(guard);
    for (;;) {
        Lock();
        if (state[0] != 0) {
            Unlock();
            return 0;
        }
        if (state[1] == 0) {
            state[1] = 1;
            Unlock();
            return 1;
        }
        Unlock();
        Sleep(1);
    }
}

extern "C" void __cxa_guard_release(std::uint64_t* guard)
{
    volatile unsigned char* state = reinterpret_cast<volatile unsigned char*>(guard);
    Lock();
    state[0] = 1;
    state[1] = 0;
    Unlock();
}

extern "C" void __cxa_guard_abort(std::uint64_t* guard)
{
    volatile unsigned char* state = reinterpret_cast<volatile unsigned char*>(guard);
    Lock();
    state[1] = 0;
    Unlock();
}
