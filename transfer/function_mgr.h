// The file-operation managers: one per side, holding the state of a transfer and the copy
// loop that both sides share.
#pragma once

#include <cstdint>
#include <string>

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
    // k of existing_targets. True when there is at least one.
    virtual bool CheckDestFiles(CDirList* files, CDirList* existing_sources,
                                CDirList* existing_targets, const std::string& source_base,
                                const std::string& target_folder) = 0;
    // Copies the rest of the source into the target, both open and positioned. False when
    // the user stopped it, a stream failed, or the receiver did not come back.
    virtual bool CopyFile(CFile& source, CFile& target);
    virtual bool CopyFiles(CDirList* files, const std::string& source_base,
                           const std::string& target_folder);
    virtual bool MoveEntry(CDirEntry entry, const std::string& target_folder) = 0;
    // Moves the files of the list (folders are skipped); always true.
    virtual bool MoveFiles(CDirList* files, const std::string& target_folder);
    virtual bool DeleteFiles(CDirList* files) = 0;
    virtual bool RenameFile(CDirEntry entry, const std::string& new_name) = 0;

    ProgressCallback progress = nullptr;
    uint64_t total_bytes = 0;
    uint64_t done_bytes = 0;
    uint32_t start_tick = 0;

    CDirList listing;
    CDirList copied;
    CDirList overwritten;
    CDirList resumed;
    CDirList equal_kept;
    CDirList skipped_by_user;

    // Why the last CopyFile or CopyFiles failed, for the user; empty after a success or stop.
    std::string failure;
    // Set when the last CopyFile ended because the user asked to stop.
    bool stopped = false;

  protected:
    // Starts the counters of a transfer of `files`: total bytes over its files, done bytes 0.
    void StartTransfer(const CDirList& files);
    // Sets the modification time of an open PC file (seconds since 1970).
    static void SetPcFileTime(CFile& file, int64_t time);
    // The time a copied PC target gets; CopyFile gives it to every part it finishes.
    int64_t target_time_ = 0;
    // Bytes the part a split copy continues already holds; taken by the next CopyFile.
    uint64_t resume_part_bytes_ = 0;
    // Reads a block for a resume check; a read the lost receiver cut short sets
    // resume_link_lost_, so that the partial target is kept rather than copied over.
    unsigned ReadResumeBlock(CFile& file, uint8_t* data, unsigned size);
    bool resume_link_lost_ = false;

  private:
    struct CopyState;
    bool Reconnect(CopyState& state, CFile& source, CFile& target);
    bool ReopenAfterReconnection(CopyState& state, CFile& source, CFile& target);
    // Writes back a receiver target; false when the link was lost on the way. Throws when the
    // disk refused it for another reason.
    bool FlushReceiverTarget(CopyState& state, CFile& target);
    void StartNextPart(CopyState& state, CFile& target);
    void ProgressStep(CopyState& state);
};

// The session: the two managers, index 0 the PC side, index 1 the receiver side.
class CBoxFunctionMgr;
class CWinFunctionMgr;

class COvSession {
  public:
    static COvSession& Get();
    // Creates the two managers (PC first); called once when the program sets up.
    void SetUp();
    CFunctionMgr* Manager(int side) const { return managers_[side == 0 ? 0 : 1]; }
    ~COvSession();

  private:
    COvSession() = default;
    CFunctionMgr* managers_[2] = {nullptr, nullptr};
};
