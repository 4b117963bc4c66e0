#include "platform/processor_affinity.h"

#include <sched.h>

namespace platform {

bool BindToFirstProcessor() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof(allowed), &allowed) != 0) return false;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        cpu_set_t first;
        CPU_ZERO(&first);
        CPU_SET(cpu, &first);
        return sched_setaffinity(0, sizeof(first), &first) == 0;
    }
    return false;
}

}  // namespace platform
