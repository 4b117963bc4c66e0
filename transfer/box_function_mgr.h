// The manager of the receiver's disk: lists its folders, copies its files to the PC, moves,
// renames and deletes its entries. "tm_shift.000" and "jukebox" are never deleted.
#pragma once

#include "transfer/function_mgr.h"

class CBoxFunctionMgr : public CFunctionMgr {
  public:
    bool ReadDir(const std::string& path) override;
    bool CheckDestFiles(CDirList* files, CDirList* existing_sources, CDirList* existing_targets,
                        const std::string& source_base, const std::string& target_folder) override;
    bool CopyFiles(CDirList* files, const std::string& source_base,
                   const std::string& target_folder) override;
    bool MoveEntry(CDirEntry entry, const std::string& target_folder) override;
    bool DeleteFiles(CDirList* files) override;
    bool RenameFile(CDirEntry entry, const std::string& new_name) override;
    std::string MoveTargetPath(const CDirEntry& entry,
                               const std::string& target_folder) const override;
    bool OtherEntryAt(const std::string& path, const CDirEntry& entry,
                      CDirEntry* existing) const override;

    // The PC file a receiver file is copied to: the cleaned name in the target folder, for a
    // split copy the name of its first part.
    static std::string PcTargetName(const CDirEntry& entry, bool split);
    // The PC folder a receiver folder of the list is made as.
    static std::string PcFolderTarget(const CDirEntry& folder, const std::string& source_base,
                                      const std::string& target_folder);

  protected:
    std::string NaturalTargetPath(const CDirEntry& entry, const std::string& source_base,
                                  const std::string& target_folder, bool* split) const override;
    std::string UniqueTargetPath(const std::string& path, int n) const override;
    std::string TargetKey(const std::string& path) const override;
    void MakeTargetFolder(const CDirEntry& folder, const std::string& source_base,
                          const std::string& target_folder) override;
    std::unique_ptr<CFile> OpenSource(const CDirEntry& entry) override;
    ResumePlan DecideResume(CFile& source, const CDirEntry& entry) override;
    std::unique_ptr<CFile> OpenTarget(const std::string& path, bool resume) override;
    void PositionStreams(CFile& source, CFile& target, const CDirEntry& entry,
                         const ResumePlan& plan) override;
    void StampTarget(CFile&, const CDirEntry&) override {}
    void FinishTarget(const CDirEntry& entry, const std::string& last_written) override;
};

// The programme title inside a receiver recording, or empty.
std::string ReadReceiverEpgTitle(const std::string& receiver_path);

// The entries never deleted: the recorder's time-shift buffer "tm_shift.000" and the folder
// "jukebox" (in any case).
bool IsProtectedReceiverEntry(const std::string& receiver_name, bool directory);
