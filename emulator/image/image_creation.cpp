#include "emulator/image/image_creation.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
    // The exclusive create is what refuses an existing file: no check-then-create window. A
    // replacement is made beside the old file and renamed over it only once it is complete,
    // so that a failed fill leaves the old file as it was.
    const std::string made = request.replace ? request.path + ".new" : request.path;
    const int fd = open(made.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_EXCL, 0644);
    if (fd < 0) {
        result.existed = errno == EEXIST && !request.replace;
        result.error = result.existed ? request.path + " exists"
                                      : "cannot create " + made + ": " + std::strerror(errno);
        return result;
    }
    close(fd);
    ImageRequest filling = request;
    filling.path = made;
    result.ok = MakeReceiverImage(made, request.bytes, request.cluster_bytes, &result.error) &&
                Fill(filling, &result);
    if (result.ok && made != request.path && rename(made.c_str(), request.path.c_str()) != 0) {
        result.ok = false;
        result.error = "cannot replace " + request.path + ": " + std::strerror(errno);
    }
    if (!result.ok) unlink(made.c_str());
    return result;
}

}  // namespace image
