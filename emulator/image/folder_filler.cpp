#include "emulator/image/folder_filler.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/text.h"
#include "pvrdisk/pcfm.h"

namespace image {

namespace {

constexpr size_t kChunkBytes = 1 << 20;

std::string Join(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

std::string Failure(const std::string& what, const std::string& path) {
    return what + " " + path + " failed with " + std::to_string(pcfm_errno);
}

bool CopyFile(const std::filesystem::path& source, const std::string& target, FillResult* result) {
    std::ifstream in(source, std::ios::binary);
    if (!in) {
        result->error = "cannot read " + source.string();
        return false;
    }
    pcfm_file* file = pcfm_open(target.c_str(), "wb");
    if (file == nullptr) {
        result->error = Failure("pcfm_open", target);
        return false;
    }
    std::vector<char> chunk(kChunkBytes);
    bool ok = true;
    while (ok && in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const size_t got = static_cast<size_t>(in.gcount());
        if (got == 0) break;
        if (pcfm_write(chunk.data(), 1, got, file) != got) {
            result->error = Failure("pcfm_write", target);
            ok = false;
        }
        result->bytes += got;
    }
    if (pcfm_close(file) != 0 && ok) {
        result->error = Failure("pcfm_close", target);
        ok = false;
    }
    return ok;
}

bool CopyTree(const std::filesystem::path& folder, const std::string& target, FillResult* result) {
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        const std::string name = platform::Utf8ToCp1252(item.path().filename().string());
        const std::string path = Join(target, name);
        if (item.is_directory()) {
            if (pcfm_mkdir(path.c_str()) != 0) {
                result->error = Failure("pcfm_mkdir", path);
                return false;
            }
            ++result->folders;
            if (!CopyTree(item.path(), path, result)) return false;
        } else if (item.is_regular_file()) {
            if (!CopyFile(item.path(), path, result)) return false;
            ++result->files;
        }
    }
    return true;
}

}  // namespace

FillResult FillFromFolder(const std::string& pc_folder, const std::string& receiver_folder) {
    FillResult result;
    std::error_code error;
    if (!std::filesystem::is_directory(pc_folder, error)) {
        result.ok = false;
        result.error = pc_folder + " is not a folder";
        return result;
    }
    result.ok = CopyTree(pc_folder, receiver_folder, &result);
    return result;
}

bool WriteReceiverFile(const std::string& receiver_path, const std::string& data,
                       std::string* error) {
    pcfm_file* file = pcfm_open(receiver_path.c_str(), "wb");
    if (file == nullptr) {
        *error = Failure("pcfm_open", receiver_path);
        return false;
    }
    const bool written = pcfm_write(data.data(), 1, data.size(), file) == data.size();
    if (!written) *error = Failure("pcfm_write", receiver_path);
    const bool closed = pcfm_close(file) == 0;
    if (written && !closed) *error = Failure("pcfm_close", receiver_path);
    return written && closed;
}

}  // namespace image
