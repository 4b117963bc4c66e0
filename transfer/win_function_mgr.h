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

    // The receiver folder an entry below `source_base` goes to: its relative folders made
    // ASCII as the folders are made on the receiver.
    static std::string BoxTargetFolder(const CDirEntry& entry, const std::string& source_base,
                                       const std::string& target_folder);
};

// A record of a PC file or folder, as the PC read and the PC gathering form it; false when
// the path cannot be looked at.
bool MakePcRecord(const std::string& folder, const std::string& name, CDirEntry* record);
// The programme title inside a PC recording, or empty.
std::string ReadPcEpgTitle(const std::string& path);
