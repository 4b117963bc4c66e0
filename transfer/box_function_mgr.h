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

    // The PC file a receiver file is copied to: the cleaned name in the target folder, for a
    // split copy the name of its first part.
    static std::string PcTargetName(const CDirEntry& entry, bool split);
};

// The programme title inside a receiver recording, or empty.
std::string ReadReceiverEpgTitle(const std::string& receiver_path);
