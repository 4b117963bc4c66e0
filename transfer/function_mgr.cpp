#include "transfer/function_mgr.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "platform/last_error.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/link/usb_link.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_names.h"

namespace {

constexpr uint64_t kResumeBlock = 1048576;
constexpr uint64_t kResumeMinimumTarget = 2097152;
// A part of a split target is closed after the chunk written when it already holds more than
// this: 4 GiB - 512 KiB - 1, so that a part never reaches 4 GiB.
constexpr uint64_t kSplitLimit = 0xFFF7FFFFull;
constexpr uint64_t kFatMaxFileBytes = 0xFFFFFFFFull;
constexpr uint32_t kProgressIntervalMs = 233;
constexpr int32_t kTimeLineIntervalMs = 999;
constexpr int kReconnectAttempts = 20;
// Reconnections in a row that bring no byte further end the copy: the link works but the
// receiver keeps failing the same command.
constexpr int kFruitlessReconnections = 3;
// A receiver target's table range and entry are written back after this many bytes, so that a
// receiver that never comes back leaves a partial file of about this much less, which the
// next run resumes, instead of an empty one.
constexpr uint64_t kFlushInterval = 16ull << 20;

bool IsReceiverStream(const CFile& file) {
    return std::strcmp(file.GetRuntimeClassName(), "class CRawFile") == 0;
}

// The Windows runtime's "%I64d" is a 64-bit integer.
std::string WithPortableFormats(std::string format) {
    for (size_t at = format.find("%I64d"); at != std::string::npos; at = format.find("%I64d", at))
        format.replace(at, 5, "%" PRId64);
    return format;
}

std::string FormatClock(int64_t seconds) {
    if (seconds < 0) return "--:--:--";
    const long hours = static_cast<long>(seconds / 3600 - 24 * (seconds / 86400));
    const long minutes = static_cast<long>(seconds / 60 - 60 * (seconds / 3600));
    const long rest = static_cast<long>(seconds - 60 * (seconds / 60));
    char text[96];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", hours, minutes, rest);
    return text;
}

// A failed receiver read or write is a lost link only when the block device failed; a full
// disk or a file at its size limit stays full after any reconnection.
bool ReceiverLinkFailed() {
    return platform::GetLastError() == platform::kErrorReceiverIo &&
           (pcfm_errno == EDEVICE || pcfm_errno == ESHORTIO);
}

}  // namespace

struct CFunctionMgr::CopyState {
    bool source_raw = false;
    bool target_raw = false;
    bool split = false;
    std::vector<uint8_t> buffer;
    uint32_t chunk = 0;
    uint64_t file_length = 0;
    uint64_t to_copy = 0;
    uint64_t source_start = 0;
    uint64_t target_start = 0;
    uint64_t copied = 0;
    uint64_t source_position = 0;
    uint64_t part_bytes = 0;
    uint32_t file_tick = 0;
    uint32_t update_tick = 0;
    uint32_t timeline_tick = 0;
    std::string speed_format;
    std::string time_format;
    std::string time_line;
    std::string source_path;
    std::string target_path;
    bool stop = false;
    int fruitless_reconnections = 0;
    uint64_t unflushed = 0;  // bytes written to a receiver target since its last write-back
};

bool CFunctionMgr::FlushReceiverTarget(CopyState& state, CFile& target) {
    if (pcfm_flush(static_cast<CRawFile&>(target).Handle()) == 0) {
        state.unflushed = 0;
        return true;
    }
    if (pcfm_errno != EDEVICE && pcfm_errno != ESHORTIO)
        throw CFileException(CFileException::hardIO, pcfm_errno, state.target_path);
    return false;
}

void CFunctionMgr::ResetLists() {
    copied.RemoveAll();
    equal_kept.RemoveAll();
    overwritten.RemoveAll();
    resumed.RemoveAll();
    skipped_by_user.RemoveAll();
}

bool CFunctionMgr::CopyFiles(CDirList*, const std::string&, const std::string&) {
    failure.clear();
    stopped = false;
    return true;
}

void CFunctionMgr::StartTransfer(const CDirList& files) {
    total_bytes = 0;
    for (const CDirEntry& entry : files)
        if (entry.isFile == 1) total_bytes += entry.size;
    start_tick = platform::GetTickCount();
    done_bytes = 0;
    platform::SleepMs(50);
}

bool CFunctionMgr::MoveFiles(CDirList* files, const std::string& target_folder) {
    for (const CDirEntry& entry : *files)
        if (entry.isFile) MoveEntry(entry, target_folder);
    return true;
}

bool CFunctionMgr::CheckResume(CFile& source, CFile& target) {
    LogScope scope("CFunctionMgr::CheckResume", 2);
    resume_link_lost_ = false;
    if (!settings::AutoResumeFiles()) return false;
    const uint64_t source_length = source.GetLength();
    const uint64_t target_length = target.GetLength();
    if (source_length <= target_length) return false;
    if (target_length <= kResumeMinimumTarget) return false;
    std::vector<uint8_t> blocks[4];
    for (auto& block : blocks) block.assign(kResumeBlock, 0);
    ReadResumeBlock(source, blocks[0].data(), kResumeBlock);
    ReadResumeBlock(target, blocks[1].data(), kResumeBlock);
    const int64_t tail = static_cast<int64_t>(target_length - kResumeBlock);
    source.Seek(tail, CFile::begin);
    target.Seek(tail, CFile::begin);
    ReadResumeBlock(source, blocks[2].data(), kResumeBlock);
    ReadResumeBlock(target, blocks[3].data(), kResumeBlock);
    return !resume_link_lost_ && blocks[0] == blocks[1] && blocks[2] == blocks[3];
}

unsigned CFunctionMgr::ReadResumeBlock(CFile& file, uint8_t* data, unsigned size) {
    platform::SetLastError(platform::kErrorSuccess);
    const unsigned n = file.Read(data, size);
    if (n < size && IsReceiverStream(file) && ReceiverLinkFailed()) resume_link_lost_ = true;
    return n;
}

void CFunctionMgr::SetPcFileTime(CFile& file, int64_t time) {
    if (file.m_hFile < 0 || time == 0) return;
    const timespec times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
    futimens(file.m_hFile, times);
}

void CFunctionMgr::StartNextPart(CopyState& state, CFile& target) {
    // Parts are named ...~0.TP0, ~1.TP0, ...: the number before the extension counts up.
    const std::string path = target.GetFilePath();
    const size_t tilde = path.rfind('~');
    const size_t dot = path.rfind('.');
    int part = 0;
    if (tilde != std::string::npos && dot != std::string::npos && dot > tilde)
        part = std::atoi(path.substr(tilde + 1, dot - tilde - 1).c_str());
    const std::string next = (tilde != std::string::npos && dot > tilde)
                                 ? path.substr(0, tilde + 1) + std::to_string(part + 1) + ".TP0"
                                 : path + "~" + std::to_string(part + 1) + ".TP0";
    SetPcFileTime(target, target_time_);
    target.Close();
    CFileException error;
    if (!target.Open(next.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::typeBinary,
                     &error))
        throw error;
    LogLine("Next part: " + next, 2);
    state.target_path = next;
}

void CFunctionMgr::ProgressStep(CopyState& state) {
    const uint32_t now = platform::GetTickCount();
    if (progress == nullptr || now - state.update_tick <= kProgressIntervalMs) return;
    state.update_tick = now;
    const uint32_t file_ms = now - state.file_tick;
    const float speed =
        file_ms == 0
            ? 0.0f
            : static_cast<float>(static_cast<double>(state.copied) * 0.00095367431640625 / file_ms);
    char line[256];
    std::snprintf(line, sizeof line, state.speed_format.c_str(),
                  static_cast<int64_t>(state.source_position >> 20),
                  static_cast<int64_t>(state.file_length >> 20), static_cast<double>(speed));
    const float percent = state.to_copy == 0
                              ? 100.0f
                              : static_cast<float>(static_cast<double>(state.copied) /
                                                   static_cast<double>(state.to_copy) * 100.0);
    if (!progress(std::string(line) + "\r\n" + state.time_line, percent, kProgressFile))
        state.stop = true;
    if (static_cast<int32_t>(state.update_tick - state.timeline_tick) > kTimeLineIntervalMs) {
        const int64_t elapsed = static_cast<int64_t>((now - start_tick) / 1000);
        // Without a speed yet there is nothing to estimate from: the clock shows dashes.
        const bool known = speed > 0.0f;
        const double per_byte = known ? 1.0 / speed * 9.5367431640625e-07 : 0.0;
        const int64_t total = known ? static_cast<int64_t>(total_bytes * per_byte) : -1;
        const int64_t remaining =
            known ? static_cast<int64_t>((total_bytes - done_bytes) * per_byte) : -1;
        char time_line[256];
        std::snprintf(time_line, sizeof time_line, state.time_format.c_str(),
                      FormatClock(remaining).c_str(), FormatClock(elapsed).c_str(),
                      FormatClock(total).c_str());
        state.time_line = time_line;
        const float overall = total_bytes == 0
                                  ? 100.0f
                                  : static_cast<float>(static_cast<double>(done_bytes) /
                                                       static_cast<double>(total_bytes) * 100.0);
        if (!progress("", overall, kProgressOverall)) state.stop = true;
        state.timeline_tick = state.update_tick;
    }
}

bool CFunctionMgr::ReopenAfterReconnection(CopyState& state, CFile& source, CFile& target) {
    // A receiver target was closed before the remount, so that what it had written reached the
    // disk; its length now is what the disk holds. Both sides continue at the first byte the
    // target does not hold for sure, which may rewrite a little but never skips a byte.
    uint64_t target_done = state.copied;
    if (state.target_raw) {
        if (static_cast<CRawFile&>(target).Handle() != nullptr) target.Close();
        if (!target.Open(state.target_path.c_str(), CFile::modeWrite | CFile::typeBinary))
            return false;
        const uint64_t length = target.GetLength();
        const uint64_t held = length > state.target_start ? length - state.target_start : 0;
        target_done = std::min(state.copied, held);
        target.Seek(static_cast<int64_t>(state.target_start + target_done), CFile::begin);
    }
    if (state.source_raw && static_cast<CRawFile&>(source).Handle() != nullptr) source.Close();
    if (state.source_raw &&
        !source.Open(state.source_path.c_str(), CFile::modeRead | CFile::typeBinary))
        return false;
    source.Seek(static_cast<int64_t>(state.source_start + target_done), CFile::begin);
    done_bytes -= state.copied - target_done;
    if (state.target_raw) state.part_bytes = target_done;
    state.copied = target_done;
    state.source_position = state.source_start + target_done;
    return true;
}

bool CFunctionMgr::Reconnect(CopyState& state, CFile& source, CFile& target) {
    UsbFailure = true;
    LogLine("USB connection failure! Trying to reconnect!", 1);
    // Once the pipes are open again, the receiver stream that was open is closed, which writes
    // its table range and entry through the new link; then the volume is mounted afresh.
    auto reinitialise = [&]() {
        if (!CheckDeviceAttached()) return false;
        Connect_ReopenPIPE();
        if (!ReadPipeOpen() || !WritePipeOpen()) return false;
        if (state.target_raw && static_cast<CRawFile&>(target).Handle() != nullptr) target.Close();
        if (state.source_raw && static_cast<CRawFile&>(source).Handle() != nullptr) source.Close();
        if (OV_FILE_init() != 0) return false;
        DeviceConnected = true;
        UsbFailure = false;
        return true;
    };
    platform::SleepMs(100);
    ResetDevice(1);
    platform::SleepMs(100);
    bool back = reinitialise();
    const std::string waiting = LoadResString(110);
    for (int i = 0; i < kReconnectAttempts && !back; ++i) {
        platform::SleepMs(500);
        if (progress != nullptr && !progress(waiting, 5.0f * i, kProgressFile)) {
            state.stop = true;
            return false;
        }
        platform::SleepMs(500);
        if (progress != nullptr && !progress(waiting, 5.0f * i + 2, kProgressFile)) {
            state.stop = true;
            return false;
        }
        back = !UsbFailure || reinitialise();
    }
    if (!back) return false;
    LogLine("Connect Device", 3);
    DeviceConnected = true;
    UsbFailure = false;
    return ReopenAfterReconnection(state, source, target);
}

bool CFunctionMgr::CopyFile(CFile& source, CFile& target) {
    LogScope scope("CFunctionMgr::CopyFileA", 2);
    CopyState state;
    stopped = false;
    failure.clear();
    try {
        state.source_raw = IsReceiverStream(source);
        state.target_raw = IsReceiverStream(target);
        state.source_path = source.GetFilePath();
        state.target_path = target.GetFilePath();
        // Receiver paths are held in the receiver's bytes; people read them as UTF-8.
        const std::string source_shown =
            state.source_raw ? FromBox(state.source_path) : state.source_path;
        const std::string target_shown =
            state.target_raw ? FromBox(state.target_path) : state.target_path;
        LogLine(std::string("Source-File (") + source.GetRuntimeClassName() + "): " + source_shown,
                2);
        LogLine(std::string("Target-File (") + target.GetRuntimeClassName() + "): " + target_shown,
                2);
        if (!state.target_raw) {
            const size_t slash = state.target_path.rfind('/');
            state.split = MustSplitLargeFiles(
                slash == std::string::npos ? "." : state.target_path.substr(0, slash + 1));
        }
        if (progress != nullptr)
            progress(state.target_raw ? target_shown : target.GetFileName(), 0.0f,
                     kProgressFileName);

        state.file_tick = state.update_tick = state.timeline_tick = platform::GetTickCount();
        state.chunk = ClampTransferBufferSize(settings::BufferSize());
        state.buffer.assign(state.chunk + 512, 0);
        state.file_length = source.GetLength();
        state.source_start = source.GetPosition();
        state.target_start = target.GetPosition();
        state.to_copy = state.file_length - std::min(state.file_length, state.source_start);
        state.source_position = state.source_start;
        state.part_bytes = resume_part_bytes_;
        resume_part_bytes_ = 0;
        state.speed_format = WithPortableFormats(LoadResString(108));
        state.time_format = LoadResString(109);

        bool more = true;
        while (more) {
            platform::SetLastError(platform::kErrorSuccess);  // an old 4350 must not count
            const unsigned n = source.Read(state.buffer.data(), state.chunk);
            bool link_lost = state.source_raw && n == 0 && ReceiverLinkFailed();
            if (n > 0) {
                // A chunk that would take a part past the largest FAT file goes to a new part
                // first; only chunks above 256 KiB can get there.
                if (state.split && state.part_bytes + n > kFatMaxFileBytes) {
                    StartNextPart(state, target);
                    state.part_bytes = 0;
                }
                target.Write(state.buffer.data(), n);
                if (state.target_raw && platform::GetLastError() == platform::kErrorReceiverIo) {
                    if (!ReceiverLinkFailed())
                        throw CFileException(CFileException::diskFull, pcfm_errno,
                                             state.target_path);
                    link_lost = true;
                } else {
                    if (state.split && state.part_bytes > kSplitLimit) {
                        StartNextPart(state, target);
                        state.part_bytes = 0;
                    }
                    state.copied += n;
                    state.source_position += n;
                    state.part_bytes += n;
                    done_bytes += n;
                    state.fruitless_reconnections = 0;
                    state.unflushed += n;
                    if (state.target_raw && state.unflushed >= kFlushInterval)
                        link_lost = !FlushReceiverTarget(state, target);
                }
            } else if (state.source_raw && !link_lost &&
                       platform::GetLastError() == platform::kErrorReceiverIo) {
                throw CFileException(CFileException::hardIO, pcfm_errno, state.source_path);
            } else if (state.target_raw && !link_lost && !state.stop) {
                // The copy is done only once the table and the entry are on the disk: the
                // close that follows cannot report a lost link, so they are written here.
                link_lost = !FlushReceiverTarget(state, target);
            }
            if (link_lost) {
                if (++state.fruitless_reconnections > kFruitlessReconnections) {
                    failure = "the receiver keeps failing at the same place";
                    break;
                }
                if (Reconnect(state, source, target)) continue;
                if (!state.stop) failure = "the receiver did not come back";
                break;
            }
            ProgressStep(state);
            more = n != 0 && !state.stop;
        }
    } catch (const std::exception& error) {
        failure = error.what();
        LogLine(std::string("Copy failed: ") + failure, 1);
        return false;
    }
    platform::SleepMs(10);
    if (!state.target_raw) SetPcFileTime(target, target_time_);
    if (state.stop) {
        LogLine("Copy files cancelled by user", 1);
        stopped = true;
        return false;
    }
    // A source that delivers nothing before its end (a damaged chain on the receiver) must
    // not pass for a finished copy.
    if (failure.empty() && state.source_position < state.file_length)
        failure = "the source ended after " + std::to_string(state.source_position) + " of " +
                  std::to_string(state.file_length) + " bytes";
    return failure.empty();
}
