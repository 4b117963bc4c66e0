// The manager of the PC's disks: lists PC folders, copies PC files to the receiver, moves and
// renames PC files. Deleting PC files is the PC pane's own work.
#pragma once

#include "transfer/function_mgr.h"

class CWinFunctionMgr : public CFunctionMgr {
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

    // The receiver folder an entry below `source_base` goes to: its relative folders made
    // ASCII as the folders are made on the receiver.
    static std::string BoxTargetFolder(const CDirEntry& entry, const std::string& source_base,
                                       const std::string& target_folder);
    // The receiver folder a PC folder of the list is made as.
    static std::string BoxFolderTarget(const CDirEntry& folder, const std::string& source_base,
                                       const std::string& target_folder);

  protected:
    std::string NaturalTargetPath(const CDirEntry& entry, const std::string& source_base,
                                  const std::string& target_folder, bool* split) const override;
    std::string StoredName(const std::string& path) const override;
    std::string UniqueTargetPath(const std::string& path, int n) const override;
    std::string TargetKey(const std::string& path) const override;
    void MakeTargetFolder(const CDirEntry& folder, const std::string& source_base,
                          const std::string& target_folder) override;
    std::unique_ptr<CFile> OpenSource(const CDirEntry& entry) override;
    ResumePlan DecideResume(CFile& source, const CDirEntry& entry) override;
    std::unique_ptr<CFile> OpenTarget(const std::string& path, bool resume) override;
    void PositionStreams(CFile& source, CFile& target, const CDirEntry& entry,
                         const ResumePlan& plan) override;
    void StampTarget(CFile& target, const CDirEntry& entry) override;
};

// A record of a PC file or folder, as the PC read and the PC gathering form it; false when
// the path cannot be looked at.
// The record of a PC folder or regular file; false for anything else (a symbolic link, a
// FIFO, socket or device, a name that cannot be examined), with the reason in `skipped`.
bool MakePcRecord(const std::string& folder, const std::string& name, CDirEntry* record,
                  std::string* skipped = nullptr);
// The programme title inside a PC recording, or empty.
std::string ReadPcEpgTitle(const std::string& path);
