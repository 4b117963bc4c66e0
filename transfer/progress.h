// Progress of a transfer, from the copy engine to whoever shows it, as a record: the engine
// formats no text; the progress dialog and the command line each make their lines from it.
#pragma once

#include <cstdint>
#include <string>

struct TransferProgress {
    enum Phase {
        kFileStarts,  // once per file, before its first chunk
        kCopying,     // at most every 234 ms while bytes move
        kOverall,     // at most once a second, right after a kCopying step
        kWaiting,     // twice a second while the receiver is away
        kVerifying,   // at most every 234 ms while a copied target is read back
    };
    Phase phase = kFileStarts;
    // The target: its receiver path, or the PC file's name without its folder.
    std::string file;
    // Source and target as people read them (receiver paths in UTF-8), whole.
    std::string source;
    std::string target;
    uint64_t file_position = 0;  // the source's position; kVerifying: the bytes compared
    uint64_t file_length = 0;
    float file_percent = 0;     // this file, 0 to 100
    float overall_percent = 0;  // the whole transfer, 0 to 100
    double speed_mib_s = 0;     // of this file so far
    // Whole seconds; -1 while there is no speed to estimate from.
    int64_t elapsed_s = 0;
    int64_t remaining_s = -1;
    int64_t total_s = -1;
    int wait_attempt = 0;    // kWaiting: the attempt of this round of twenty, from 0
    int wait_tries = 0;      // kWaiting: every attempt of this wait, from 0
    float wait_percent = 0;  // kWaiting: 5 x attempt, then 5 x attempt + 2
};

// Returns true to go on, false when the user asked to stop. The callback may pump the user
// interface's events, and with them device notifications: while it runs, the link flags below
// may change and the windows may be closed (the caller of a transfer keeps them alive).
using ProgressCallback = bool (*)(const TransferProgress& progress, void* context);

// Process-wide link flags: set when the copy engine lost the receiver; cleared once the
// receiver has been initialised again.
extern bool UsbFailure;
extern bool DeviceConnected;
