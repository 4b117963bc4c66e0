// An in-process USB mass-storage device that speaks the device side of the Bulk-Only Transport
// over a disk image file: command block wrappers are parsed and checked, READ(10) and WRITE(10)
// are served from and to the image, and every command ends with a status wrapper carrying the
// status and the residue. Invalid wrappers and disagreements between the host's and the
// device's idea of the data phase are answered as the Bulk-Only Transport 1.0 rules prescribe
// (the thirteen cases of its section 6.7).
//
// For tests and the demonstration it can be unplugged and plugged in again, fail chosen
// transfers, stall endpoints, delay commands, count what it moved, and model the time a real
// USB 2.0 link would have taken.
//
// All members are safe to call from several threads (a timer thread may plug the device back
// in while a transfer runs); transfers themselves are expected from one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace emulator {

enum class Endpoint { kBulkOut, kBulkIn };

enum class TransferStatus {
    kOk,
    kStall,     // the endpoint is halted: clear it (and, after an invalid CBW, reset recovery)
    kNoDevice,  // the device is unplugged, or was unplugged since the pipe was opened
    kFailed,    // an injected transfer error: nothing was moved
    kHang,      // an injected transfer that never completes until it is cancelled
};

struct Counters {
    uint64_t commands = 0;           // command block wrappers accepted
    uint64_t transfers = 0;          // bulk transfers attempted, both endpoints
    uint64_t bytes_to_device = 0;    // data-phase bytes written to the image
    uint64_t bytes_from_device = 0;  // data-phase bytes read from the image
    uint64_t resets = 0;             // reset recoveries and port resets
    double modeled_seconds = 0;      // what the link model says a real link would have taken
};

// Costs of a real link, summed into Counters::modeled_seconds. The defaults are USB 2.0 high
// speed: at most 53.248 MB/s of bulk payload (13 packets of 512 bytes per 125 us microframe),
// and per command the microframes of the wrapper and the status.
struct LinkModel {
    double payload_bytes_per_second = 53.248e6;
    double seconds_per_command = 250e-6;
    // Paced: every transfer takes at least the time the model gives it, as over a real link
    // (the link is busy until the modeled time of what it moved has passed).
    bool paced = false;
};

// A status wrapper that no good device would send. After sending it the device has lost step
// with the host: both endpoints stay halted until reset recovery.
enum class StatusFault {
    kPhaseError,    // status 2
    kBadSignature,  // not "USBS"
    kBadTag,        // not the tag of the command
    kShortStatus,   // 12 bytes instead of 13
};

// What goes wrong, and when. Counts are 1-based; 0 disables an entry.
struct FaultPlan {
    uint64_t fail_transfer_at = 0;    // this bulk transfer fails with kFailed
    uint64_t hang_transfer_at = 0;    // this bulk transfer hangs until cancelled
    uint64_t unplug_at_command = 0;   // the device is pulled out when this CBW arrives
    uint64_t unplug_after_bytes = 0;  // ... when this many data bytes have moved in all
    uint32_t replug_after_ms = 0;     // an automatic unplug is undone after this long
    uint32_t latency_per_command_ms = 0;
    uint64_t bad_status_at_command = 0;  // this command's status wrapper is spoilt ...
    StatusFault bad_status = StatusFault::kPhaseError;  // ... in this way
};

class EmulatedReceiver {
  public:
    EmulatedReceiver();
    ~EmulatedReceiver();
    EmulatedReceiver(const EmulatedReceiver&) = delete;
    EmulatedReceiver& operator=(const EmulatedReceiver&) = delete;

    // Serves the image file (opened for reading and writing; its size truncated to whole
    // sectors is the disk's size). False when it cannot be opened.
    bool Open(const std::string& image_path);
    uint64_t SectorCount() const;

    // The host's bulk transfers. `done` receives the bytes moved (a short read ends the data
    // phase or delivers the 13-byte status). `generation` is the plug generation the pipe was
    // opened in: a pipe opened before an unplug stays dead after the device is back.
    TransferStatus BulkOut(uint64_t generation, const uint8_t* data, uint32_t size, uint32_t* done);
    TransferStatus BulkIn(uint64_t generation, uint8_t* data, uint32_t size, uint32_t* done);

    // Class request Bulk-Only Mass Storage Reset: drops any command in progress.
    bool MassStorageReset(uint64_t generation);
    // CLEAR_FEATURE(ENDPOINT_HALT). After an invalid CBW the endpoints stay halted until a
    // Mass Storage Reset has been received (reset recovery).
    bool ClearHalt(uint64_t generation, Endpoint endpoint);
    // A port reset: the device forgets its state; its halts are cleared.
    bool ResetPort(uint64_t generation);

    void Plug();
    void Unplug();
    bool IsPlugged() const;
    // Grows by one at every plug-in.
    uint64_t Generation() const;

    void StallEndpoint(Endpoint endpoint);
    void SetFaultPlan(const FaultPlan& plan);
    void SetLinkModel(const LinkModel& model);
    Counters GetCounters() const;
    void ResetCounters();

  private:
    // Waits until the link has moved what the transfer gave it (paced), outside the lock.
    void Wait(std::chrono::steady_clock::time_point return_at);

    struct State;
    std::unique_ptr<State> state_;
};

// The receiver the emulated link backend talks to; null detaches it.
void AttachEmulatedReceiver(EmulatedReceiver* receiver);
EmulatedReceiver* AttachedEmulatedReceiver();

}  // namespace emulator
