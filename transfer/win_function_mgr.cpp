#include "transfer/win_function_mgr.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "app/log.h"
#include "app/settings.h"
#include "panes/entry_text.h"
#include "platform/pc_files.h"
#include "platform/text.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "transfer/dos_time.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"

namespace {

// A receiver name for a PC name: MakeBoxFileName, and "_" for one that cleans down to blanks
// and dots, which would be no name.
std::string BoxName(const std::string& pc_name) {
    std::string name = pc_name;
    MakeBoxFileName(name);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    if (stem.find_first_not_of(". ") == std::string::npos)
        name = "_" + (dot == std::string::npos ? std::string() : name.substr(dot));
    return name;
}

// A folder name as folders are made on the receiver: plain ASCII, "_" when nothing is left.
std::string BoxFolderName(const std::string& pc_name) {
    const std::string name = MakeAsciiName(BoxName(pc_name));
    return name.empty() ? "_" : name;
}

// Each folder name of a relative PC path, made fit for the receiver as folders are made there.
std::string AsciiRelative(const std::string& relative) {
    std::string out;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const std::string part =
            relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty()) out += "\\" + BoxFolderName(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return out;
}

// The receiver's name of a directory entry as a path step: with its extension when it has one.
bool EntryNamed(const pcfm_dirent& e, const std::string& name) {
    const std::string stem = FromBox(e.name);
    const std::string extension = FromBox(e.extension);
    return name == (extension.empty() ? stem : stem + "." + extension) ||
           name == stem + "." + extension;
}

std::string FolderOf(const std::string& receiver_path) {
    const size_t cut = receiver_path.rfind('\\');
    return cut == std::string::npos ? receiver_path : receiver_path.substr(0, cut + 1);
}

std::string NameOf(const std::string& receiver_path) {
    const size_t cut = receiver_path.rfind('\\');
    return cut == std::string::npos ? receiver_path : receiver_path.substr(cut + 1);
}

// Copies a PC file into `target` (which must not exist) and makes it durable; for moves
// between volumes, where a rename cannot go.
bool CopyPcFile(const std::string& source, const std::string& target, std::string* error) {
    try {
        CFile in(source.c_str(), CFile::modeRead | CFile::typeBinary);
        CFile out;
        CFileException open_error;
        if (!out.Open(target.c_str(), CFile::modeWrite | CFile::modeCreate | CFile::typeBinary,
                      &open_error))
            throw open_error;
        std::vector<uint8_t> buffer(1 << 20);
        for (unsigned n; (n = in.Read(buffer.data(), static_cast<unsigned>(buffer.size()))) > 0;)
            out.Write(buffer.data(), n);
        platform::PcFileInfo info;
        if (platform::InspectPcTarget(source, &info))
            platform::SetOpenFileTime(out.m_hFile, info.modified);
        out.Flush();
        out.Close();
        return true;
    } catch (const CFileException& failure) {
        *error = failure.what();
        platform::RemovePcFile(target, nullptr);
        return false;
    }
}

}  // namespace

std::string ReadPcEpgTitle(const std::string& path) {
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::typeBinary)) return "";
    std::string bytes(128, '\0');
    unsigned n = 0;
    try {
        if (file.GetLength() > kEpgTitleOffset) {
            file.Seek(static_cast<int64_t>(kEpgTitleOffset), CFile::begin);
            n = file.Read(bytes.data(), kEpgTitleBytes);
        }
    } catch (const CFileException&) {
        n = 0;
    }
    bytes.resize(n);
    return DecodeEpgTitle(bytes);
}

bool MakePcRecord(const std::string& folder, const std::string& name, CDirEntry* record,
                  std::string* skipped) {
    const std::string base = folder == "/" ? "" : folder;
    record->fullPath = base + "/" + name;
    platform::PcFileInfo info;
    std::string error;
    if (!platform::InspectPcPath(record->fullPath, &info, &error)) {
        if (skipped != nullptr) *skipped = error;
        return false;
    }
    // Links are not followed; FIFOs, sockets and devices are never opened.
    if (info.kind == platform::PcKind::kSymbolicLink) {
        if (skipped != nullptr) *skipped = "a symbolic link, not copied";
        return false;
    }
    if (info.kind == platform::PcKind::kOther) {
        if (skipped != nullptr)
            *skipped = "not a regular file (FIFO, socket or device), not copied";
        return false;
    }
    *record = CDirEntry{};
    record->fullPath = base + "/" + name;
    record->name = name;
    record->folderPath = record->fullPath.substr(0, record->fullPath.size() - name.size());
    SplitPcName(name, &record->title, &record->extension);
    record->isFile = info.kind == platform::PcKind::kDirectory ? 0 : 1;
    record->size = record->isFile ? info.size : 0;
    record->time = info.modified;
    return true;
}

bool CWinFunctionMgr::ReadDir(const std::string& path) {
    LogScope scope("CWinFunctionMgr::ReadDir", 2);
    if (path.empty()) return false;
    listing.RemoveAll();
    std::vector<std::string> names;
    std::string error;
    if (!platform::ListPcFolder(path, &names, &error)) {
        LogLine(error, 3);
        return false;
    }
    CDirEntry parent;
    if (path != "/" && MakePcRecord(path, "..", &parent)) listing.Add(parent);
    for (const std::string& name : names) {
        CDirEntry record;
        if (!MakePcRecord(path, name, &record) || record.isFile) continue;
        listing.Add(record);
    }
    for (const std::string& name : names) {
        CDirEntry record;
        if (!MakePcRecord(path, name, &record) || !record.isFile) continue;
        if (name.find("TP0", 1) != std::string::npos || name.find("tp0", 1) != std::string::npos)
            record.epgTitle = ReadPcEpgTitle(record.fullPath);
        listing.Add(record);
    }
    return true;
}

std::string CWinFunctionMgr::BoxTargetFolder(const CDirEntry& entry, const std::string& source_base,
                                             const std::string& target_folder) {
    return JoinTargetFolder(
        target_folder, AsciiRelative(RelativeFolder(entry.folderPath, source_base.size())), '\\');
}

std::string CWinFunctionMgr::NaturalTargetPath(const CDirEntry& entry,
                                               const std::string& source_base,
                                               const std::string& target_folder,
                                               bool* split) const {
    *split = false;
    return BoxTargetFolder(entry, source_base, target_folder) + BoxName(entry.name);
}

std::string CWinFunctionMgr::StoredName(const std::string& path) const {
    // What the receiver holds: characters outside its code page are stored as "_".
    return FromBox(ToBox(NameOf(path)));
}

std::string CWinFunctionMgr::UniqueTargetPath(const std::string& path, int n) const {
    const std::string folder = FolderOf(path);
    const std::string name = NameOf(path);
    const size_t dot = name.rfind('.');
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    const std::string mark = " (" + std::to_string(n) + ")";
    // The receiver keeps 32 characters before the extension.
    while (!stem.empty() && platform::CharacterCount(stem) + mark.size() > 32) {
        size_t cut = stem.size() - 1;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem.resize(cut);
    }
    return folder + stem + mark + extension;
}

std::string CWinFunctionMgr::TargetKey(const std::string& path) const {
    return ToBox(CollapseBackslashes(path));
}

std::string CWinFunctionMgr::BoxFolderTarget(const CDirEntry& folder,
                                             const std::string& source_base,
                                             const std::string& target_folder) {
    return CollapseBackslashes(BoxTargetFolder(folder, source_base, target_folder) +
                               BoxFolderName(folder.name));
}

void CWinFunctionMgr::MakeTargetFolder(const CDirEntry& folder, const std::string& source_base,
                                       const std::string& target_folder) {
    const std::string path = BoxFolderTarget(folder, source_base, target_folder);
    // A failure shows at the first file inside, which cannot be created.
    if (pcfm_mkdir(ToBox(path).c_str()) != 0 && pcfm_errno != EEXISTS)
        LogLine("Cannot make " + path + ": " + ReceiverErrorText(pcfm_errno), 1);
}

std::unique_ptr<CFile> CWinFunctionMgr::OpenSource(const CDirEntry& entry) {
    if (!PcPathAllowed(entry.fullPath)) return nullptr;
    auto source = std::make_unique<CFile>();
    CFileException error;
    if (source->Open(entry.fullPath.c_str(), CFile::modeRead | CFile::typeBinary, &error))
        return source;
    failure = "cannot read " + std::string(error.what());
    return nullptr;
}

CFunctionMgr::ResumePlan CWinFunctionMgr::DecideResume(CFile& source, const CDirEntry& entry) {
    ResumePlan plan;
    plan.target_path = entry.targetPath;
    CRawFile existing;
    if (existing.Open(ToBox(entry.targetPath).c_str(), CFile::modeRead | CFile::typeBinary)) {
        plan.exists = true;
        plan.resume = CheckResume(source, existing);
        existing.Close();
    }
    return plan;
}

std::unique_ptr<CFile> CWinFunctionMgr::OpenTarget(const std::string& path, bool resume) {
    auto target = std::make_unique<CRawFile>();
    const unsigned flags = resume ? CFile::modeWrite | CFile::typeBinary
                                  : CFile::modeWrite | CFile::modeCreate | CFile::typeBinary;
    if (target->Open(ToBox(path).c_str(), flags)) return target;
    failure = "cannot write " + path + " on the receiver: " + ReceiverErrorText(pcfm_errno);
    return nullptr;
}

void CWinFunctionMgr::PositionStreams(CFile& source, CFile& target, const CDirEntry&,
                                      const ResumePlan& plan) {
    if (!plan.resume) {
        source.Seek(0, CFile::begin);
        return;
    }
    // The last two chunks are written again, in case the last one was cut short.
    const uint64_t length = target.GetLength();
    const uint64_t back = 2ull * static_cast<uint64_t>(std::max(settings::BufferSize(), 0));
    const uint64_t offset = length > back ? length - back : 0;
    target.Seek(static_cast<int64_t>(offset), CFile::begin);
    source.Seek(static_cast<int64_t>(offset), CFile::begin);
    total_bytes -= std::min(total_bytes, offset);
}

void CWinFunctionMgr::StampTarget(CFile& target, const CDirEntry& entry) {
    // The words reach the disk with the entry when the target is written back or closed.
    auto& receiver_file = static_cast<CRawFile&>(target);
    if (receiver_file.Handle() == nullptr) return;
    uint16_t time_word = 0, date_word = 0;
    PackDosTime(entry.time, &time_word, &date_word);
    pcfm_set_time(receiver_file.Handle(), time_word, date_word);
}

bool CWinFunctionMgr::CheckDestFiles(CDirList* files, CDirList* existing_sources,
                                     CDirList* existing_targets, const std::string& source_base,
                                     const std::string& target_folder) {
    LogScope scope("CWinFunctionMgr::CheckDestFiles", 2);
    PlanTargets(files, source_base, target_folder);
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile) continue;
        CRawFile target;
        if (!target.Open(ToBox(entry.targetPath).c_str(), CFile::modeRead | CFile::typeBinary)) {
            // With the link gone nothing can be said of the target: it counts as existing, so
            // that nothing is written over unasked once the receiver is back.
            if (OpenLostTheLink()) {
                CDirEntry unknown;
                unknown.fullPath = entry.targetPath;
                unknown.folderPath = target_folder;
                unknown.name = NameOf(entry.targetPath);
                unknown.isFile = 1;
                existing_targets->Add(unknown);
                existing_sources->Add(entry);
            }
            continue;
        }
        CDirEntry existing;
        existing.fullPath = entry.targetPath;
        existing.folderPath = target_folder;
        existing.name = NameOf(entry.targetPath);
        existing.size = target.GetLength();
        existing.isFile = 1;
        target.Close();
        // The time comes from the folder's entry of that name.
        pcfm_file* directory = pcfm_open(ToBox(FolderOf(entry.targetPath)).c_str(), "d");
        for (uint16_t i = 0; directory != nullptr && i < 512; ++i) {
            pcfm_dirent e{};
            e.index = i;
            if (pcfm_readdir(directory, &e) != 0) break;
            if (EntryNamed(e, existing.name)) {
                existing.time = EntryTimeOf(e);
                break;
            }
        }
        if (directory != nullptr) pcfm_close(directory);
        existing_targets->Add(existing);
        existing_sources->Add(entry);
    }
    return !existing_targets->IsEmpty();
}

bool CWinFunctionMgr::CopyFiles(CDirList* files, const std::string& source_base,
                                const std::string& target_folder) {
    LogScope scope("CWinFunctionMgr::CopyFiles", 2);
    return CFunctionMgr::CopyFiles(files, source_base, target_folder);
}

std::string CWinFunctionMgr::MoveTargetPath(const CDirEntry& entry,
                                            const std::string& target_folder) const {
    return CollapseSlashes(target_folder + "/" + entry.name);
}

bool CWinFunctionMgr::OtherEntryAt(const std::string& path, const CDirEntry& entry,
                                   CDirEntry* existing) const {
    platform::PcFileInfo there, self;
    if (!platform::InspectPcPath(path, &there)) return false;
    if (platform::InspectPcPath(entry.fullPath, &self) && platform::SameFile(there, self))
        return false;
    *existing = CDirEntry{};
    existing->fullPath = path;
    existing->name = entry.name;
    existing->size = there.size;
    existing->time = there.modified;
    existing->isFile = there.kind == platform::PcKind::kDirectory ? 0 : 1;
    return true;
}

bool CWinFunctionMgr::MoveEntry(CDirEntry entry, const std::string& target_folder) {
    failure.clear();
    const std::string new_path = MoveTargetPath(entry, target_folder);
    platform::PcFileInfo self, there;
    std::string error;
    if (!platform::InspectPcPath(entry.fullPath, &self, &error)) {
        failure = entry.fullPath + ": " + error;
        return false;
    }
    const bool exists = platform::InspectPcPath(new_path, &there);
    // One file, however the two paths are spelt: nothing to move, and nothing to delete.
    if (exists && platform::SameFile(self, there)) return true;
    if (exists &&
        (there.kind == platform::PcKind::kDirectory || !RemoveByPath(overwritten, entry))) {
        failure = new_path +
                  (there.kind == platform::PcKind::kDirectory ? " is a folder" : " exists already");
        return false;
    }
    if (exists) overwritten.Add(entry);
    bool cross_device = false;
    // A confirmed replacement is one rename, so that the old file goes only once the new one
    // is in its place.
    const bool moved =
        exists ? platform::RenamePcReplace(entry.fullPath, new_path, &error, &cross_device)
               : platform::RenamePcNoReplace(entry.fullPath, new_path, &error, &cross_device);
    if (moved) return true;
    if (!cross_device) {
        failure = "cannot move " + entry.fullPath + " to " + new_path + ": " + error;
        return false;
    }
    // Between volumes: a copy next to the target, put in place, and only then the source
    // deleted.
    const std::string temporary = new_path + ".tessel-move";
    if (!CopyPcFile(entry.fullPath, temporary, &error) ||
        !(exists ? platform::RenamePcReplace(temporary, new_path, &error, nullptr)
                 : platform::RenamePcNoReplace(temporary, new_path, &error, nullptr))) {
        platform::RemovePcFile(temporary, nullptr);
        failure = "cannot move " + entry.fullPath + " to " + new_path + ": " + error;
        return false;
    }
    if (!platform::RemovePcFile(entry.fullPath, &error)) {
        failure = "copied " + entry.fullPath + " to " + new_path +
                  " but cannot delete the original: " + error;
        return false;
    }
    return true;
}

bool CWinFunctionMgr::DeleteFiles(CDirList*) {
    return true;
}

bool CWinFunctionMgr::RenameFile(CDirEntry entry, const std::string& new_name) {
    LogScope scope("CWinFunctionMgr::RenameFile", 2);
    failure.clear();
    if (new_name.find('/') != std::string::npos || new_name.empty() || new_name == "." ||
        new_name == "..") {
        failure = "the name '" + new_name + "' is not allowed (a name cannot hold /)";
        return false;
    }
    const std::string new_path = CollapseSlashes(entry.folderPath + "/" + new_name);
    std::string error;
    bool cross_device = false;
    // An existing file of the new name is never replaced by a rename.
    if (platform::RenamePcNoReplace(entry.fullPath, new_path, &error, &cross_device)) return true;
    failure = "cannot rename " + entry.fullPath + " to " + new_name + ": " + error;
    return false;
}
