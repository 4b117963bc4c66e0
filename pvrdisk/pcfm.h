// The receiver's file system: a small stdio-like library over the block-device table.
//
// Call order: pcfm_set_block_driver, OV_FILE_init (mounts device "C"), any handles, and
// pcfm_release only when no handle is open. Paths are "C:\" followed by components separated
// by "\" or "/", at most 511 bytes; names are case-sensitive bytes in the PC's code page and
// pass through the receiver's byte conversion on the way in and out.
//
// Failures are reported through the numbered codes below: as a call's result, in the
// handle's error field (pcfm_error) or in pcfm_errno, as each call says. Nothing here is
// thread-safe: the library is entered from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pvrdisk/transport/block_device.h"

enum pcfm_error_code {
    EDEVICE = 1,        // the device is not mounted, or a block transfer failed
    EOUTOFMEM = 3,      // memory exhausted, or the mount buffers are missing
    ETOOMANYOPEN = 4,   // all 10 handle slots are in use
    ENOTFOUND = 5,      // the last path component was not found, or a directory is unreadable
    ENOPATH = 7,        // an intermediate component was not found; unknown device; null path
    ENOENTRY = 8,       // a read at or beyond the end of the file; or the directory holds no
                        // entry of the requested number
    EBADNAME = 11,      // a path component is malformed, or names nothing that may be made
    ENOTADIR = 12,      // a path component that must be a directory is not
    EWRONGKIND = 13,    // directory opened as file, file as directory, handle against its mode
    EREADONLY = 14,     // a read-only file opened for writing
    EDISKFULL = 15,     // no free cluster above the search start
    EBADHANDLE = 17,    // the handle is null, closed, or not the one in its slot
    EBADCONTROL = 18,   // unknown control code
    EBADARG = 19,       // bad mode letter, seek origin, directory index or item count
    ESEEKRANGE = 20,    // seek beyond the end of the file, or relative seek beyond 32 bits
    EEXISTS = 21,       // the target of a create, mkdir or rename exists
    ECROSSDEVICE = 26,  // rename between two devices
    EDIRNOTEMPTY = 27,  // rmdir of a directory that still has entries
    EBADBPB = 40,       // the boot sector's parameters are invalid or unsupported
    EDIRFULL = 44,      // no free entry among the 512 of a directory
    ETOOLARGE = 50,     // a write would take the file to 32 GiB (2^35 bytes) or beyond
    ESHORTIO = 61,      // a sector transfer moved no data before the requested length
    EBADCHAIN = 62,     // a chain loops, runs into a free cluster, leaves the table, or ends
                        // before the file's size: the file's data cannot be trusted there
};

// The last error of the layer, as stdio's errno.
extern int pcfm_errno;

// An open file or directory; only the library looks inside.
struct pcfm_file;

// Attribute bits of a directory entry.
inline constexpr uint8_t kAttrReadOnly = 0x01;
inline constexpr uint8_t kAttrVolumeLabel = 0x08;
inline constexpr uint8_t kAttrDirectory = 0x10;
inline constexpr uint8_t kAttrArchive = 0x20;

// One entry as pcfm_readdir delivers it; the caller sets `index` (0 to 511).
struct pcfm_dirent {
    uint16_t index;
    uint8_t reserved[2];
    uint32_t size_low;
    uint32_t size_high;
    uint16_t year;  // 1980 + the date's year field
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t attributes;
    char name[33];      // converted to PC bytes, NUL-terminated
    char extension[4];  // up to 3 bytes as stored, NUL-terminated
};
static_assert(sizeof(pcfm_dirent) == 60 && offsetof(pcfm_dirent, name) == 20 &&
              offsetof(pcfm_dirent, extension) == 53);

// The block-device table both device entries use; set before OV_FILE_init. Until one is set,
// mounting fails with EDEVICE.
void pcfm_set_block_driver(const pcfm_blkdrv* driver);

// Mounts device "C": allocates the buffers on first use, reads and checks the boot sector,
// loads the allocation table and the root directory. 0 or an error code.
int OV_FILE_init();
// Frees the buffers and unmounts; handles still open are discarded without write-back.
void pcfm_release();

// Opens a file or directory. Mode letters: r read, w write+truncate+create, a append+create,
// + read and write, b and t accepted, d directory (read only), ~ never create.
// The handle, or null with pcfm_errno set.
pcfm_file* pcfm_open(const char* path, const char* mode);
// Writes back the allocation table range and the entry of a handle open for writing.
// 0, or -1 with pcfm_errno set.
int pcfm_close(pcfm_file* file);
// Writes back as a close does but keeps the handle open: once it succeeded, what was written
// through the handle is on the disk even if the link drops before the close.
// 0, or -1 with pcfm_errno set (EWRONGKIND for a handle not open for writing).
int pcfm_flush(pcfm_file* file);
// Items moved (bytes moved / item size); failures in pcfm_errno and the handle's error.
size_t pcfm_read(void* destination, size_t item_size, size_t item_count, pcfm_file* file);
size_t pcfm_write(const void* source, size_t item_size, size_t item_count, pcfm_file* file);
// Origin 0 from the start, 1 from the position (signed 32-bit displacement in the low half of
// *offset, high half 0), 2 to the end (offset unused). 0 or the error code.
int pcfm_seek(pcfm_file* file, const uint64_t* offset, int origin);
// 0 with the position stored, or EBADHANDLE.
int pcfm_tell(pcfm_file* file, uint64_t* position);
// Sets the entry's time and date words; they reach the disk when a writable handle closes.
int pcfm_set_time(pcfm_file* file, uint16_t time_word, uint16_t date_word);
// The handle's error field: its last error, with bit value 8 also set at the end of file.
int pcfm_error(const pcfm_file* file);

// Reads entry number entry->index of a directory handle, counting live entries only.
// 0; -1 with pcfm_errno set (EBADHANDLE, ENOTADIR, ENOTFOUND, ENOENTRY past the last
// entry); or EBADARG returned directly for an index of 512 or more or a null record.
int pcfm_readdir(pcfm_file* directory, pcfm_dirent* entry);
// Each returns 0, or -1 with pcfm_errno set.
int pcfm_mkdir(const char* path);
int pcfm_rmdir(const char* path);
int pcfm_remove(const char* path);
int pcfm_rename(const char* old_path, const char* new_path);

// Free space in sectors, and total space in kilobytes, of the volume of a handle (0 with
// pcfm_errno set for an invalid handle).
uint32_t pcfm_free_space(pcfm_file* file);
uint32_t pcfm_total_space(pcfm_file* file);

// The time source of time stamps (seconds since 1970): a nonzero argument replaces the stored
// value; the stored value is returned. Stamping calls it with the current time.
int64_t pcfm_stamp_time(int64_t time_value);
