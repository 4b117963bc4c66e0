#include "transfer/win_function_mgr.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "app/log.h"
#include "app/settings.h"
#include "panes/entry_text.h"
#include "platform/tick_count.h"
#include "pvrdisk/fs/raw_file.h"
#include "pvrdisk/pcfm.h"
#include "transfer/name_helpers.h"
#include "transfer/receiver_errors.h"
#include "transfer/receiver_names.h"

namespace {

std::vector<std::string> FolderNames(const std::string& path, bool* ok) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    *ok = dir != nullptr;
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) names.push_back(entry->d_name);
    closedir(dir);
    return names;
}

// The receiver's time and date words of a time (local calendar fields).
void DosTime(int64_t time, uint16_t* time_word, uint16_t* date_word) {
    const std::time_t when = static_cast<std::time_t>(time);
    std::tm local{};
    localtime_r(&when, &local);
    const int year = std::clamp(local.tm_year + 1900 - 1980, 0, 127);
    *time_word = static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
    *date_word = static_cast<uint16_t>(year << 9 | (local.tm_mon + 1) << 5 | local.tm_mday);
}

// Each folder name of a relative PC path, made fit for the receiver as folders are made there.
std::string AsciiRelative(const std::string& relative) {
    std::string out;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = relative.find('/', start);
        const std::string part =
            relative.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty()) {
            std::string name = part;
            MakeBoxFileName(name);
            out += "\\" + MakeAsciiName(name);
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return out;
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

bool MakePcRecord(const std::string& folder, const std::string& name, CDirEntry* record) {
    const std::string base = folder == "/" ? "" : folder;
    record->fullPath = base + "/" + name;
    struct stat st {};
    if (stat(record->fullPath.c_str(), &st) != 0) return false;  // a dangling link, say
    record->name = name;
    record->folderPath = record->fullPath.substr(0, record->fullPath.size() - name.size());
    SplitPcName(name, &record->title, &record->extension);
    record->isFile = S_ISDIR(st.st_mode) ? 0 : 1;
    record->size = record->isFile ? static_cast<uint64_t>(st.st_size) : 0;
    record->time = st.st_mtim.tv_sec;
    return true;
}

bool CWinFunctionMgr::ReadDir(const std::string& path) {
    LogScope scope("CWinFunctionMgr::ReadDir", 2);
    if (path.empty()) return false;
    listing.RemoveAll();
    bool ok = false;
    const std::vector<std::string> names = FolderNames(path, &ok);
    if (!ok) {
        LogLine(std::strerror(errno), 3);
        return false;
    }
    for (const std::string& name : names) {
        CDirEntry record;
        if (name == "." || !MakePcRecord(path, name, &record) || record.isFile) continue;
        listing.Add(record);
    }
    for (const std::string& name : names) {
        CDirEntry record;
        if (name == "." || name == ".." || !MakePcRecord(path, name, &record) || !record.isFile)
            continue;
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

bool CWinFunctionMgr::CheckDestFiles(CDirList* files, CDirList* existing_sources,
                                     CDirList* existing_targets, const std::string& source_base,
                                     const std::string& target_folder) {
    LogScope scope("CWinFunctionMgr::CheckDestFiles", 2);
    for (const CDirEntry& entry : *files) {
        if (!entry.isFile) continue;
        const std::string folder = BoxTargetFolder(entry, source_base, target_folder);
        std::string name = entry.name;
        MakeBoxFileName(name);
        CRawFile target;
        if (!target.Open(ToBox(folder + name).c_str(), CFile::modeRead | CFile::typeBinary))
            continue;
        CDirEntry existing;
        existing.fullPath = folder + name;
        existing.folderPath = target_folder;
        existing.name = name;
        existing.size = target.GetLength();
        existing.isFile = 1;
        target.Close();
        // The time comes from the folder's entry of that name.
        pcfm_file* directory = pcfm_open(ToBox(folder).c_str(), "d");
        for (uint16_t i = 0; directory != nullptr && i < 512; ++i) {
            pcfm_dirent e{};
            e.index = i;
            if (pcfm_readdir(directory, &e) != 0) break;
            if (FromBox(e.name) + "." + FromBox(e.extension) == name) {
                existing.time = LocalTimeOf(e.year, e.month == 0 ? 1 : e.month,
                                            e.day == 0 ? 1 : e.day, e.hour, e.minute, e.second);
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
    CFunctionMgr::CopyFiles(files, source_base, target_folder);
    StartTransfer(*files);
    for (const CDirEntry& entry : *files) {
        const std::string folder = BoxTargetFolder(entry, source_base, target_folder);
        if (!entry.isFile) {
            std::string name = entry.name;
            MakeBoxFileName(name);
            pcfm_mkdir(ToBox(CollapseBackslashes(folder + MakeAsciiName(name))).c_str());
            continue;
        }
        std::string name = entry.name;
        MakeBoxFileName(name);
        const std::string target_path = folder + name;
        CFile source;
        CFileException error;
        if (!source.Open(entry.fullPath.c_str(), CFile::modeRead | CFile::typeBinary, &error)) {
            LogLine("Failed to open read file", 3);
            failure = "cannot read " + entry.fullPath + ": " + error.what();
            return false;
        }
        bool resume = false;
        resume_link_lost_ = false;
        {
            CRawFile existing;
            if (existing.Open(ToBox(target_path).c_str(), CFile::modeRead | CFile::typeBinary)) {
                resume = CheckResume(source, existing);
                existing.Close();
            }
        }
        if (resume_link_lost_) {
            failure = "the receiver was lost while " + target_path +
                      " was compared with the source; the partial copy is kept for the next run";
            return false;
        }
        CRawFile target;
        const unsigned flags = resume ? CFile::modeWrite | CFile::typeBinary
                                      : CFile::modeWrite | CFile::modeCreate | CFile::typeBinary;
        if (!target.Open(ToBox(target_path).c_str(), flags)) {
            LogLine("Failed to create write file", 3);
            failure = "cannot write " + target_path +
                      " on the receiver: " + ReceiverErrorText(pcfm_errno);
            source.Close();
            return false;
        }
        if (resume) {
            resumed.Add(entry);
            RemoveByPath(overwritten, entry);
            // The last two chunks are written again, in case the last one was cut short.
            const uint64_t length = target.GetLength();
            const uint64_t back = 2ull * static_cast<uint64_t>(std::max(settings::BufferSize(), 0));
            const uint64_t offset = length > back ? length - back : 0;
            target.Seek(static_cast<int64_t>(offset), CFile::begin);
            source.Seek(static_cast<int64_t>(offset), CFile::begin);
            total_bytes -= offset;
        } else {
            source.Seek(0, CFile::begin);
        }
        uint16_t time_word = 0, date_word = 0;
        DosTime(entry.time, &time_word, &date_word);
        pcfm_set_time(target.Handle(), time_word, date_word);
        const bool ok = CopyFile(source, target);
        // A reconnection reopens the target; the stamp goes on the handle that closes last.
        if (target.Handle() != nullptr) pcfm_set_time(target.Handle(), time_word, date_word);
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

bool CWinFunctionMgr::MoveEntry(CDirEntry entry, const std::string& target_folder) {
    const std::string new_path = CollapseSlashes(target_folder + "/" + entry.name);
    if (new_path == entry.fullPath) return true;  // onto itself: deleting first would lose it
    std::remove(new_path.c_str());
    return std::rename(entry.fullPath.c_str(), new_path.c_str()) == 0;
}

bool CWinFunctionMgr::DeleteFiles(CDirList*) {
    return true;
}

bool CWinFunctionMgr::RenameFile(CDirEntry entry, const std::string& new_name) {
    LogScope scope("CWinFunctionMgr::RenameFile", 2);
    const std::string new_path = CollapseSlashes(entry.folderPath + "/" + new_name);
    return std::rename(entry.fullPath.c_str(), new_path.c_str()) == 0;
}
