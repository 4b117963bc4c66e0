// The record of faults the model saw, and the collection of leaks across its parts.
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {
std::mutex g_fault_mutex;
std::vector<std::string> g_faults;
}  // namespace

void RecordFault(const std::string& what) {
    std::lock_guard<std::mutex> lock(g_fault_mutex);
    g_faults.push_back(what);
}

std::vector<std::string> Faults() {
    std::lock_guard<std::mutex> lock(g_fault_mutex);
    return g_faults;
}

void AbortHung(const std::string& what) {
    std::fprintf(stderr, "kernel model: %s\n", what.c_str());
    std::abort();
}

std::vector<std::string> Leaks() {
    std::vector<std::string> leaks;
    for (auto part : {PoolLeaks, IrpLeaks, TrackedBlockLeaks, DeviceLeaks, TimerLeaks}) {
        std::vector<std::string> found = part();
        leaks.insert(leaks.end(), found.begin(), found.end());
    }
    return leaks;
}

void Reset() {
    ResetPowerManager();
    WaitForWorkItems();
    ResetTimers();
    ResetDevices();
    ResetIrps();
    ResetPool();
    std::lock_guard<std::mutex> lock(g_fault_mutex);
    g_faults.clear();
}

}  // namespace kernel_model
