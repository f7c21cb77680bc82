#include "platform/system.h"

#include <ctime>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace tv {

void SetCurrentThreadPriority(int priority) {
    // Map the priority onto the thread's nice value; lowering is always allowed,
    // raising needs privileges and silently stays put without them.
    int nice = 0;
    if (priority >= THREAD_PRIORITY_TIME_CRITICAL) {
        nice = -15;
    } else if (priority <= THREAD_PRIORITY_IDLE) {
        nice = 19;
    } else {
        nice = -priority * 5;
    }
    const auto tid = static_cast<id_t>(syscall(SYS_gettid));
    (void)setpriority(PRIO_PROCESS, tid, nice);
}

long GetTimeZoneBias() {
    // tzset rewrites the C library's zone state (with TZ unset it frees and
    // copies the zone name on every call) and `timezone` is a plain global:
    // readers on other threads (the reader, the recorder simulator, the
    // window) would race with it. One lock orders every call; the C library's
    // own lock is invisible to callers reading `timezone`.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    tzset();
    return timezone;
}

CpuFeatures GetCpuFeatures() {
    CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    f.mmx = __builtin_cpu_supports("mmx");
    f.cmov = __builtin_cpu_supports("cmov");
    f.sse = __builtin_cpu_supports("sse");
    f.sse2 = __builtin_cpu_supports("sse2");
#endif
    return f;
}

} // namespace tv
