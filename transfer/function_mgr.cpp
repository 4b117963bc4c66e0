#include "transfer/function_mgr.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <set>
#include <vector>

#include "app/log.h"
#include "app/settings.h"
#include "panes/entry_text.h"
#include "platform/pc_files.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "transfer/chunk_pipe.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_connection.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/transfer_limits.h"

namespace {

constexpr uint32_t kProgressIntervalMs = 233;
constexpr int32_t kTimeLineIntervalMs = 999;
constexpr int kAttemptsPerWait = 20;
// Reconnections in a row that bring no byte further end the copy: the link works but the
// receiver keeps failing the same command.
constexpr int kFruitlessReconnections = 3;
// A receiver target's table range and entry are written back after this many bytes, so that a
// receiver that never comes back leaves a partial file of about this much less, which the
// next run resumes, instead of an empty one.
constexpr uint64_t kCommitInterval = 16ull << 20;
// Variants tried for a target name that another source of the transfer has taken.
constexpr int kMaxUniqueVariants = 999;

std::string NameOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

struct CFunctionMgr::CopyState {
    bool source_link = false;
    bool target_link = false;
    bool split = false;
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
    std::string source_path;
    std::string target_path;
    std::string shown;
    std::string source_shown;
    std::string target_shown;
    bool stop = false;
    int fruitless_reconnections = 0;
    uint64_t uncommitted = 0;  // bytes written to a receiver target since its last write-back
};

void CFunctionMgr::ResetLists() {
    copied.RemoveAll();
    equal_kept.RemoveAll();
    overwritten.RemoveAll();
    resumed.RemoveAll();
    skipped_by_user.RemoveAll();
    renamed.clear();
    verified_files = 0;
    verify_differences = 0;
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
    // A file that could not be moved stays where it was; its reason joins the failures.
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile || MoveEntry(entry, target_folder)) continue;
        LogLine("Not moved: " + failure, 2);
        failures.push_back(failure);
    }
    return true;
}

void CFunctionMgr::PlanTargets(CDirList* files, const std::string& source_base,
                               const std::string& target_folder) {
    std::set<std::string> taken;
    for (const CDirEntry& entry : *files)
        if (entry.isFile && !entry.targetPath.empty()) taken.insert(TargetKey(entry.targetPath));
    for (CDirEntry& entry : *files) {
        if (!entry.isFile || !entry.targetPath.empty()) continue;
        bool split = false;
        const std::string natural = NaturalTargetPath(entry, source_base, target_folder, &split);
        entry.targetSplit = split;
        std::string path = natural;
        for (int n = 2; taken.count(TargetKey(path)) != 0 && n <= kMaxUniqueVariants; ++n)
            path = UniqueTargetPath(natural, n);
        if (path != natural)
            LogLine("Target taken by another file of this transfer: " + entry.fullPath +
                        " goes to " + path,
                    2);
        taken.insert(TargetKey(path));
        entry.targetPath = path;
    }
}

bool CFunctionMgr::CopyFiles(CDirList* files, const std::string& source_base,
                             const std::string& target_folder) {
    failure.clear();
    failures.clear();
    stopped = false;
    transfer_ended_ = false;
    transfer_target_ = target_folder;
    PlanTargets(files, source_base, target_folder);
    StartTransfer(*files);
    // The list holds each folder before the entries inside it.
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile) {
            MakeTargetFolder(entry, source_base, target_folder);
            continue;
        }
        bool ok = false;
        failure.clear();
        try {
            ok = CopyOne(entry);
        } catch (const std::exception& error) {
            // A stream that raised (a PC disk failing, a resume check's read) ends the file.
            failure = error.what();
        }
        if (!ok) {
            // A file that was not copied is not counted as overwritten or resumed.
            RemoveByPath(overwritten, entry);
            RemoveByPath(resumed, entry);
            if (stopped) return false;
            if (failure.empty()) failure = "copy of " + entry.fullPath + " failed";
            LogLine("Copy failed: " + failure, 1);
            failures.push_back(failure);
            // A file that cannot be copied is said and the others go on; a full target or a
            // receiver that stays away ends the transfer.
            if (transfer_ended_) return false;
            continue;
        }
        copied.Add(entry);
        const std::string stored = StoredName(entry.targetPath);
        if (stored != entry.name) {
            renamed.push_back(entry.fullPath + " stored as " + stored);
            LogLine(renamed.back(), 2);
        }
        // A stop during a read-back comes after the file was copied whole.
        if (stopped) return false;
    }
    if (!failures.empty()) failure = failures.back();
    return failures.empty();
}

TransferProgress CFunctionMgr::AboutFile(const CDirEntry& entry) const {
    TransferProgress about;
    about.file = entry.targetPath;
    about.source = entry.fullPath;
    about.target = entry.targetPath;
    about.file_length = entry.size;
    return about;
}

std::string CFunctionMgr::StoredName(const std::string& path) const {
    return NameOf(path);
}

bool CFunctionMgr::OpenLostTheLink() const {
    return ActiveReceiver() != nullptr && (pcfm_errno == EDEVICE || pcfm_errno == ESHORTIO);
}

bool CFunctionMgr::CopyOne(const CDirEntry& entry) {
    // A receiver lost before the bytes flow (at an open, in the resume check) is waited for,
    // and the file is started again with everything decided anew.
    for (int lost = 0;; ++lost) {
        if (lost > kFruitlessReconnections) {
            failure = "the receiver keeps failing at the same place";
            return false;
        }
        pcfm_errno = 0;
        std::unique_ptr<CFile> source = OpenSource(entry);
        if (source == nullptr) {
            if (OpenLostTheLink()) {
                failure.clear();
                if (WaitForReceiver(AboutFile(entry), nullptr)) continue;
                return false;
            }
            LogLine("Failed to open read file", 3);
            return false;
        }
        resume_link_lost_ = false;
        const ResumePlan plan = DecideResume(*source, entry);
        if (resume_link_lost_) {
            source->Abandon();
            failure.clear();
            if (WaitForReceiver(AboutFile(entry), nullptr)) continue;
            return false;
        }
        if (!failure.empty()) return false;
        if (plan.exists && !plan.resume && keep_unresumable) {
            failure =
                "kept " + entry.targetPath + ": it is not a partial copy of " + entry.fullPath;
            return false;
        }
        pcfm_errno = 0;
        std::unique_ptr<CFile> target = OpenTarget(plan.target_path, plan.resume);
        if (target == nullptr) {
            if (OpenLostTheLink()) {
                source->Abandon();
                failure.clear();
                if (WaitForReceiver(AboutFile(entry), nullptr)) continue;
                return false;
            }
            LogLine("Failed to create write file", 3);
            return false;
        }
        if (plan.resume) {
            resumed.Add(entry);
            RemoveByPath(overwritten, entry);
        }
        PositionStreams(*source, *target, entry, plan);
        target_time_ = entry.time;
        StampTarget(*target, entry);
        split_next_copy_ = entry.targetSplit ? 1 : 0;
        const bool ok = CopyFile(*source, *target);
        split_next_copy_ = -1;
        StampTarget(*target, entry);
        // A split copy may have gone on to later parts.
        const std::string last_written = target->GetFilePath();
        const bool target_on_receiver = target->ReachedOverLink();
        source->Close();
        target->Close();
        if (!ok) return false;
        FinishTarget(entry, last_written);
        return !verify_copies || VerifyTarget(entry, last_written, target_on_receiver);
    }
}

bool CFunctionMgr::PcPathAllowed(const std::string& path) {
    // No step below the transfer's target folder may be a symbolic link: what is written
    // stays inside the folder the user named.
    if (!transfer_target_.empty() && path.rfind(transfer_target_, 0) == 0) {
        for (size_t cut = path.find('/', transfer_target_.size() + 1); cut != std::string::npos;
             cut = path.find('/', cut + 1)) {
            platform::PcFileInfo step;
            if (platform::InspectPcPath(path.substr(0, cut), &step) &&
                step.kind == platform::PcKind::kSymbolicLink) {
                failure =
                    path.substr(0, cut) + " is a symbolic link; nothing is written through one";
                return false;
            }
        }
    }
    platform::PcFileInfo info;
    if (!platform::InspectPcPath(path, &info)) return true;
    if (info.kind == platform::PcKind::kSymbolicLink) {
        failure = path + " is a symbolic link; nothing is read or written through one";
        return false;
    }
    // FIFOs, sockets and devices are never read or written as files.
    if (info.kind != platform::PcKind::kRegular) {
        failure = path + " is not a regular file";
        return false;
    }
    const ReceiverConnection* receiver = ActiveReceiver();
    if (receiver == nullptr || !receiver->IsBackingFile(info)) return true;
    failure = path +
              " is the file that holds the receiver's disk; it is never read or written "
              "as a file of the transfer";
    return false;
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
    const ChunkOutcome outcome = file.ReadChunk(data, size);
    if (outcome.kind == ChunkOutcome::kLinkLost) resume_link_lost_ = true;
    return outcome.bytes;
}

void CFunctionMgr::SetPcFileTime(CFile& file, int64_t time) {
    if (file.m_hFile < 0 || time == 0) return;
    platform::SetOpenFileTime(file.m_hFile, time);
}

void CFunctionMgr::StartNextPart(CopyState& state, CFile& target) {
    const std::string next = NextPartPath(state.target_path);
    SetPcFileTime(target, target_time_);
    target.Close();
    if (!PcPathAllowed(next)) throw CFileException(CFileException::accessDenied, EACCES, next);
    CFileException error;
    if (!target.Open(next.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::typeBinary,
                     &error))
        throw error;
    LogLine("Next part: " + next, 2);
    state.target_path = next;
}

bool CFunctionMgr::Report(const TransferProgress& record) {
    return progress == nullptr || progress(record, progress_context);
}

void CFunctionMgr::ProgressStep(CopyState& state) {
    const uint32_t now = platform::GetTickCount();
    if (progress == nullptr || now - state.update_tick <= kProgressIntervalMs) return;
    state.update_tick = now;
    const uint32_t file_ms = now - state.file_tick;
    const double speed =
        file_ms == 0 ? 0.0 : static_cast<double>(state.copied) * 0.00095367431640625 / file_ms;
    TransferProgress record;
    record.phase = TransferProgress::kCopying;
    record.file = state.shown;
    record.source = state.source_shown;
    record.target = state.target_shown;
    record.file_position = state.source_position;
    record.file_length = state.file_length;
    record.speed_mib_s = speed;
    record.file_percent = state.to_copy == 0
                              ? 100.0f
                              : static_cast<float>(static_cast<double>(state.copied) /
                                                   static_cast<double>(state.to_copy) * 100.0);
    record.overall_percent = total_bytes == 0
                                 ? 100.0f
                                 : static_cast<float>(static_cast<double>(done_bytes) /
                                                      static_cast<double>(total_bytes) * 100.0);
    record.elapsed_s = static_cast<int64_t>((now - start_tick) / 1000);
    // Without a speed yet there is nothing to estimate from.
    if (speed > 0.0) {
        const double per_byte = 1.0 / speed * 9.5367431640625e-07;
        record.total_s = static_cast<int64_t>(static_cast<double>(total_bytes) * per_byte);
        record.remaining_s =
            static_cast<int64_t>(static_cast<double>(total_bytes - done_bytes) * per_byte);
    }
    // The report may pump the windows' events: the link flags may change meanwhile, and the
    // user may ask to stop; nothing of this copy's state is touched from there.
    if (!Report(record)) state.stop = true;
    if (static_cast<int32_t>(state.update_tick - state.timeline_tick) > kTimeLineIntervalMs) {
        record.phase = TransferProgress::kOverall;
        if (!Report(record)) state.stop = true;
        state.timeline_tick = state.update_tick;
    }
}

bool CFunctionMgr::ReopenAfterReconnection(CopyState& state, CFile& source, CFile& target) {
    // The disk was mounted afresh; a receiver target holds what its last write-back put on
    // the disk. Both sides continue at the first byte the target does not hold for sure,
    // which may write a little again but never skips a byte.
    uint64_t target_done = state.copied;
    if (state.target_link) {
        bool opened = target.Open(state.target_path.c_str(), CFile::modeWrite | CFile::typeBinary);
        // A new target whose entry never reached the disk starts again from nothing.
        if (!opened && state.target_start == 0)
            opened = target.Open(state.target_path.c_str(),
                                 CFile::modeWrite | CFile::modeCreate | CFile::typeBinary);
        if (!opened) {
            failure = "after the receiver came back, " + FromBox(state.target_path) +
                      " could not be opened again";
            return false;
        }
        // A write-back the link cut short may have marked clusters for the target on the disk
        // without its entry; those no entry holds are given back.
        if (auto* receiver_file = dynamic_cast<CRawFile*>(&target)) {
            const int freed = receiver_file->ReclaimOrphans(receiver_file->AbandonedChain());
            if (freed > 0)
                LogLine("Clusters of the lost write-back given back: " + FormatDec(freed), 2);
        }
        const uint64_t length = target.GetLength();
        const uint64_t held = length > state.target_start ? length - state.target_start : 0;
        target_done = std::min(state.copied, held);
        target.Seek(static_cast<int64_t>(state.target_start + target_done), CFile::begin);
    }
    if (state.source_link &&
        !source.Open(state.source_path.c_str(), CFile::modeRead | CFile::typeBinary)) {
        failure = "after the receiver came back, " + FromBox(state.source_path) +
                  " could not be opened again";
        return false;
    }
    source.Seek(static_cast<int64_t>(state.source_start + target_done), CFile::begin);
    done_bytes -= state.copied - target_done;
    if (state.target_link) state.part_bytes = target_done;
    state.copied = target_done;
    state.source_position = state.source_start + target_done;
    state.uncommitted = 0;
    return true;
}

bool CFunctionMgr::WaitForReceiver(const TransferProgress& about, bool* stop) {
    UsbFailure = true;
    LogLine("USB connection failure! Trying to reconnect!", 1);
    ReceiverConnection* receiver = ActiveReceiver();
    if (receiver == nullptr) {
        failure = "the link to the receiver was lost";
        transfer_ended_ = true;
        return false;
    }
    platform::SleepMs(100);
    receiver->Reset();
    platform::SleepMs(100);
    bool back = receiver->Reinitialise();
    const uint32_t wait_start = platform::GetTickCount();
    TransferProgress record = about;
    record.phase = TransferProgress::kWaiting;
    // The wait ends by the receiver's return or the user's stop (or the caller's bound): the
    // attempts are counted in rounds of twenty, as the progress shows them.
    for (int i = 0; !back; ++i) {
        record.wait_attempt = i % kAttemptsPerWait;
        record.wait_tries = i;
        for (int half = 0; half < 2; ++half) {
            platform::SleepMs(500);
            record.wait_percent = 5.0f * record.wait_attempt + 2.0f * half;
            // Pumps the windows' events: the main dialog may re-initialise the receiver
            // meanwhile and clear UsbFailure.
            if (!Report(record)) {
                if (stop != nullptr) *stop = true;
                stopped = true;
                return false;
            }
        }
        back = !UsbFailure || receiver->Reinitialise();
        if (!back && wait_limit_ms != 0 && platform::GetTickCount() - wait_start >= wait_limit_ms) {
            failure = "the receiver did not come back within " +
                      std::to_string(wait_limit_ms / 1000) + " s";
            transfer_ended_ = true;
            return false;
        }
    }
    LogLine("Connect Device", 3);
    DeviceConnected = true;
    UsbFailure = false;
    return true;
}

bool CFunctionMgr::Reconnect(CopyState& state, CFile& source, CFile& target) {
    // Nothing the streams hold from before the outage is written back: the receiver may have
    // changed its disk meanwhile, and the remount reads it again.
    if (state.source_link) source.Abandon();
    if (state.target_link) target.Abandon();
    TransferProgress about;
    about.file = state.shown;
    about.source = state.source_shown;
    about.target = state.target_shown;
    about.file_position = state.source_position;
    about.file_length = state.file_length;
    about.file_percent = state.to_copy == 0
                             ? 0.0f
                             : static_cast<float>(static_cast<double>(state.copied) /
                                                  static_cast<double>(state.to_copy) * 100.0);
    if (!WaitForReceiver(about, &state.stop)) return false;
    return ReopenAfterReconnection(state, source, target);
}

std::string CFunctionMgr::DescribeFailure(const ChunkOutcome& outcome, const CopyState& state,
                                          bool writing) const {
    const bool on_receiver = writing ? state.target_link : state.source_link;
    const std::string path = writing ? state.target_path : state.source_path;
    const std::string shown = on_receiver ? FromBox(path) : path;
    const uint64_t needed = state.file_length - std::min(state.file_length, state.source_position);
    if (outcome.kind == ChunkOutcome::kDiskFull) {
        uint64_t free_bytes = 0;
        ReceiverSpace space;
        bool known = false;
        if (on_receiver) {
            known = QueryReceiverSpace(ActiveReceiver(), &space);
            free_bytes = space.free_bytes;
        } else {
            known = platform::PcFreeBytes(path, &free_bytes);
        }
        const std::string where =
            on_receiver ? "the receiver's disk is full" : "the PC's disk is full";
        return where + " while writing " + shown + " (" +
               (known ? FormatSize(free_bytes) + " free, " : std::string()) + FormatSize(needed) +
               " more needed)";
    }
    if (on_receiver)
        return (writing ? "cannot write " : "cannot read ") + shown +
               " on the receiver: " + ReceiverErrorText(outcome.code);
    return outcome.reason.empty() ? "cannot " + std::string(writing ? "write " : "read ") + shown
                                  : outcome.reason;
}

bool CFunctionMgr::CopyFile(CFile& source, CFile& target) {
    LogScope scope("CFunctionMgr::CopyFileA", 2);
    CopyState state;
    stopped = false;
    failure.clear();
    try {
        state.source_link = source.ReachedOverLink();
        state.target_link = target.ReachedOverLink();
        state.source_path = source.GetFilePath();
        state.target_path = target.GetFilePath();
        // Receiver paths are held in the receiver's bytes; people read them as UTF-8.
        const std::string source_shown =
            state.source_link ? FromBox(state.source_path) : state.source_path;
        const std::string target_shown =
            state.target_link ? FromBox(state.target_path) : state.target_path;
        LogLine(std::string("Source-File (") + source.GetRuntimeClassName() + "): " + source_shown,
                2);
        LogLine(std::string("Target-File (") + target.GetRuntimeClassName() + "): " + target_shown,
                2);
        if (!state.target_link && split_next_copy_ >= 0) {
            state.split = split_next_copy_ == 1;
        } else if (!state.target_link) {
            const size_t slash = state.target_path.rfind('/');
            state.split = MustSplitLargeFiles(
                slash == std::string::npos ? "." : state.target_path.substr(0, slash + 1));
        }
        state.shown = state.target_link ? target_shown : target.GetFileName();
        state.source_shown = source_shown;
        state.target_shown = target_shown;
        TransferProgress starts;
        starts.phase = TransferProgress::kFileStarts;
        starts.file = state.shown;
        starts.source = source_shown;
        starts.target = target_shown;
        Report(starts);

        state.file_tick = state.update_tick = state.timeline_tick = platform::GetTickCount();
        state.chunk = ClampTransferBufferSize(settings::BufferSize());
        state.file_length = source.GetLength();
        state.source_start = source.GetPosition();
        state.target_start = target.GetPosition();
        state.to_copy = state.file_length - std::min(state.file_length, state.source_start);
        state.source_position = state.source_start;
        state.part_bytes = resume_part_bytes_;
        resume_part_bytes_ = 0;

        // The PC side works while the link moves the other chunk.
        ChunkPipe::Overlap overlap = ChunkPipe::Overlap::kNone;
        if (overlap_pc_side && state.source_link != state.target_link)
            overlap = state.target_link ? ChunkPipe::Overlap::kReadAhead
                                        : ChunkPipe::Overlap::kWriteBehind;
        ChunkPipe pipe(source, target, state.chunk, overlap);
        // Counts a chunk as copied, or takes back a chunk written behind whose write failed.
        const auto count = [&](uint64_t n) {
            state.copied += n;
            state.source_position += n;
            state.part_bytes += n;
            done_bytes += n;
        };
        const auto take_back = [&](uint64_t n) {
            state.copied -= n;
            state.source_position -= n;
            state.part_bytes -= n;
            done_bytes -= n;
        };
        // Waits for the PC side; false (with `failure` set) when a write behind failed.
        const auto settle = [&]() {
            const ChunkOutcome settled = pipe.Settle();
            if (settled.ok()) return true;
            take_back(pipe.Behind());
            failure = DescribeFailure(settled, state, true);
            transfer_ended_ = settled.kind == ChunkOutcome::kDiskFull;
            return false;
        };

        for (bool more = true; more;) {
            bool link_lost = false;
            const ChunkOutcome read = pipe.Read();
            const uint32_t n = read.ok() ? read.bytes : 0;
            if (read.kind == ChunkOutcome::kLinkLost) {
                link_lost = true;
            } else if (!read.ok()) {
                failure = DescribeFailure(read, state, false);
                transfer_ended_ = read.kind == ChunkOutcome::kDiskFull;
                break;
            } else if (n > 0) {
                // A chunk that would take a part past the largest FAT file goes to a new part
                // first; only chunks above 256 KiB can get there.
                if (state.split && state.part_bytes + n > kFatMaxFileBytes) {
                    if (!settle()) break;
                    StartNextPart(state, target);
                    state.part_bytes = 0;
                }
                const ChunkOutcome written = pipe.Write(n);
                if (written.kind == ChunkOutcome::kLinkLost) {
                    link_lost = true;
                } else if (!written.ok()) {
                    take_back(pipe.Behind());
                    failure = DescribeFailure(written, state, true);
                    transfer_ended_ = written.kind == ChunkOutcome::kDiskFull;
                    break;
                } else {
                    count(n);
                    // A part that held more than the split limit before this chunk is closed
                    // with it, and the chunk counts towards the next part.
                    if (state.split && state.part_bytes - n > kSplitLimit) {
                        if (!settle()) break;
                        StartNextPart(state, target);
                        state.part_bytes = n;
                    }
                    state.fruitless_reconnections = 0;
                    state.uncommitted += n;
                    if (state.target_link && state.uncommitted >= kCommitInterval) {
                        const ChunkOutcome committed = target.Commit();
                        state.uncommitted = 0;
                        if (committed.kind == ChunkOutcome::kLinkLost) {
                            link_lost = true;
                        } else if (!committed.ok()) {
                            failure = DescribeFailure(committed, state, true);
                            break;
                        }
                    }
                }
            } else if (state.source_position < state.file_length) {
                // A source that delivers nothing before its end must not pass for a copy.
                failure = "the source " + source_shown + " ended after " +
                          std::to_string(state.source_position) + " of " +
                          std::to_string(state.file_length) + " bytes";
                break;
            } else if (!state.target_link) {
                // A PC target's last chunk is on its disk before the copy counts as done.
                if (!settle()) break;
            } else if (!state.stop) {
                // The copy is done only once the table and the entry are on the disk: the
                // close that follows cannot report a lost link, so they are written here.
                const ChunkOutcome committed = target.Commit();
                if (committed.kind == ChunkOutcome::kLinkLost) {
                    link_lost = true;
                } else if (!committed.ok()) {
                    failure = DescribeFailure(committed, state, true);
                    break;
                }
            }
            if (link_lost) {
                if (++state.fruitless_reconnections > kFruitlessReconnections) {
                    failure = "the receiver keeps failing at the same place";
                    transfer_ended_ = true;
                    break;
                }
                // The reconnection positions both sides at the last byte the target holds.
                if (!settle()) break;
                if (Reconnect(state, source, target)) continue;
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
    if (!state.target_link) SetPcFileTime(target, target_time_);
    if (state.stop) {
        LogLine("Copy files cancelled by user", 1);
        stopped = true;
        failure.clear();
        return false;
    }
    return failure.empty();
}
