#include "emulator/emulated_receiver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "pvrdisk/link/link_backend.h"

namespace emulator {

namespace {

constexpr uint32_t kSectorBytes = 512;
constexpr uint32_t kCbwSize = 31;
constexpr uint32_t kCswSize = 13;
constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr uint8_t kOpRead10 = 0x28;
constexpr uint8_t kOpWrite10 = 0x2A;
constexpr uint8_t kStatusPassed = 0;
constexpr uint8_t kStatusFailed = 1;
constexpr uint8_t kStatusPhaseError = 2;

uint32_t Le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint32_t Be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

enum class Phase { kCommand, kDataIn, kDataOut, kStatus };

}  // namespace

struct EmulatedReceiver::State {
    mutable std::mutex mutex;
    int fd = -1;
    uint64_t sectors = 0;

    bool plugged = true;
    uint64_t generation = 1;

    // Where the device stands in the current command.
    Phase phase = Phase::kCommand;
    bool halted_out = false;
    bool halted_in = false;
    bool awaiting_reset = false;  // an invalid CBW halts both endpoints until reset recovery
    uint32_t tag = 0;
    uint32_t host_length = 0;    // dCBWDataTransferLength
    uint32_t moved = 0;          // data-phase bytes moved so far
    uint32_t device_length = 0;  // bytes the device itself transfers to or from the image
    uint64_t image_offset = 0;
    bool image_access = false;  // the data phase touches the image
    uint8_t status = kStatusPassed;
    uint32_t residue = 0;

    FaultPlan faults;
    LinkModel model;
    Counters counters;
    std::chrono::steady_clock::time_point link_free_at{};
    // When the host's current transfer reached the device, and how far its caller's last wait
    // for the link overran the link's end (the sleep's lateness, not the host's own time).
    std::chrono::steady_clock::time_point entered_at{};
    std::chrono::steady_clock::duration overslept{};
    uint64_t data_bytes_total = 0;  // for unplug_after_bytes

    std::thread replug_thread;
    std::condition_variable replug_cancel;
    bool stopping = false;

    void ForgetCommand() {
        phase = Phase::kCommand;
        moved = 0;
        image_access = false;
    }

    void Halt() {
        halted_in = halted_out = true;
        awaiting_reset = true;
        ForgetCommand();
    }

    bool Alive(uint64_t pipe_generation) const { return plugged && pipe_generation == generation; }

    // Counts the transfer and applies the transfer-level faults.
    TransferStatus CountTransfer() {
        ++counters.transfers;
        if (faults.fail_transfer_at != 0 && counters.transfers == faults.fail_transfer_at)
            return TransferStatus::kFailed;
        if (faults.hang_transfer_at != 0 && counters.transfers == faults.hang_transfer_at)
            return TransferStatus::kHang;
        return TransferStatus::kOk;
    }

    // How many of `wanted` data bytes may move before the planned unplug; 0 unplugs now.
    uint32_t BytesBeforeUnplug(uint32_t wanted) {
        if (faults.unplug_after_bytes == 0) return wanted;
        if (data_bytes_total >= faults.unplug_after_bytes) return 0;
        return static_cast<uint32_t>(
            std::min<uint64_t>(wanted, faults.unplug_after_bytes - data_bytes_total));
    }

    void CountData(uint32_t bytes, bool to_device) {
        data_bytes_total += bytes;
        (to_device ? counters.bytes_to_device : counters.bytes_from_device) += bytes;
        Charge(bytes / model.payload_bytes_per_second);
    }

    // The modeled time of what just moved; paced, the link is busy for that long. The link
    // starts when the transfer reached the device, less what the caller's last wait overran:
    // a real link idles only for the host's own time between transfers, and the device's work
    // on its disk runs beside the link's.
    void Charge(double seconds) {
        counters.modeled_seconds += seconds;
        if (!model.paced) return;
        link_free_at = std::max(link_free_at, entered_at - overslept) +
                       std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                           std::chrono::duration<double>(seconds));
        overslept = {};
    }

    // Called as a transfer reaches the device, and as its caller wakes from the wait for the
    // link that ends it.
    void Enter() { entered_at = std::chrono::steady_clock::now(); }
    void Woke(std::chrono::steady_clock::time_point return_at) {
        if (!model.paced) return;
        overslept = std::max(std::chrono::steady_clock::duration{},
                             std::chrono::steady_clock::now() - return_at);
    }

    // When the caller may return from its transfer: paced, once the link is free again.
    std::chrono::steady_clock::time_point ReturnAt() const {
        return model.paced ? link_free_at : std::chrono::steady_clock::time_point{};
    }

    // Parses a command block wrapper and sets up the data phase the device intends, answering
    // disagreements with the host (BOT 1.0, 6.7) by status, residue and halts.
    void AcceptCommand(const uint8_t* cbw, uint32_t size) {
        const bool valid = size == kCbwSize && Le32(cbw) == kCbwSignature;
        const bool meaningful =
            valid && (cbw[12] & 0x7F) == 0 && cbw[13] == 0 && cbw[14] >= 1 && cbw[14] <= 16;
        if (!meaningful) {
            Halt();
            return;
        }
        ++counters.commands;
        Charge(model.seconds_per_command);
        tag = Le32(cbw + 4);
        host_length = Le32(cbw + 8);
        const bool host_in = (cbw[12] & 0x80) != 0;
        const uint8_t* cdb = cbw + 15;
        moved = 0;
        residue = 0;
        status = kStatusPassed;
        image_access = false;

        bool device_in = false, device_out = false;
        device_length = 0;
        if (cdb[0] == kOpRead10 || cdb[0] == kOpWrite10) {
            const uint64_t lba = Be32(cdb + 2);
            const uint32_t blocks = uint32_t{cdb[7]} << 8 | cdb[8];
            device_length = blocks * kSectorBytes;
            device_in = cdb[0] == kOpRead10 && blocks > 0;
            device_out = cdb[0] == kOpWrite10 && blocks > 0;
            image_offset = lba * kSectorBytes;
            if (lba + blocks > sectors) status = kStatusFailed;  // beyond the end of the disk
        } else {
            status = kStatusFailed;  // only READ(10) and WRITE(10) are supported
        }

        const bool device_moves = device_in || device_out;
        if (host_length == 0) {
            // Hn: nothing moves; a device that wanted data reports a phase error (cases 2, 3).
            if (device_moves) status = kStatusPhaseError;
            phase = Phase::kStatus;
            return;
        }
        if (device_moves && host_in != device_in) {
            // Cases 8 and 10: opposite directions. The host's data pipe halts; the status
            // reports a phase error once it has been cleared.
            status = kStatusPhaseError;
            (host_in ? halted_in : halted_out) = true;
            phase = Phase::kStatus;
            return;
        }
        if (device_moves && host_length < device_length) {
            // Cases 7 and 13: the host expects less than the command needs. Nothing touches
            // the image; the host's bytes are moved (zeros in, discarded out).
            status = kStatusPhaseError;
        } else {
            image_access = device_moves && status == kStatusPassed;
            // Cases 4, 5, 9, 11: residue is what the device did not process.
            residue = host_length - (image_access ? device_length : 0);
        }
        phase = host_in ? Phase::kDataIn : Phase::kDataOut;
    }

    bool ImageIo(bool write, uint8_t* data, uint32_t bytes, uint64_t offset) {
        while (bytes > 0) {
            const ssize_t n = write ? pwrite(fd, data, bytes, static_cast<off_t>(offset))
                                    : pread(fd, data, bytes, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return false;
            if (n == 0) {  // a read beyond the file's end of a sparse image reads zeros
                if (write) return false;
                std::memset(data, 0, bytes);
                return true;
            }
            data += n;
            bytes -= static_cast<uint32_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    // Moves `bytes` of the data phase at position `moved`, to or from the image where the
    // command allows it; padding otherwise.
    void MoveData(bool to_device, uint8_t* data, uint32_t bytes) {
        uint32_t image_bytes = 0;
        if (image_access && moved < device_length)
            image_bytes = std::min(bytes, device_length - moved);
        if (image_bytes > 0 && !ImageIo(to_device, data, image_bytes, image_offset + moved)) {
            status = kStatusFailed;  // a failing medium: the command fails
            residue = host_length;
        }
        if (!to_device && image_bytes < bytes)
            std::memset(data + image_bytes, 0, bytes - image_bytes);
        moved += bytes;
        CountData(bytes, to_device);
    }

    void MakeStatus(uint8_t* csw) {
        const uint32_t words[3] = {kCswSignature, tag, residue};
        for (int w = 0; w < 3; ++w)
            for (int b = 0; b < 4; ++b) csw[w * 4 + b] = static_cast<uint8_t>(words[w] >> (8 * b));
        csw[12] = status;
    }

    // Applies the planned fault to a status wrapper just made; returns its length.
    uint32_t SpoilStatus(uint8_t* csw) {
        faults.bad_status_at_command = 0;  // once
        Halt();
        switch (faults.bad_status) {
            case StatusFault::kPhaseError:
                csw[12] = kStatusPhaseError;
                break;
            case StatusFault::kBadSignature:
                csw[0] = 'X';
                break;
            case StatusFault::kBadTag:
                csw[4] ^= 0xFF;
                break;
            case StatusFault::kShortStatus:
                return kCswSize - 1;
        }
        return kCswSize;
    }
};

EmulatedReceiver::EmulatedReceiver() : state_(std::make_unique<State>()) {}

EmulatedReceiver::~EmulatedReceiver() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->replug_cancel.notify_all();
    if (state_->replug_thread.joinable()) state_->replug_thread.join();
    if (AttachedEmulatedReceiver() == this) AttachEmulatedReceiver(nullptr);
    if (state_->fd >= 0) close(state_->fd);
}

bool EmulatedReceiver::Open(const std::string& image_path) {
    const int fd = open(image_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        return false;
    }
    std::lock_guard lock(state_->mutex);
    if (state_->fd >= 0) close(state_->fd);
    state_->fd = fd;
    state_->sectors = static_cast<uint64_t>(st.st_size) / kSectorBytes;
    state_->ForgetCommand();
    return true;
}

uint64_t EmulatedReceiver::SectorCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->sectors;
}

void EmulatedReceiver::Wait(std::chrono::steady_clock::time_point return_at) {
    if (return_at == std::chrono::steady_clock::time_point{}) return;
    std::this_thread::sleep_until(return_at);
    std::lock_guard lock(state_->mutex);
    state_->Woke(return_at);
}

TransferStatus EmulatedReceiver::BulkOut(uint64_t generation, const uint8_t* data, uint32_t size,
                                         uint32_t* done) {
    *done = 0;
    uint32_t latency_ms = 0;
    bool unplug_now = false;
    TransferStatus result = TransferStatus::kOk;
    std::chrono::steady_clock::time_point return_at{};
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        if (!s.Alive(generation)) return TransferStatus::kNoDevice;
        s.Enter();
        if (TransferStatus fault = s.CountTransfer(); fault != TransferStatus::kOk) return fault;
        if (s.halted_out) return TransferStatus::kStall;
        if (s.phase == Phase::kCommand) {
            if (s.faults.unplug_at_command != 0 &&
                s.counters.commands + 1 == s.faults.unplug_at_command) {
                unplug_now = true;
            } else {
                s.AcceptCommand(data, size);
                latency_ms = s.faults.latency_per_command_ms;
                *done = size;
            }
        } else if (s.phase == Phase::kDataOut) {
            const uint32_t wanted = std::min(size, s.host_length - s.moved);
            const uint32_t allowed = s.BytesBeforeUnplug(wanted);
            // The bytes are taken from a copy-free view; MoveData never writes into them.
            s.MoveData(true, const_cast<uint8_t*>(data), allowed);
            *done = allowed;
            if (allowed < wanted)
                unplug_now = true;
            else if (s.moved == s.host_length)
                s.phase = Phase::kStatus;
        } else {
            // Data sent while the device has data or a status to deliver: it has lost track of
            // the host, so it halts both endpoints until reset recovery.
            s.Halt();
            return TransferStatus::kStall;
        }
        return_at = s.ReturnAt();
    }
    if (unplug_now) {
        Unplug();
        result = TransferStatus::kNoDevice;
    }
    Wait(return_at);
    if (latency_ms != 0) std::this_thread::sleep_for(std::chrono::milliseconds(latency_ms));
    return result;
}

TransferStatus EmulatedReceiver::BulkIn(uint64_t generation, uint8_t* data, uint32_t size,
                                        uint32_t* done) {
    *done = 0;
    bool unplug_now = false;
    std::chrono::steady_clock::time_point return_at{};
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        if (!s.Alive(generation)) return TransferStatus::kNoDevice;
        s.Enter();
        if (TransferStatus fault = s.CountTransfer(); fault != TransferStatus::kOk) return fault;
        if (s.halted_in) return TransferStatus::kStall;
        if (s.phase == Phase::kDataIn) {
            const uint32_t wanted = std::min(size, s.host_length - s.moved);
            const uint32_t allowed = s.BytesBeforeUnplug(wanted);
            s.MoveData(false, data, allowed);
            *done = allowed;
            if (allowed < wanted)
                unplug_now = true;
            else if (s.moved == s.host_length)
                s.phase = Phase::kStatus;
        } else if (s.phase == Phase::kStatus) {
            if (size < kCswSize) return TransferStatus::kFailed;  // the status would overflow
            s.MakeStatus(data);
            *done = kCswSize;
            s.ForgetCommand();
            if (s.faults.bad_status_at_command != 0 &&
                s.counters.commands == s.faults.bad_status_at_command)
                *done = s.SpoilStatus(data);
        } else {
            // Nothing to send: the device answers the host's requests with NAK, forever.
            return TransferStatus::kHang;
        }
        return_at = s.ReturnAt();
    }
    if (unplug_now) {
        Unplug();
        return TransferStatus::kNoDevice;
    }
    Wait(return_at);
    return TransferStatus::kOk;
}

bool EmulatedReceiver::MassStorageReset(uint64_t generation) {
    std::lock_guard lock(state_->mutex);
    if (!state_->Alive(generation)) return false;
    state_->ForgetCommand();
    state_->awaiting_reset = false;
    ++state_->counters.resets;
    return true;
}

bool EmulatedReceiver::ClearHalt(uint64_t generation, Endpoint endpoint) {
    std::lock_guard lock(state_->mutex);
    if (!state_->Alive(generation)) return false;
    if (state_->awaiting_reset) return true;  // accepted, but the halt stays until the reset
    (endpoint == Endpoint::kBulkIn ? state_->halted_in : state_->halted_out) = false;
    return true;
}

bool EmulatedReceiver::ResetPort(uint64_t generation) {
    std::lock_guard lock(state_->mutex);
    if (!state_->Alive(generation)) return false;
    state_->ForgetCommand();
    state_->halted_in = state_->halted_out = state_->awaiting_reset = false;
    ++state_->counters.resets;
    return true;
}

void EmulatedReceiver::Plug() {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->plugged) return;
        state_->plugged = true;
        ++state_->generation;
        state_->ForgetCommand();
        state_->halted_in = state_->halted_out = state_->awaiting_reset = false;
    }
    if (AttachedEmulatedReceiver() == this) NotifyDeviceChange(true);
}

void EmulatedReceiver::Unplug() {
    uint32_t replug_ms = 0;
    {
        std::lock_guard lock(state_->mutex);
        if (!state_->plugged) return;
        state_->plugged = false;
        replug_ms = state_->faults.replug_after_ms;
        // A planned unplug happens once; the plug stays in after it comes back.
        state_->faults.unplug_at_command = 0;
        state_->faults.unplug_after_bytes = 0;
    }
    if (AttachedEmulatedReceiver() == this) NotifyDeviceChange(false);
    if (replug_ms == 0) return;
    if (state_->replug_thread.joinable()) state_->replug_thread.join();
    state_->replug_thread = std::thread([this, replug_ms] {
        std::unique_lock lock(state_->mutex);
        if (state_->replug_cancel.wait_for(lock, std::chrono::milliseconds(replug_ms),
                                           [this] { return state_->stopping; }))
            return;
        lock.unlock();
        Plug();
    });
}

bool EmulatedReceiver::IsPlugged() const {
    std::lock_guard lock(state_->mutex);
    return state_->plugged;
}

uint64_t EmulatedReceiver::Generation() const {
    std::lock_guard lock(state_->mutex);
    return state_->generation;
}

void EmulatedReceiver::StallEndpoint(Endpoint endpoint) {
    std::lock_guard lock(state_->mutex);
    (endpoint == Endpoint::kBulkIn ? state_->halted_in : state_->halted_out) = true;
}

void EmulatedReceiver::SetFaultPlan(const FaultPlan& plan) {
    std::lock_guard lock(state_->mutex);
    state_->faults = plan;
    state_->data_bytes_total = 0;
}

void EmulatedReceiver::SetLinkModel(const LinkModel& model) {
    std::lock_guard lock(state_->mutex);
    state_->model = model;
}

Counters EmulatedReceiver::GetCounters() const {
    std::lock_guard lock(state_->mutex);
    return state_->counters;
}

void EmulatedReceiver::ResetCounters() {
    std::lock_guard lock(state_->mutex);
    state_->counters = Counters{};
}

}  // namespace emulator
