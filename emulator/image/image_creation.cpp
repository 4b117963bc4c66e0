#include "emulator/image/image_creation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "emulator/image/folder_filler.h"
#include "emulator/image/hostile_image.h"
#include "emulator/image/receiver_image.h"
#include "emulator/image/sample_content.h"

namespace image {

namespace {

// Fills the made image as the request asks; false with the reason.
bool Fill(const ImageRequest& request, ImageResult* result) {
    if (request.content == ImageContent::kEmpty) return true;
    if (request.content == ImageContent::kHostile)
        return FillHostileContent(request.path, &result->error);
    if (const int mounted = MountReceiverImage(request.path); mounted != 0) {
        result->error = "cannot mount " + request.path + ": error " + std::to_string(mounted);
        UnmountReceiverImage();
        return false;
    }
    bool ok = false;
    if (request.content == ImageContent::kSample) {
        ok = FillSampleContent({}, &result->error);
    } else {
        const FillResult filled = FillFromFolder(request.from, "C:\\");
        ok = filled.ok;
        result->error = filled.error;
        result->files = filled.files;
        result->folders = filled.folders;
    }
    UnmountReceiverImage();
    return ok;
}

}  // namespace

ImageResult CreateImage(const ImageRequest& request) {
    ImageResult result;
    result.error = ImageSizeProblem(request.bytes, request.cluster_bytes);
    if (!result.error.empty()) return result;
    // The exclusive create is what refuses an existing file: no check-then-create window. The
    // file is opened here first so that a file that cannot be opened is never removed below.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (request.replace ? O_TRUNC : O_EXCL);
    const int fd = open(request.path.c_str(), flags, 0644);
    if (fd < 0) {
        result.existed = errno == EEXIST;
        result.error = result.existed
                           ? request.path + " exists"
                           : "cannot create " + request.path + ": " + std::strerror(errno);
        return result;
    }
    close(fd);
    result.ok =
        MakeReceiverImage(request.path, request.bytes, request.cluster_bytes, &result.error) &&
        Fill(request, &result);
    if (!result.ok) unlink(request.path.c_str());
    return result;
}

}  // namespace image
