// The second-core check on POSIX: the cores this process may use and the tasks
// that are runnable now (Linux), or the load average (elsewhere, such as macOS).
#include "platform/cores.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace ase2sgl::platform {

#if defined(__linux__)

bool SecondCoreIdle()
{
    cpu_set_t cores;
    if (::sched_getaffinity(0, sizeof cores, &cores) != 0 || CPU_COUNT(&cores) < 2)
        return false;
    // The fourth field of /proc/loadavg is "runnable/threads"; this thread is one.
    std::FILE* load = std::fopen("/proc/loadavg", "r");
    if (load == nullptr)
        return false;
    double averages[3];
    int runnable = 0;
    const bool read = std::fscanf(load, "%lf %lf %lf %d/", &averages[0], &averages[1], &averages[2], &runnable) == 4;
    std::fclose(load);
    return read && runnable <= CPU_COUNT(&cores) - 1;
}

#else

bool SecondCoreIdle()
{
    // No count of runnable tasks: the last minute's load average, which counts this
    // process's busy thread too, has to leave a core free.
    const unsigned cores = std::thread::hardware_concurrency();
    double load = 0;
    if (cores < 2 || ::getloadavg(&load, 1) != 1)
        return false;
    return load <= static_cast<double>(cores) - 1.0;
}

#endif

}  // namespace ase2sgl::platform
