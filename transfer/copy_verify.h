// Reading a copy back: the target, in one file or in the parts of a split copy, is read again
// from where it lives and compared with its source chunk by chunk, in constant memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/file/cfile.h"

struct VerifyOutcome {
    enum Kind {
        kEqual,        // every byte read back equals the source, and both end together
        kDifferent,    // `offset` is the first byte that differs (or where one of them ends)
        kNotVerified,  // the read-back could not be done; `reason` says why
        kStopped,      // the user stopped it
    };
    Kind kind = kEqual;
    uint64_t offset = 0;
    std::string reason;
    // kNotVerified because the receiver's link went away (the streams over it are abandoned).
    bool link_lost = false;
};

// Told the bytes compared so far; false to stop.
using VerifyProgress = std::function<bool(uint64_t compared)>;

// Compares `source`, read from its start, with the files `target_parts` read one after the
// other: receiver paths (opened anew as receiver file streams, so over the link from the disk)
// when `target_on_receiver`, PC paths otherwise. `chunk` bytes at a time.
VerifyOutcome CompareWithTarget(CFile& source, const std::vector<std::string>& target_parts,
                                bool target_on_receiver, uint32_t chunk,
                                const VerifyProgress& progress);
