// Usable cores on POSIX hosts. On Linux: the affinity mask (taskset, cpusets), then
// the CFS quota of the process's cgroup and of every cgroup above it (docker
// --cpus, systemd CPUQuota=), in the v2 layout or the v1 "cpu" controller's. Elsewhere
// (macOS, the BSDs) the hardware's count, which is what a process may use there.
#include "platform/cores.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#if defined(__linux__)
#include <sched.h>
#endif

namespace ase2sgl::platform {

namespace {

bool ParseCount(std::string_view text, std::int64_t& value)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size();
}

}  // namespace

int CoresOfQuota(std::string_view cpuMax)
{
    // Two numbers between any white space (the v1 files each end with a newline).
    constexpr std::string_view kBlank = " \t\n";
    std::string_view fields[2];
    for (std::string_view& field : fields) {
        const std::size_t start = cpuMax.find_first_not_of(kBlank);
        if (start == std::string_view::npos)
            return 0;
        cpuMax.remove_prefix(start);
        field = cpuMax.substr(0, cpuMax.find_first_of(kBlank));
        cpuMax.remove_prefix(field.size());
    }
    std::int64_t quota = 0, period = 0;
    if (!ParseCount(fields[0], quota) || !ParseCount(fields[1], period))
        return 0;  // "max", or not numbers
    if (quota <= 0 || period <= 0)
        return 0;  // -1: no quota
    const std::int64_t cores = (quota + period - 1) / period;
    return static_cast<int>(std::min<std::int64_t>(cores, 1 << 16));
}

#if defined(__linux__)

namespace {

std::string ReadSmallFile(const std::string& path)
{
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return file ? text.str() : std::string();
}

// The smaller of two core counts, 0 standing for "no limit".
int Least(int a, int b)
{
    return a == 0 ? b : b == 0 ? a : std::min(a, b);
}

// The quota of `group` (a path below `root`) and of every group above it; the
// smallest is the one that binds. 0 when none has one.
int QuotaOfGroups(const std::string& root, std::string group, bool v2)
{
    int least = 0;
    for (;;) {
        const std::string folder = root + group;
        const int cores = v2 ? CoresOfQuota(ReadSmallFile(folder + "/cpu.max"))
                             : CoresOfQuota(ReadSmallFile(folder + "/cpu.cfs_quota_us") + " " +
                                            ReadSmallFile(folder + "/cpu.cfs_period_us"));
        least = Least(least, cores);
        const std::size_t slash = group.rfind('/');
        if (group.empty() || slash == std::string::npos)
            return least;
        group.erase(slash);
    }
}

// The CFS quota of this process's cgroups, from /proc/self/cgroup: "0::/PATH" for
// v2, "N:cpu,cpuacct:/PATH" (or "N:cpu:/PATH") for v1; a hybrid host lists both.
// 0 when there is none.
int CgroupQuotaCores()
{
    std::istringstream lines(ReadSmallFile("/proc/self/cgroup"));
    std::string line;
    int least = 0;
    while (std::getline(lines, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        std::string path = line.substr(second + 1);
        if (path == "/")
            path.clear();
        if (controllers.empty()) {
            least = Least(least, QuotaOfGroups("/sys/fs/cgroup", path, true));
            continue;
        }
        std::istringstream names(controllers);
        std::string name;
        while (std::getline(names, name, ',')) {
            if (name == "cpu")
                least = Least(least, QuotaOfGroups("/sys/fs/cgroup/" + controllers, path, false));
        }
    }
    return least;
}

}  // namespace

int UsableCores()
{
    cpu_set_t set;
    int cores = ::sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set)
                                                               : static_cast<int>(std::thread::hardware_concurrency());
    const int quota = CgroupQuotaCores();
    if (quota > 0)
        cores = std::min(cores, quota);
    return std::max(cores, 1);
}

#else

int UsableCores()
{
    return std::max(static_cast<int>(std::thread::hardware_concurrency()), 1);
}

#endif

}  // namespace ase2sgl::platform
