// The file-operation managers: one per side, holding the state of a transfer and the one copy
// pipeline both sides share. A side supplies the pipeline's steps (where a file goes, how its
// streams open, how a resume is decided and positioned, how the target gets its time).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "panes/dir_entry.h"
#include "platform/file/cfile.h"
#include "transfer/progress.h"

class CFunctionMgr {
  public:
    CFunctionMgr() = default;
    virtual ~CFunctionMgr() = default;
    CFunctionMgr(const CFunctionMgr&) = delete;
    CFunctionMgr& operator=(const CFunctionMgr&) = delete;

    // Empties the five result lists; the listing stays.
    virtual void ResetLists();
    // Fills the listing with the folder's entries; false when it cannot be read.
    virtual bool ReadDir(const std::string& path) = 0;
    // Whether the target, an existing shorter copy of the source, may be continued: both
    // longer than 2 MiB and their first and last MiB (at the target's end) equal. Both
    // streams were just opened; their positions are moved.
    virtual bool CheckResume(CFile& source, CFile& target);
    // Finds the targets that exist already; item k of existing_sources is the source of item
    // k of existing_targets. True when there is at least one. Plans the targets first.
    virtual bool CheckDestFiles(CDirList* files, CDirList* existing_sources,
                                CDirList* existing_targets, const std::string& source_base,
                                const std::string& target_folder) = 0;
    // Copies the rest of the source into the target, both open and positioned. False when
    // the user stopped it, a stream failed, or the receiver did not come back in time.
    virtual bool CopyFile(CFile& source, CFile& target);
    // Copies the files and folders of the list below target_folder; false when it stopped
    // (`failure` says why, `stopped` when the user asked for it).
    virtual bool CopyFiles(CDirList* files, const std::string& source_base,
                           const std::string& target_folder);
    // Moves one file into another folder of the same side. An existing file there is
    // replaced only when the entry is in the list overwritten (the user said yes); false
    // with `failure` set otherwise.
    virtual bool MoveEntry(CDirEntry entry, const std::string& target_folder) = 0;
    // Moves the files of the list (folders are skipped); always true. The reasons of files
    // that could not be moved are added to `failures`.
    virtual bool MoveFiles(CDirList* files, const std::string& target_folder);
    virtual bool DeleteFiles(CDirList* files) = 0;
    virtual bool RenameFile(CDirEntry entry, const std::string& new_name) = 0;

    // Plans where every file of the list goes, once for the whole transfer: the name made fit
    // for the target side and unique within the transfer (two sources never share a
    // target). Sets each file's targetPath; files planned already keep theirs.
    void PlanTargets(CDirList* files, const std::string& source_base,
                     const std::string& target_folder);
    // The path a file of the same side goes to when it is moved into target_folder.
    virtual std::string MoveTargetPath(const CDirEntry& entry,
                                       const std::string& target_folder) const = 0;
    // Whether an entry exists at `path` of this side that is not `entry` itself; fills
    // `existing` with its record.
    virtual bool OtherEntryAt(const std::string& path, const CDirEntry& entry,
                              CDirEntry* existing) const = 0;

    ProgressCallback progress = nullptr;
    void* progress_context = nullptr;
    uint64_t total_bytes = 0;
    uint64_t done_bytes = 0;
    uint32_t start_tick = 0;
    // How long a copy waits for a receiver that went away; 0 waits until it is back or the
    // user stops.
    uint32_t wait_limit_ms = 0;
    // An existing target that cannot be resumed is kept (and the file reported), not copied
    // over: for runs that were told to resume partial copies only.
    bool keep_unresumable = false;
    // The PC side of a copy reads ahead or writes behind on a second thread while the link
    // moves the other chunk; off only to measure what that brings.
    bool overlap_pc_side = true;
    // Each copied target is read back from where it lives and compared with its source; a
    // difference fails the file (the target is kept).
    bool verify_copies = false;
    // Of the transfer since ResetLists: targets read back whole, and those of them that
    // differed from their source.
    size_t verified_files = 0;
    size_t verify_differences = 0;
    // Called after a file was copied and before it is read back (tests damage targets there).
    void (*before_verify)(const CDirEntry& entry, void* context) = nullptr;
    void* before_verify_context = nullptr;

    CDirList listing;
    CDirList copied;
    CDirList overwritten;
    CDirList resumed;
    CDirList equal_kept;
    CDirList skipped_by_user;
    // "SOURCE stored as TARGET" for each copied file whose name had to change.
    std::vector<std::string> renamed;

    // Why the last operation failed, for the user; empty after a success or stop.
    std::string failure;
    // Every file the last CopyFiles could not copy, with the reason. A file that fails is
    // said and the transfer goes on with the next, unless the target is full or the receiver
    // stays away.
    std::vector<std::string> failures;
    // Whether the last failure ended the whole transfer (full target, receiver away).
    bool TransferEnded() const { return transfer_ended_; }
    // Set when the last CopyFile ended because the user asked to stop.
    bool stopped = false;

  protected:
    // How an existing target is continued.
    struct ResumePlan {
        bool resume = false;
        std::string target_path;  // the file to write: the target, or the last part of one
        uint64_t held = 0;        // bytes of the parts before it
        bool exists = false;      // a target of the planned name exists already
    };

    // The steps a side supplies to the pipeline. Each that can fail sets `failure`.
    // The target of one file before it is made unique: its folder and cleaned name.
    virtual std::string NaturalTargetPath(const CDirEntry& entry, const std::string& source_base,
                                          const std::string& target_folder, bool* split) const = 0;
    // The name a target path is stored under, as people read it.
    virtual std::string StoredName(const std::string& path) const;
    // The n-th variant of a target path (n from 2), within the target side's name limits.
    virtual std::string UniqueTargetPath(const std::string& path, int n) const = 0;
    // What makes two target paths one file (the receiver compares its own bytes).
    virtual std::string TargetKey(const std::string& path) const = 0;
    virtual void MakeTargetFolder(const CDirEntry& folder, const std::string& source_base,
                                  const std::string& target_folder) = 0;
    virtual std::unique_ptr<CFile> OpenSource(const CDirEntry& entry) = 0;
    virtual ResumePlan DecideResume(CFile& source, const CDirEntry& entry) = 0;
    virtual std::unique_ptr<CFile> OpenTarget(const std::string& path, bool resume) = 0;
    // Positions both streams for the copy (after a resume: where it goes on) and takes what
    // the target holds already off the total.
    virtual void PositionStreams(CFile& source, CFile& target, const CDirEntry& entry,
                                 const ResumePlan& plan) = 0;
    // Gives the target the source's time; called before the copy and again before the close
    // (a reconnection may have opened the target anew).
    virtual void StampTarget(CFile& target, const CDirEntry& entry) = 0;
    // After a copy that succeeded.
    virtual void FinishTarget(const CDirEntry&, const std::string&) {}

    // Starts the counters of a transfer of `files`: total bytes over its files, done bytes 0.
    void StartTransfer(const CDirList& files);
    // Reads a block for a resume check; a read the lost receiver cut short sets
    // resume_link_lost_, so that the partial target is kept rather than copied over.
    unsigned ReadResumeBlock(CFile& file, uint8_t* data, unsigned size);
    bool resume_link_lost_ = false;
    // A PC path the transfer must not open: the file that holds the receiver's disk. False
    // with `failure` set for such a path.
    bool PcPathAllowed(const std::string& path);
    // Whether an open that failed did so because the receiver's link is gone.
    bool OpenLostTheLink() const;
    // Sets the modification time of an open PC file (seconds since 1970).
    static void SetPcFileTime(CFile& file, int64_t time);
    // The time a copied PC target gets; CopyFile gives it to every part it finishes.
    int64_t target_time_ = 0;
    // Set when a failure ends the whole transfer, not only the file.
    bool transfer_ended_ = false;
    // Whether the next CopyFile writes its PC target in parts, as the plan decided; unset,
    // CopyFile asks the target's volume.
    int split_next_copy_ = -1;
    // The folder the current transfer copies into.
    std::string transfer_target_;
    // Bytes the part a split copy continues already holds; taken by the next CopyFile.
    uint64_t resume_part_bytes_ = 0;

  private:
    struct CopyState;
    bool CopyOne(const CDirEntry& entry);
    // Reads the target just copied back and compares it with a fresh source stream; false
    // with `failure` set on a difference or when it cannot be read back. `last_written` is
    // the target's path as its stream had it (the last part of a split copy).
    bool VerifyTarget(const CDirEntry& entry, const std::string& last_written,
                      bool target_on_receiver);
    // Waits for a receiver whose link was lost, until it is back and its disk mounted afresh
    // (true), the user stops (`*stop` and `stopped` set) or wait_limit_ms ran out. Streams over
    // the link must have been abandoned before.
    bool WaitForReceiver(const TransferProgress& about, bool* stop);
    // A progress record about a file before its copy has begun.
    TransferProgress AboutFile(const CDirEntry& entry) const;
    bool Reconnect(CopyState& state, CFile& source, CFile& target);
    bool ReopenAfterReconnection(CopyState& state, CFile& source, CFile& target);
    void StartNextPart(CopyState& state, CFile& target);
    void ProgressStep(CopyState& state);
    bool Report(const TransferProgress& record);
    std::string DescribeFailure(const ChunkOutcome& outcome, const CopyState& state,
                                bool writing) const;
};

// The session: the two managers, index 0 the PC side, index 1 the receiver side.
class COvSession {
  public:
    static COvSession& Get();
    // Creates the two managers (PC first); called once when the program sets up.
    void SetUp();
    CFunctionMgr* Manager(int side) const { return managers_[side == 0 ? 0 : 1]; }
    // Asks the system to power the PC off; true when the request was accepted. A refusal is
    // logged ("Failed to shutdown: " with the reason) and the program goes on.
    bool DoSystemShutdown();
    ~COvSession();

  private:
    COvSession() = default;
    CFunctionMgr* managers_[2] = {nullptr, nullptr};
};
