#include "transfer/box_function_mgr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "panes/entry_text.h"
#include "platform/pc_files.h"
#include "platform/text.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/entry_identity.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "transfer/dos_time.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"
#include "transfer/transfer_limits.h"
#include "transfer/user_messages.h"

namespace {

// Parts looked for after the first of a split copy.
constexpr int kMaxParts = 100;

// Reads entries 0, 1, 2, ... of a receiver folder until the library reports none.
template <typename Visit>
bool ForEachReceiverEntry(const std::string& folder, Visit visit) {
    pcfm_file* directory = pcfm_open(ToBox(folder).c_str(), "d");
    if (directory == nullptr) return false;
    pcfm_dirent entry{};
    for (uint16_t index = 0; index < 512; ++index) {
        entry = pcfm_dirent{};
        entry.index = index;
        if (pcfm_readdir(directory, &entry) != 0) break;
        visit(entry);
    }
    pcfm_close(directory);
    return true;
}

bool StartsWithDot(const pcfm_dirent& e) {
    return std::string(e.name) == ".";
}

bool PcFileExists(const std::string& path, uint64_t* size, int64_t* time) {
    platform::PcFileInfo info;
    if (!platform::InspectPcPath(path, &info) || info.kind != platform::PcKind::kRegular)
        return false;
    if (size) *size = info.size;
    if (time) *time = info.modified;
    return true;
}

// The parts of a split copy that exist, from ~0 on.
std::vector<std::string> ExistingParts(const std::string& first_part) {
    std::vector<std::string> parts;
    for (int k = 0; k < kMaxParts; ++k) {
        const std::string part = SplitPartPath(first_part, k);
        if (!PcFileExists(part, nullptr, nullptr)) break;
        parts.push_back(part);
    }
    return parts;
}

// Whether the volume holding `folder` compares names without case (FAT, exFAT, NTFS, SMB):
// two names differing only in case are then one file.
bool IgnoresCase(const std::string& folder) {
    static constexpr const char* kCaseless[] = {"vfat",  "msdos",   "exfat", "ntfs",
                                                "ntfs3", "fuseblk", "cifs",  "smb2"};
    const std::string name = GetFileSystemName(folder);
    for (const char* caseless : kCaseless)
        if (name == caseless) return true;
    return false;
}

}  // namespace

std::string ReadReceiverEpgTitle(const std::string& receiver_path) {
    CRawFile file;
    if (!file.Open(ToBox(receiver_path).c_str(), CFile::modeRead | CFile::typeBinary)) return "";
    std::string bytes(128, '\0');
    file.Seek(static_cast<int64_t>(kEpgTitleOffset), CFile::begin);
    const unsigned n =
        file.GetPosition() == kEpgTitleOffset ? file.Read(bytes.data(), kEpgTitleBytes) : 0;
    file.Close();
    bytes.resize(n);
    return DecodeEpgTitle(bytes);
}

bool CBoxFunctionMgr::ReadDir(const std::string& path) {
    LogScope scope("CBoxFunctionMgr::ReadDir", 2);
    if (path.empty()) return false;
    listing.RemoveAll();
    // Folders first, then files, each in the order the disk holds them.
    const bool opened = ForEachReceiverEntry(path, [&](const pcfm_dirent& e) {
        if (StartsWithDot(e) || !(e.attributes & kAttrDirectory)) return;
        CDirEntry record;
        record.name = FromBox(e.name);
        record.fullPath = path + "\\" + record.name;
        record.folderPath = path;
        record.time = EntryTimeOf(e);
        listing.Add(record);
    });
    if (!opened) return false;
    ForEachReceiverEntry(path, [&](const pcfm_dirent& e) {
        if (StartsWithDot(e) || (e.attributes & kAttrDirectory)) return;
        CDirEntry record;
        const std::string extension = FromBox(e.extension);
        record.title = FromBox(e.name);
        record.name = record.title + "." + extension;
        record.extension = platform::UpperCase(extension);
        record.fullPath = CollapseBackslashes(path + "\\" + record.name);
        record.folderPath = path;
        record.size = static_cast<uint64_t>(e.size_high) << 32 | e.size_low;
        record.time = EntryTimeOf(e);
        record.isFile = 1;
        if (extension == "TP0" || extension == "tp0")
            record.epgTitle = ReadReceiverEpgTitle(record.fullPath);
        listing.Add(record);
    });
    return true;
}

std::string CBoxFunctionMgr::PcTargetName(const CDirEntry& entry, bool split) {
    std::string name = entry.name;
    MakePcPathComponent(name);
    if (split && entry.size > kSplitLimit)
        name = (name.size() >= 5 ? name.substr(0, name.size() - 5) : name) + "~0.TP0";
    return name;
}

std::string CBoxFunctionMgr::NaturalTargetPath(const CDirEntry& entry,
                                               const std::string& source_base,
                                               const std::string& target_folder,
                                               bool* split) const {
    *split = entry.size > kSplitLimit && MustSplitLargeFiles(target_folder);
    return PcTargetFolder(target_folder, RelativeFolder(entry.folderPath, source_base.size())) +
           PcTargetName(entry, *split);
}

std::string CBoxFunctionMgr::UniqueTargetPath(const std::string& path, int n) const {
    const std::string mark = " (" + std::to_string(n) + ")";
    const size_t slash = path.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    // Before the part number of a split copy, else before the extension.
    size_t cut = path.rfind("~0.TP0");
    if (cut == std::string::npos || cut < name_start || cut + 6 != path.size()) {
        cut = path.rfind('.');
        if (cut == std::string::npos || cut <= name_start) cut = path.size();
    }
    return path.substr(0, cut) + mark + path.substr(cut);
}

std::string CBoxFunctionMgr::TargetKey(const std::string& path) const {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    return IgnoresCase(folder) ? platform::LowerCase(path) : path;
}

std::string CBoxFunctionMgr::PcFolderTarget(const CDirEntry& folder, const std::string& source_base,
                                            const std::string& target_folder) {
    std::string name = folder.name;
    MakePcPathComponent(name);
    return PcTargetFolder(target_folder, RelativeFolder(folder.folderPath, source_base.size())) +
           name;
}

void CBoxFunctionMgr::MakeTargetFolder(const CDirEntry& folder, const std::string& source_base,
                                       const std::string& target_folder) {
    const std::string path = PcFolderTarget(folder, source_base, target_folder);
    std::string error;
    // A failure shows at the first file inside, which cannot be created.
    if (!platform::MakePcFolder(path, &error)) LogLine("Cannot make " + path + ": " + error, 1);
}

std::unique_ptr<CFile> CBoxFunctionMgr::OpenSource(const CDirEntry& entry) {
    auto source = std::make_unique<CRawFile>();
    if (source->Open(ToBox(entry.fullPath).c_str(), CFile::modeRead | CFile::typeBinary))
        return source;
    failure =
        "cannot open " + entry.fullPath + " on the receiver: " + ReceiverErrorText(pcfm_errno);
    return nullptr;
}

CFunctionMgr::ResumePlan CBoxFunctionMgr::DecideResume(CFile& source, const CDirEntry& entry) {
    ResumePlan plan;
    plan.target_path = entry.targetPath;
    const bool split = entry.targetSplit;
    // A split copy continues in its last part; the others in the one target file.
    const std::vector<std::string> parts = split ? ExistingParts(entry.targetPath)
                                                 : (PcFileExists(entry.targetPath, nullptr, nullptr)
                                                        ? std::vector<std::string>{entry.targetPath}
                                                        : std::vector<std::string>{});
    if (parts.empty()) return plan;
    plan.exists = true;
    uint64_t held = 0;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        uint64_t size = 0;
        PcFileExists(parts[i], &size, nullptr);
        held += size;
    }
    CFile existing;
    if (!existing.Open(parts.back().c_str(), CFile::modeRead | CFile::typeBinary)) return plan;
    bool resume = false;
    if (parts.size() == 1) {
        resume = CheckResume(source, existing);
    } else {
        // Earlier parts are taken as they are; the last one must match the source at its
        // place, and the first MiB of the first part the source's start.
        CFile first;
        std::vector<uint8_t> a(kResumeBlock), b(kResumeBlock);
        const uint64_t last_length = existing.GetLength();
        const uint64_t tail = std::min(last_length, kResumeBlock);
        resume = settings::AutoResumeFiles() && held + last_length < entry.size &&
                 first.Open(parts[0].c_str(), CFile::modeRead | CFile::typeBinary) &&
                 first.Read(a.data(), kResumeBlock) == kResumeBlock &&
                 ReadResumeBlock(source, b.data(), kResumeBlock) == kResumeBlock && a == b;
        if (resume) {
            existing.Seek(static_cast<int64_t>(last_length - tail), CFile::begin);
            source.Seek(static_cast<int64_t>(held + last_length - tail), CFile::begin);
            resume = existing.Read(a.data(), static_cast<unsigned>(tail)) == tail &&
                     ReadResumeBlock(source, b.data(), static_cast<unsigned>(tail)) == tail &&
                     std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(tail), b.begin());
        }
    }
    existing.Close();
    if (resume) {
        plan.resume = true;
        plan.target_path = parts.back();
        plan.held = held;
    }
    return plan;
}

std::unique_ptr<CFile> CBoxFunctionMgr::OpenTarget(const std::string& path, bool resume) {
    if (!PcPathAllowed(path)) return nullptr;
    auto target = std::make_unique<CFile>();
    const unsigned flags = resume ? CFile::modeWrite | CFile::typeBinary
                                  : CFile::modeWrite | CFile::modeCreate | CFile::typeBinary;
    CFileException error;
    if (target->Open(path.c_str(), flags, &error)) return target;
    failure = "cannot write " + std::string(error.what());
    return nullptr;
}

void CBoxFunctionMgr::PositionStreams(CFile& source, CFile& target, const CDirEntry&,
                                      const ResumePlan& plan) {
    if (!plan.resume) {
        source.Seek(0, CFile::begin);
        return;
    }
    const uint64_t in_part = target.GetLength();
    target.Seek(static_cast<int64_t>(in_part), CFile::begin);
    source.Seek(static_cast<int64_t>(plan.held + in_part), CFile::begin);
    total_bytes -= std::min(total_bytes, plan.held + in_part);
    resume_part_bytes_ = in_part;
}

void CBoxFunctionMgr::FinishTarget(const CDirEntry& entry, const std::string& last_written) {
    if (!entry.targetSplit) return;
    // Parts of an earlier, longer copy beyond the last one written now are not this file's.
    const size_t tilde = last_written.rfind('~');
    const int last = tilde == std::string::npos ? 0 : std::atoi(last_written.c_str() + tilde + 1);
    for (int part = last + 1; part < kMaxParts; ++part) {
        const std::string stale = SplitPartPath(entry.targetPath, part);
        if (!PcFileExists(stale, nullptr, nullptr)) break;
        std::string error;
        if (platform::RemovePcFile(stale, &error))
            LogLine("Removed the part of an earlier copy: " + stale, 2);
        else
            LogLine("Cannot remove " + stale + ": " + error, 1);
    }
}

bool CBoxFunctionMgr::CheckDestFiles(CDirList* files, CDirList* existing_sources,
                                     CDirList* existing_targets, const std::string& source_base,
                                     const std::string& target_folder) {
    LogScope scope("CBoxFunctionMgr::CheckDestFiles", 2);
    PlanTargets(files, source_base, target_folder);
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile) continue;
        CDirEntry existing;
        if (entry.targetSplit) {
            // A split copy is as long as its parts together, and as old as its first part.
            const std::vector<std::string> parts = ExistingParts(entry.targetPath);
            if (parts.empty()) continue;
            PcFileExists(parts[0], nullptr, &existing.time);
            for (const std::string& part : parts) {
                uint64_t size = 0;
                PcFileExists(part, &size, nullptr);
                existing.size += size;
            }
        } else if (!PcFileExists(entry.targetPath, &existing.size, &existing.time)) {
            // Something else of that name (a link, a FIFO) is asked about too; the copy then
            // refuses to write through it.
            platform::PcFileInfo other;
            if (!platform::InspectPcPath(entry.targetPath, &other)) continue;
        }
        existing.fullPath = entry.targetPath;
        existing.folderPath = target_folder;
        existing.name = entry.name;
        existing.isFile = 1;
        existing_targets->Add(existing);
        existing_sources->Add(entry);
    }
    return !existing_targets->IsEmpty();
}

bool CBoxFunctionMgr::CopyFiles(CDirList* files, const std::string& source_base,
                                const std::string& target_folder) {
    LogScope scope("CBoxFunctionMgr::CopyFiles", 2);
    return CFunctionMgr::CopyFiles(files, source_base, target_folder);
}

std::string CBoxFunctionMgr::MoveTargetPath(const CDirEntry& entry,
                                            const std::string& target_folder) const {
    return CollapseBackslashes(target_folder + "\\" + entry.name);
}

bool CBoxFunctionMgr::OtherEntryAt(const std::string& path, const CDirEntry& entry,
                                   CDirEntry* existing) const {
    ReceiverEntryId there, self;
    if (!IdentifyReceiverEntry(ToBox(path).c_str(), &there)) return false;
    if (IdentifyReceiverEntry(ToBox(CollapseBackslashes(entry.fullPath)).c_str(), &self) &&
        there == self)
        return false;
    *existing = CDirEntry{};
    existing->fullPath = path;
    existing->name = entry.name;
    existing->isFile = there.directory ? 0 : 1;
    // Size and time from the folder's listing, as the question shows them.
    const size_t cut = path.rfind('\\');
    const std::string folder = cut == std::string::npos ? "C:\\" : path.substr(0, cut + 1);
    ForEachReceiverEntry(folder, [&](const pcfm_dirent& e) {
        if (std::strcmp(e.name, there.name) != 0 || std::strcmp(e.extension, there.extension) != 0)
            return;
        existing->size = static_cast<uint64_t>(e.size_high) << 32 | e.size_low;
        existing->time = EntryTimeOf(e);
    });
    return true;
}

bool CBoxFunctionMgr::MoveEntry(CDirEntry entry, const std::string& target_folder) {
    failure.clear();
    const std::string old_path = CollapseBackslashes(entry.fullPath);
    const std::string new_path = MoveTargetPath(entry, target_folder);
    ReceiverEntryId self, there;
    if (!IdentifyReceiverEntry(ToBox(old_path).c_str(), &self)) {
        failure = old_path + ": " + ReceiverErrorText(pcfm_errno);
        return false;
    }
    // The same entry, however the two paths are spelt: nothing to move, and nothing to delete.
    if (IdentifyReceiverEntry(ToBox(new_path).c_str(), &there)) {
        if (there == self) return true;
        if (there.directory) {
            failure = new_path + " is a folder";
            return false;
        }
        CDirEntry confirmed = entry;
        if (!RemoveByPath(overwritten, confirmed)) {
            failure = new_path + " exists already";
            return false;
        }
        overwritten.Add(confirmed);
        if (pcfm_remove(ToBox(new_path).c_str()) != 0) {
            failure = "cannot replace " + new_path + ": " + ReceiverErrorText(pcfm_errno);
            return false;
        }
    }
    if (pcfm_rename(ToBox(old_path).c_str(), ToBox(new_path).c_str()) != 0) {
        failure =
            "cannot move " + old_path + " to " + new_path + ": " + ReceiverErrorText(pcfm_errno);
        return false;
    }
    return true;
}

bool IsProtectedReceiverEntry(const std::string& receiver_name, bool directory) {
    const std::string name = platform::LowerCase(receiver_name);
    return directory ? name == "jukebox" : name == "tm_shift.000";
}

bool CBoxFunctionMgr::DeleteFiles(CDirList* files) {
    LogScope scope("CBoxFunctionMgr::DeleteFiles", 2);
    char text[1024];
    // The whole selection is checked before anything is deleted, so that nothing inside a
    // protected folder goes through it.
    for (const CDirEntry& entry : *files) {
        if (!IsProtectedReceiverEntry(entry.name, !entry.isFile)) continue;
        std::snprintf(text, sizeof text, LoadResString(134).c_str(), entry.name.c_str());
        Messages().ShowWarning(text, LoadResString(117));
        failure = entry.fullPath + " is protected";
        return false;
    }
    for (CDirEntry& entry : *files) {
        if (!entry.isFile) continue;
        entry.fullPath = CollapseBackslashes(entry.fullPath);
        if (pcfm_remove(ToBox(entry.fullPath).c_str()) != 0) {
            failure = entry.fullPath + ": " + ReceiverErrorText(pcfm_errno);
            std::snprintf(text, sizeof text, LoadResString(133).c_str(), entry.name.c_str());
            Messages().ShowWarning(text, LoadResString(117));
            return false;
        }
    }
    for (size_t i = files->GetSize(); i-- > 0;) {
        CDirEntry& entry = (*files)[i];
        if (entry.isFile) continue;
        entry.fullPath = CollapseBackslashes(entry.fullPath);
        if (pcfm_rmdir(ToBox(entry.fullPath).c_str()) != 0) {
            failure = entry.fullPath + ": " + ReceiverErrorText(pcfm_errno);
            std::snprintf(text, sizeof text, LoadResString(133).c_str(), entry.name.c_str());
            Messages().ShowWarning(text, LoadResString(117));
            return false;
        }
    }
    return true;
}

bool CBoxFunctionMgr::RenameFile(CDirEntry entry, const std::string& new_name) {
    LogScope scope("CBoxFunctionMgr::RenameFile", 2);
    failure.clear();
    // A name with a separator would move the entry into another folder.
    if (new_name.find_first_of("/\\") != std::string::npos) {
        failure = "the name '" + new_name + "' is not allowed (a name cannot hold / or \\)";
        return false;
    }
    std::string name = new_name;
    MakeBoxFileName(name);
    // A name that cleans down to blanks and dots would be no name at all.
    if (name.find_first_not_of(". ") == std::string::npos) {
        failure = "the name '" + new_name + "' is not allowed on the receiver";
        return false;
    }
    const std::string new_path = CollapseBackslashes(entry.folderPath + "\\" + name);
    // A folder read in the root has "C:\\NAME" as its full path; the file system wants one.
    const std::string old_path = CollapseBackslashes(entry.fullPath);
    if (pcfm_rename(ToBox(old_path).c_str(), ToBox(new_path).c_str()) != 0) {
        failure =
            "cannot rename " + old_path + " to " + name + ": " + ReceiverErrorText(pcfm_errno);
        return false;
    }
    return true;
}
