#include "transfer/copy_verify.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/log.h"
#include "app/settings.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "pvrdisk/transport/bulk_only_transport.h"
#include "transfer/function_mgr.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/transfer_limits.h"

namespace {

constexpr uint32_t kProgressIntervalMs = 233;
// Parts of a split copy looked for: as many as the copy makes.
constexpr int kMaxParts = 100;

// The target's parts read one after the other as one stream.
class PartReader {
  public:
    PartReader(const std::vector<std::string>& parts, bool on_receiver)
        : parts_(parts), on_receiver_(on_receiver) {}

    // Up to `want` bytes, fewer only at the end of the last part; false with `failed_` set
    // when a part cannot be opened or read.
    bool Read(uint8_t* data, uint32_t want, uint32_t* got) {
        *got = 0;
        while (*got < want) {
            if (file_ == nullptr && !OpenNext()) return next_ >= parts_.size() && !failed_;
            const ChunkOutcome read = file_->ReadChunk(data + *got, want - *got);
            if (!read.ok()) {
                Fail(read.kind == ChunkOutcome::kLinkLost,
                     "cannot read it back: " +
                         (on_receiver_ ? ReceiverErrorText(read.code) : read.reason));
                return false;
            }
            if (read.bytes == 0) {
                file_->Close();
                file_.reset();
                continue;
            }
            *got += read.bytes;
        }
        return true;
    }
    // A stream over a link that went away is dropped without writing anything back.
    void Abandon() {
        if (file_ != nullptr && on_receiver_) file_->Abandon();
        file_.reset();
    }

    bool failed_ = false;
    bool link_lost_ = false;
    std::string reason_;

  private:
    bool OpenNext() {
        if (next_ >= parts_.size()) return false;
        const std::string& path = parts_[next_++];
        if (on_receiver_) {
            // A fresh handle: its entry, table and data come from the disk over the link.
            auto file = std::make_unique<CRawFile>();
            pcfm_errno = 0;
            if (!file->Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) {
                Fail(pcfm_errno == EDEVICE || pcfm_errno == ESHORTIO,
                     "cannot open it again on the receiver: " + ReceiverErrorText(pcfm_errno));
                return false;
            }
            file_ = std::move(file);
            return true;
        }
        auto file = std::make_unique<CFile>();
        CFileException error;
        if (!file->Open(path.c_str(), CFile::modeRead | CFile::typeBinary, &error)) {
            Fail(false, std::string("cannot open it again: ") + error.what());
            return false;
        }
        file_ = std::move(file);
        return true;
    }
    void Fail(bool link_lost, const std::string& reason) {
        failed_ = true;
        link_lost_ = link_lost;
        reason_ = reason;
    }

    const std::vector<std::string>& parts_;
    const bool on_receiver_;
    size_t next_ = 0;
    std::unique_ptr<CFile> file_;
};

VerifyOutcome NotVerified(bool link_lost, const std::string& reason) {
    VerifyOutcome outcome;
    outcome.kind = VerifyOutcome::kNotVerified;
    outcome.link_lost = link_lost;
    outcome.reason = reason;
    return outcome;
}

VerifyOutcome DifferentAt(uint64_t offset) {
    VerifyOutcome outcome;
    outcome.kind = VerifyOutcome::kDifferent;
    outcome.offset = offset;
    return outcome;
}

std::string NameOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

VerifyOutcome CompareWithTarget(CFile& source, const std::vector<std::string>& target_parts,
                                bool target_on_receiver, uint32_t chunk,
                                const VerifyProgress& progress) {
    std::vector<uint8_t> expected(chunk), actual(chunk);
    PartReader target(target_parts, target_on_receiver);
    source.Seek(0, CFile::begin);
    for (uint64_t compared = 0;;) {
        const ChunkOutcome read = source.ReadChunk(expected.data(), chunk);
        if (!read.ok()) {
            target.Abandon();
            return NotVerified(
                read.kind == ChunkOutcome::kLinkLost,
                "cannot read the source again: " +
                    (read.reason.empty() ? ReceiverErrorText(read.code) : read.reason));
        }
        // At the source's end the target must end too: one byte more is a difference.
        const uint32_t want = read.bytes == 0 ? 1 : read.bytes;
        uint32_t got = 0;
        if (!target.Read(actual.data(), want, &got)) {
            target.Abandon();
            return NotVerified(target.link_lost_, target.reason_);
        }
        if (read.bytes == 0) return got == 0 ? VerifyOutcome{} : DifferentAt(compared);
        const uint32_t common = std::min(got, read.bytes);
        const auto mismatch =
            std::mismatch(expected.begin(), expected.begin() + common, actual.begin());
        if (mismatch.first != expected.begin() + common)
            return DifferentAt(compared + static_cast<uint64_t>(mismatch.first - expected.begin()));
        if (got < read.bytes) return DifferentAt(compared + got);
        compared += read.bytes;
        if (progress && !progress(compared)) {
            VerifyOutcome stopped;
            stopped.kind = VerifyOutcome::kStopped;
            return stopped;
        }
    }
}

bool CFunctionMgr::VerifyTarget(const CDirEntry& entry, const std::string& last_written,
                                bool target_on_receiver) {
    LogScope scope("CFunctionMgr::VerifyTarget", 2);
    if (before_verify != nullptr) before_verify(entry, before_verify_context);
    const std::string shown = target_on_receiver ? FromBox(last_written) : last_written;
    // A split copy is read back from its first part to the last one written now.
    std::vector<std::string> parts;
    if (entry.targetSplit && last_written != entry.targetPath) {
        for (int k = 0; k < kMaxParts && (parts.empty() || parts.back() != last_written); ++k)
            parts.push_back(SplitPartPath(entry.targetPath, k));
        if (parts.back() != last_written) {
            failure = "not verified: " + shown + ": its parts cannot be told";
            return false;
        }
    } else {
        parts.push_back(last_written);
    }
    pcfm_errno = 0;
    std::unique_ptr<CFile> source = OpenSource(entry);
    if (source == nullptr) {
        failure = "not verified: " + shown + ": " + failure;
        return false;
    }
    TransferProgress record;
    record.phase = TransferProgress::kVerifying;
    record.file = target_on_receiver ? FromBox(last_written) : NameOf(last_written);
    record.source = entry.fullPath;
    record.target = shown;
    record.file_length = entry.size;
    record.overall_percent = total_bytes == 0
                                 ? 100.0f
                                 : static_cast<float>(static_cast<double>(done_bytes) /
                                                      static_cast<double>(total_bytes) * 100.0);
    uint32_t update_tick = platform::GetTickCount();
    const auto report = [&](uint64_t compared) {
        const uint32_t now = platform::GetTickCount();
        if (progress == nullptr || now - update_tick <= kProgressIntervalMs) return true;
        update_tick = now;
        record.file_position = compared;
        record.file_percent = entry.size == 0
                                  ? 100.0f
                                  : static_cast<float>(static_cast<double>(compared) /
                                                       static_cast<double>(entry.size) * 100.0);
        // Pumps the windows' events, as every progress step does.
        return Report(record);
    };
    const VerifyOutcome outcome =
        CompareWithTarget(*source, parts, target_on_receiver,
                          ClampTransferBufferSize(settings::BufferSize()), report);
    if (outcome.link_lost && source->ReachedOverLink()) source->Abandon();
    source->Close();
    switch (outcome.kind) {
        case VerifyOutcome::kEqual:
            ++verified_files;
            LogLine("Verified: " + shown, 2);
            return true;
        case VerifyOutcome::kDifferent:
            ++verified_files;
            ++verify_differences;
            failure = shown + " differs from its source " + entry.fullPath + " from byte " +
                      std::to_string(outcome.offset) + " on (the copy is kept)";
            return false;
        case VerifyOutcome::kStopped:
            // The file was copied whole; only its read-back was stopped.
            LogLine("Verification cancelled by user: " + shown, 1);
            stopped = true;
            return true;
        case VerifyOutcome::kNotVerified:
            break;
    }
    failure = "not verified: " + shown + ": " + outcome.reason;
    return false;
}
