#include "transfer/box_function_mgr.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/log.h"
#include "app/settings.h"
#include "app/string_table.h"
#include "panes/entry_text.h"
#include "platform/text.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_names.h"
#include "transfer/user_messages.h"

namespace {

constexpr uint64_t kSplitAbove = 0xFFF7FFFFull;
constexpr uint64_t kResumeBlock = 1048576;

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

int64_t EntryTime(const pcfm_dirent& e) {
    return LocalTimeOf(e.year, e.month == 0 ? 1 : e.month, e.day == 0 ? 1 : e.day, e.hour, e.minute,
                       e.second);
}

bool PcFileExists(const std::string& path, uint64_t* size, int64_t* time) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (size) *size = static_cast<uint64_t>(st.st_size);
    if (time) *time = st.st_mtim.tv_sec;
    return true;
}

// The parts of a split copy that exist, from ~0 on.
std::vector<std::string> ExistingParts(const std::string& first_part) {
    std::vector<std::string> parts;
    const size_t tilde = first_part.rfind('~');
    for (int k = 0; k < 100; ++k) {
        const std::string part = first_part.substr(0, tilde + 1) + std::to_string(k) + ".TP0";
        if (!PcFileExists(part, nullptr, nullptr)) break;
        parts.push_back(part);
    }
    return parts;
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
        record.time = EntryTime(e);
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
        record.time = EntryTime(e);
        record.isFile = 1;
        if (extension == "TP0" || extension == "tp0")
            record.epgTitle = ReadReceiverEpgTitle(record.fullPath);
        listing.Add(record);
    });
    return true;
}

std::string CBoxFunctionMgr::PcTargetName(const CDirEntry& entry, bool split) {
    std::string name = entry.name;
    MakePcFileName(name);
    if (split && entry.size > kSplitAbove && name.size() >= 5)
        name = name.substr(0, name.size() - 5) + "~0.TP0";
    return name;
}

bool CBoxFunctionMgr::CheckDestFiles(CDirList* files, CDirList* existing_sources,
                                     CDirList* existing_targets, const std::string& source_base,
                                     const std::string& target_folder) {
    LogScope scope("CBoxFunctionMgr::CheckDestFiles", 2);
    const bool split = MustSplitLargeFiles(target_folder);
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile) continue;
        const std::string folder = JoinTargetFolder(
            target_folder, RelativeFolder(entry.folderPath, source_base.size()), '/');
        // The name the copy writes: the cleaned one, and a split copy's first part.
        const std::string target = folder + PcTargetName(entry, split);
        CDirEntry existing;
        if (!PcFileExists(target, &existing.size, &existing.time)) continue;
        existing.fullPath = target;
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
    CFunctionMgr::CopyFiles(files, source_base, target_folder);
    const bool split = MustSplitLargeFiles(target_folder);
    StartTransfer(*files);
    for (const CDirEntry& entry : *files) {
        const std::string folder = JoinTargetFolder(
            target_folder, RelativeFolder(entry.folderPath, source_base.size()), '/');
        if (!entry.isFile) {
            std::string name = entry.name;
            MakePcFileName(name);
            mkdir((folder + name).c_str(), 0755);  // a failure shows at the first file inside
            continue;
        }
        CRawFile source;
        if (!source.Open(ToBox(entry.fullPath).c_str(), CFile::modeRead | CFile::typeBinary)) {
            LogLine("Failed to open read file", 3);
            failure = "cannot open " + entry.fullPath + " on the receiver";
            return false;
        }
        const bool split_this = split && entry.size > kSplitAbove;
        const std::string first_part = folder + PcTargetName(entry, split);
        // A split copy continues in its last part; the others in the one target file.
        std::vector<std::string> parts =
            split_this ? ExistingParts(first_part) : std::vector<std::string>{first_part};
        if (!split_this && !PcFileExists(first_part, nullptr, nullptr)) parts.clear();
        uint64_t held = 0;
        for (size_t i = 0; i + 1 < parts.size(); ++i) {
            uint64_t size = 0;
            PcFileExists(parts[i], &size, nullptr);
            held += size;
        }
        bool resume = false;
        resume_link_lost_ = false;
        std::string target_path = first_part;
        if (!parts.empty()) {
            target_path = parts.back();
            CFile existing;
            if (existing.Open(target_path.c_str(), CFile::modeRead | CFile::typeBinary)) {
                if (parts.size() == 1) {
                    resume = CheckResume(source, existing);
                } else {
                    // Earlier parts are taken as they are; the last one must match the source
                    // at its place, and the first MiB of the first part the source's start.
                    CFile first;
                    std::vector<uint8_t> a(kResumeBlock), b(kResumeBlock);
                    const uint64_t last_length = existing.GetLength();
                    const uint64_t tail = std::min(last_length, kResumeBlock);
                    resume = settings::AutoResumeFiles() && held + last_length < entry.size &&
                             first.Open(parts[0].c_str(), CFile::modeRead | CFile::typeBinary) &&
                             first.Read(a.data(), kResumeBlock) == kResumeBlock &&
                             ReadResumeBlock(source, b.data(), kResumeBlock) == kResumeBlock &&
                             a == b;
                    if (resume) {
                        existing.Seek(static_cast<int64_t>(last_length - tail), CFile::begin);
                        source.Seek(static_cast<int64_t>(held + last_length - tail), CFile::begin);
                        resume = existing.Read(a.data(), static_cast<unsigned>(tail)) == tail &&
                                 ReadResumeBlock(source, b.data(), static_cast<unsigned>(tail)) ==
                                     tail &&
                                 std::equal(a.begin(), a.begin() + static_cast<ptrdiff_t>(tail),
                                            b.begin());
                    }
                }
                existing.Close();
            }
        }
        if (resume_link_lost_) {
            failure = "the receiver was lost while " + target_path +
                      " was compared with it; the partial copy is kept for the next run";
            return false;
        }
        if (!resume) {
            target_path = first_part;
            held = 0;
        }
        CFile target;
        const unsigned flags = resume ? CFile::modeWrite | CFile::typeBinary
                                      : CFile::modeWrite | CFile::modeCreate | CFile::typeBinary;
        CFileException error;
        if (!target.Open(target_path.c_str(), flags, &error)) {
            LogLine("Failed to create write file", 3);
            failure = "cannot write " + target_path + ": " + error.what();
            source.Close();
            return false;
        }
        if (resume) {
            resumed.Add(entry);
            RemoveByPath(overwritten, entry);
            const uint64_t in_part = target.GetLength();
            target.Seek(static_cast<int64_t>(in_part), CFile::begin);
            source.Seek(static_cast<int64_t>(held + in_part), CFile::begin);
            total_bytes -= held + in_part;
            if (split_this) resume_part_bytes_ = in_part;
        } else {
            source.Seek(0, CFile::begin);
        }
        target_time_ = entry.time;
        const bool ok = CopyFile(source, target);
        source.Close();
        target.Close();
        if (!ok) {
            if (failure.empty() && !stopped) failure = "copy of " + entry.fullPath + " failed";
            return false;
        }
        copied.Add(entry);
    }
    return true;
}

bool CBoxFunctionMgr::MoveEntry(CDirEntry entry, const std::string& target_folder) {
    const std::string new_path = CollapseBackslashes(target_folder + "\\" + entry.name);
    if (new_path == CollapseBackslashes(entry.fullPath)) return true;  // onto itself: nothing to do
    pcfm_remove(ToBox(new_path).c_str());
    pcfm_rename(ToBox(entry.fullPath).c_str(), ToBox(new_path).c_str());
    return true;
}

bool CBoxFunctionMgr::DeleteFiles(CDirList* files) {
    LogScope scope("CBoxFunctionMgr::DeleteFiles", 2);
    char text[1024];
    for (CDirEntry& entry : *files) {
        if (!entry.isFile) continue;
        entry.fullPath = CollapseBackslashes(entry.fullPath);
        if (platform::LowerCase(entry.name) == "tm_shift.000") {
            std::snprintf(text, sizeof text, LoadResString(134).c_str(), entry.name.c_str());
            Messages().ShowWarning(text, LoadResString(117));
            return false;
        }
        if (pcfm_remove(ToBox(entry.fullPath).c_str()) != 0) {
            std::snprintf(text, sizeof text, LoadResString(133).c_str(), entry.name.c_str());
            Messages().ShowWarning(text, LoadResString(117));
            return false;
        }
    }
    for (size_t i = files->GetSize(); i-- > 0;) {
        CDirEntry& entry = (*files)[i];
        if (entry.isFile) continue;
        entry.fullPath = CollapseBackslashes(entry.fullPath);
        if (platform::LowerCase(entry.name) == "jukebox") {
            std::snprintf(text, sizeof text, LoadResString(134).c_str(), entry.name.c_str());
            Messages().ShowWarning(text, LoadResString(117));
            return false;
        }
        if (pcfm_rmdir(ToBox(entry.fullPath).c_str()) != 0) {
            std::snprintf(text, sizeof text, LoadResString(133).c_str(), entry.name.c_str());
            Messages().ShowWarning(text, LoadResString(117));
            return false;
        }
    }
    return true;
}

bool CBoxFunctionMgr::RenameFile(CDirEntry entry, const std::string& new_name) {
    LogScope scope("CBoxFunctionMgr::RenameFile", 2);
    std::string name = new_name;
    MakeBoxFileName(name);
    const std::string new_path = CollapseBackslashes(entry.folderPath + "\\" + name);
    // A folder read in the root has "C:\\NAME" as its full path; the file system wants one.
    const std::string old_path = CollapseBackslashes(entry.fullPath);
    return pcfm_rename(ToBox(old_path).c_str(), ToBox(new_path).c_str()) == 0;
}
