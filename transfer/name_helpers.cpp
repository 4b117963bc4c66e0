#include "transfer/name_helpers.h"

#include <cctype>
#include <cstdlib>
#include <string_view>

#include "platform/pc_files.h"
#include "platform/text.h"

namespace {

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

bool MakePcFileName(std::string& name) {
    const std::string before = name;
    // "|" becomes the broken bar, as the PC's code page shows the byte 0xA6.
    static constexpr std::string_view kReplacements[][2] = {
        {"/", "-"}, {"\"", "'"}, {"\\", " "}, {"*", ","},        {"?", ","},
        {":", ";"}, {"<", "("},  {">", ")"},  {"|", "\xC2\xA6"},
    };
    for (const auto& r : kReplacements) ReplaceAll(name, r[0], r[1]);
    return name == before;
}

bool MakeBoxFileName(std::string& name) {
    const std::string before = name;
    const size_t dot = name.rfind('.');
    std::string extension;
    if (dot != std::string::npos) {
        // At most 3 characters after the last dot count as the extension.
        extension = name.substr(dot + 1);
        while (platform::CharacterCount(extension) > 3) {
            size_t cut = extension.size() - 1;
            while (cut > 0 && (static_cast<unsigned char>(extension[cut]) & 0xC0) == 0x80) --cut;
            extension.resize(cut);
        }
    }
    const size_t name_chars = platform::CharacterCount(name);
    const size_t ext_chars = platform::CharacterCount(extension);
    if (name_chars - ext_chars > 32) {
        size_t end = 0;
        for (size_t chars = 0; chars < 32; ++chars) {
            ++end;
            while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
                ++end;
        }
        name = name.substr(0, end) + "." + extension;
    }
    static constexpr std::string_view kReplacements[][2] = {
        {"\"", "'"}, {"\\", " "}, {"*", ","}, {"?", ","},
        {":", ";"},  {"<", "("},  {">", ")"}, {"|", " "},
    };
    for (const auto& r : kReplacements) ReplaceAll(name, r[0], r[1]);
    size_t dots = 0;
    for (char c : name) dots += c == '.';
    for (size_t i = 0; i < name.size() && dots > 1; ++i) {
        if (name[i] == '.') {
            name[i] = ' ';
            --dots;
        }
    }
    return name == before;
}

std::string MakeAsciiName(const std::string& text) {
    // The Windows-1252 letters of the table, as UTF-8, in the order they are applied.
    static constexpr std::string_view kReplacements[][2] = {
        {"ä", "ae"}, {"ö", "oe"}, {"ü", "ue"}, {"Ä", "Ae"}, {"Ö", "Oe"}, {"Ü", "Ue"}, {"ê", "e"},
        {"è", "e"},  {"é", "e"},  {"Ê", "E"},  {"È", "E"},  {"É", "E"},  {"ã", "a"},  {"â", "a"},
        {"à", "a"},  {"á", "a"},  {"Ã", "A"},  {"Â", "A"},  {"À", "A"},  {"Á", "A"},  {"î", "i"},
        {"í", "i"},  {"ì", "i"},  {"Î", "I"},  {"Í", "I"},  {"Ì", "I"},  {"õ", "o"},  {"ô", "o"},
        {"ò", "o"},  {"ó", "o"},  {"Õ", "O"},  {"Ô", "O"},  {"Ó", "O"},  {"Ò", "O"},  {"Ø", "O"},
        {"Å", "A"},  {"æ", "ae"}, {"ø", "o"},  {"Æ", "Ae"}, {"ñ", "n"},  {"ç", "c"},  {"Ç", "C"},
        {"ß", "ss"}, {".", " "},  {"~", " "},  {"`", "'"},  {"´", "'"},
    };
    std::string name = text;
    for (const auto& r : kReplacements) ReplaceAll(name, r[0], r[1]);
    // Every character still outside printable ASCII becomes one blank.
    std::string ascii;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x80) {
            ascii.push_back(byte >= 0x20 ? name[i] : ' ');
            continue;
        }
        ascii.push_back(' ');
        while (i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80) ++i;
    }
    const size_t first = ascii.find_first_not_of(" \t\r\n\v\f");
    if (first == std::string::npos) return "";
    const size_t last = ascii.find_last_not_of(" \t\r\n\v\f");
    return ascii.substr(first, last - first + 1);
}

namespace {
FileSystemNameProvider g_file_system_name_provider = nullptr;
}

void SetFileSystemNameProvider(FileSystemNameProvider provider) {
    g_file_system_name_provider = provider;
}

std::string GetFileSystemName(const std::string& path) {
    if (g_file_system_name_provider != nullptr) return g_file_system_name_provider(path);
    return platform::PcFileSystemName(path);
}

bool MustSplitLargeFiles(const std::string& path) {
    // Only where the file system is known to hold files of 4 GiB and more does a recording
    // stay whole; FAT and anything unknown get parts, so that no copy fails at 4 GiB.
    static constexpr std::string_view kLargeFileSystems[] = {
        "ext4", "btrfs", "xfs", "ntfs", "ntfs3", "exfat",    "tmpfs", "nfs",
        "cifs", "smb2",  "zfs", "f2fs", "jfs",   "reiserfs", "ramfs", "overlay",
    };
    const std::string name = GetFileSystemName(path);
    for (std::string_view large : kLargeFileSystems)
        if (name == large) return false;
    return true;
}

bool MakePcPathComponent(std::string& name) {
    const std::string before = name;
    MakePcFileName(name);
    // Control bytes would reach terminals and file managers; they become "_".
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    // A name of only dots or blanks would be no name, or a step out of the folder.
    if (name.find_first_not_of(". ") == std::string::npos)
        for (char& c : name) c = '_';
    if (name.empty()) name = "_";
    return name == before;
}

std::string PcTargetFolder(const std::string& target_folder, const std::string& relative) {
    std::string folder = target_folder;
    if (folder.empty() || folder.back() != '/') folder += '/';
    size_t start = 0;
    while (start < relative.size()) {
        size_t end = relative.find('\\', start);
        if (end == std::string::npos) end = relative.size();
        std::string part = relative.substr(start, end - start);
        if (!part.empty()) {
            MakePcPathComponent(part);
            folder += part + "/";
        }
        start = end + 1;
    }
    return folder;
}

std::string SplitPartPath(const std::string& first_part, int part) {
    // The number stands between the last "~" of the file name (never of a folder above it)
    // and the extension.
    const size_t slash = first_part.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    size_t cut = first_part.rfind('~');
    if (cut == std::string::npos || cut < name_start) {
        cut = first_part.rfind('.');
        if (cut == std::string::npos || cut < name_start) cut = first_part.size();
    }
    return first_part.substr(0, cut) + "~" + std::to_string(part) + ".TP0";
}

std::string NextPartPath(const std::string& part_path) {
    const size_t slash = part_path.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t tilde = part_path.rfind('~');
    const int part = tilde != std::string::npos && tilde >= name_start
                         ? std::atoi(part_path.c_str() + tilde + 1)
                         : 0;
    return SplitPartPath(part_path, part + 1);
}

std::string CollapseSlashes(std::string path) {
    for (size_t at = path.find("//"); at != std::string::npos; at = path.find("//", at))
        path.erase(at, 1);
    return path;
}

std::string CollapseBackslashes(std::string path) {
    ReplaceAll(path, "\\\\", "\\");
    return path;
}

std::string RelativeFolder(const std::string& entry_folder, size_t source_base_length) {
    std::string relative =
        entry_folder.size() > source_base_length ? entry_folder.substr(source_base_length) : "";
    if (relative == "\\" || relative == "/") relative.clear();
    return relative;
}

std::string JoinTargetFolder(const std::string& target_folder, std::string relative,
                             char separator) {
    for (char& c : relative)
        if (c == '\\' || c == '/') c = separator;
    const std::string one(1, separator);
    std::string folder = target_folder + one + relative + one;
    for (int pass = 0; pass < 2; ++pass) ReplaceAll(folder, one + one, one);
    return folder;
}
