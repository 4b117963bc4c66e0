#include "cli/sync_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/pc_files.h"

namespace {

constexpr const char* kHeader = "tessel-sync 1";

std::string StatePath(const std::string& target_folder) {
    return target_folder + "/" + kSyncStateName;
}

// Bytes that would break the line format (controls, the escape itself, with `blanks` the
// blank that ends a field) as %XX.
std::string Escaped(const std::string& path, bool blanks) {
    std::string out;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '%' || (blanks && c == ' ')) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", byte);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescaped(const std::string& text, std::string* path) {
    path->clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            *path += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]), low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        *path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

// The line of a record that names its source folder begins with this; a line without it
// is one written before sync noted the source.
constexpr const char* kSourced = "s ";

std::string RecordLine(const std::string& relative, const SyncRecord& record) {
    const std::string fields = std::to_string(record.size) + " " + std::to_string(record.modified);
    if (record.source.empty()) return fields + " " + Escaped(relative, false) + "\n";
    return kSourced + fields + " " + Escaped(record.source, true) + " " + Escaped(relative, false) +
           "\n";
}

// "SIZE MODIFIED PATH" or "s SIZE MODIFIED SOURCE PATH"; false for anything else.
bool ParseLine(std::string line, std::string* path, SyncRecord* record) {
    record->source.clear();
    const bool sourced = line.rfind(kSourced, 0) == 0;
    if (sourced) line.erase(0, std::strlen(kSourced));
    const size_t first = line.find(' ');
    const size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos) return false;
    size_t path_start = second + 1;
    if (sourced) {
        const size_t third = line.find(' ', path_start);
        if (third == std::string::npos ||
            !Unescaped(line.substr(path_start, third - path_start), &record->source) ||
            record->source.empty())
            return false;
        path_start = third + 1;
    }
    const std::string size = line.substr(0, first);
    const std::string modified = line.substr(first + 1, second - first - 1);
    if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos ||
        modified.empty() || modified.find_first_not_of("-0123456789") != std::string::npos)
        return false;
    errno = 0;
    char* end = nullptr;
    record->size = std::strtoull(size.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    record->modified = std::strtoll(modified.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    return Unescaped(line.substr(path_start), path) && IsSafeRelativePath(*path);
}

bool WriteAll(int descriptor, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(descriptor, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool IsSafeRelativePath(const std::string& relative) {
    if (relative.empty() || relative[0] == '/' || relative.find('\0') != std::string::npos)
        return false;
    std::string step;
    size_t count = 0;
    for (size_t start = 0; start <= relative.size(); ++count) {
        const size_t cut = std::min(relative.find('/', start), relative.size());
        step = relative.substr(start, cut - start);
        if (step.empty() || step == "." || step == "..") return false;
        start = cut + 1;
    }
    return !(count == 1 && step.rfind(kSyncStateName, 0) == 0);
}

bool LoadSyncState(const std::string& target_folder, SyncRecords* records, std::string* error) {
    records->clear();
    const std::string path = StatePath(target_folder);
    // The record is read only from a regular file of its own name, never through a link; the
    // open does not wait for a pipe's writer, which is then refused as no regular file.
    const int descriptor = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT) return true;
        *error = "cannot read " + path + ": " + platform::ErrorText(errno);
        return false;
    }
    struct stat info {};
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(descriptor);
        *error = path + " is not a regular file";
        return false;
    }
    std::string bytes;
    char block[65536];
    for (;;) {
        const ssize_t n = read(descriptor, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = "cannot read " + path + ": " + platform::ErrorText(errno);
            close(descriptor);
            return false;
        }
        if (n == 0) break;
        bytes.append(block, static_cast<size_t>(n));
    }
    close(descriptor);
    // The header line reads as no record; a damaged one costs no record after it.
    std::istringstream lines(bytes);
    std::string line;
    while (std::getline(lines, line)) {
        // A torn last line has no line end and is not taken.
        if (lines.eof()) break;
        std::string relative;
        SyncRecord record;
        if (ParseLine(line, &relative, &record)) (*records)[relative] = record;
    }
    return true;
}

bool SaveSyncState(const std::string& target_folder, const SyncRecords& records,
                   std::string* error) {
    std::string bytes = std::string(kHeader) + "\n";
    for (const auto& [relative, record] : records) bytes += RecordLine(relative, record);
    const std::string path = StatePath(target_folder);
    std::string temporary = path + ".XXXXXX";
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        *error = "cannot write the record in " + target_folder + ": " + platform::ErrorText(errno);
        return false;
    }
    const bool written = WriteAll(descriptor, bytes) && fsync(descriptor) == 0;
    const int write_error = errno;
    close(descriptor);
    if (!written || rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + platform::ErrorText(written ? errno : write_error);
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself lasts once the folder is on the disk.
    const int folder = open(target_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}
