// What one read or write of a chunk came to, as a single value: the bytes moved, or why it
// stopped. A copy reads this one thing instead of a result, a last error and an exception.
#pragma once

#include <cstdint>
#include <string>

struct ChunkOutcome {
    enum Kind {
        kDone,      // `bytes` moved; a read of 0 bytes is the end of the file
        kLinkLost,  // the receiver's link failed: worth waiting for it and going on
        kDiskFull,  // the target's volume (or the file's size limit) is full
        kFailed,    // any other failure, said in `reason`
    };
    Kind kind = kDone;
    uint32_t bytes = 0;
    int code = 0;        // the file system's or operating system's error number
    std::string reason;  // for the user, when the kind is not kDone

    static ChunkOutcome Done(uint32_t bytes) { return {kDone, bytes, 0, {}}; }
    bool ok() const { return kind == kDone; }
};
