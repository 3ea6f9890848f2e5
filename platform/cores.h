// How many threads the conversion can run at once.
#pragma once

#include <string_view>

namespace ase2sgl::platform {

// The cores this process may run on: its CPU affinity mask, less what a CPU quota
// (a container's or a service's cgroup) takes away, rounded up; at least 1. It is
// what the process is allowed, not what is idle: another busy program shares the
// cores with it, as the scheduler decides.
int UsableCores();

#if !defined(_WIN32)
// The cores a CFS quota allows, rounded up, from the text of a cgroup v2 `cpu.max`
// file ("QUOTA PERIOD" in microseconds, QUOTA "max" for none) or of a cgroup v1
// pair written the same way ("QUOTA PERIOD" from cpu.cfs_quota_us and
// cpu.cfs_period_us, QUOTA -1 for none). 0 when there is no quota or the text is
// not one.
int CoresOfQuota(std::string_view cpuMax);
#endif

}  // namespace ase2sgl::platform
