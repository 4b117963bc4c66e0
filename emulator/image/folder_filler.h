// Copies a PC folder tree onto the mounted receiver disk with the library's own calls.
#pragma once

#include <cstdint>
#include <string>

namespace image {

struct FillResult {
    bool ok = true;
    uint64_t files = 0;
    uint64_t folders = 0;
    uint64_t bytes = 0;
    std::string error;  // the first failure
};

// Copies everything below `pc_folder` into the receiver folder `receiver_folder` (such as
// "C:\" or "C:\Import", which must exist). PC names are UTF-8 and are stored as
// Windows-1252; folders are made with pcfm_mkdir, files written with pcfm_write.
FillResult FillFromFolder(const std::string& pc_folder, const std::string& receiver_folder);

// Writes `size` bytes from `data` into a new receiver file (replacing one of that name).
bool WriteReceiverFile(const std::string& receiver_path, const std::string& data,
                       std::string* error);

}  // namespace image
