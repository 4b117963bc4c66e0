// The receiver file system's records and the operations its parts share. Private to
// pvrdisk/fs (the tests of the library look in as well).
#pragma once

#include <bit>
#include <cstdint>

#include "pvrdisk/pcfm.h"

static_assert(std::endian::native == std::endian::little, "on-disk records are used in place");

inline constexpr uint32_t kTableSectors = 256;
inline constexpr uint32_t kTableBufferBytes = 262144;
inline constexpr uint32_t kDirectoryBytes = 32768;
inline constexpr uint32_t kDirectoryEntries = 512;
inline constexpr uint32_t kDirectorySectors = kDirectoryBytes / kSectorSize;
inline constexpr uint32_t kEndOfChain = 0xFFFF;
inline constexpr uint32_t kHighestCluster = 0xFFFE;
// Chains never hold more clusters than there are; a longer walk is a cycle.
inline constexpr uint32_t kMaxChainClusters = kHighestCluster;
inline constexpr uint32_t kNoCachedDirectory = 0xFFFF;
inline constexpr int kSlotCount = 10;
inline constexpr uint32_t kMaxPathBytes = 511;
inline constexpr uint8_t kDeletedMark = 0xE5;

// Mode flags.
inline constexpr uint8_t kModeRead = 0x01;
inline constexpr uint8_t kModeWrite = 0x02;
inline constexpr uint8_t kModeText = 0x04;
inline constexpr uint8_t kModeAppend = 0x08;
inline constexpr uint8_t kModeTruncate = 0x10;
inline constexpr uint8_t kModeNoCreate = 0x20;
inline constexpr uint8_t kModeDirectory = 0x40;
inline constexpr uint8_t kModeWriteType = 0x80;

// Sector-buffer states.
inline constexpr uint8_t kBufferNone = 0;
inline constexpr uint8_t kBufferRead = 0x40;
inline constexpr uint8_t kBufferChanged = 0x03;
// No sector number reaches 2^32, so this never names a real one.
inline constexpr uint64_t kNoSector = UINT64_MAX;

// The 64-byte directory entry, the same on disk and in memory.
struct pcfm_entry {
    uint8_t name[32];
    uint8_t extension[3];
    uint8_t reserved1;
    uint8_t attributes;
    uint8_t root_marker;
    uint16_t time;
    uint16_t date;
    uint8_t reserved2[6];
    uint32_t first_cluster;
    uint32_t last_cluster;
    uint64_t size;
};
static_assert(sizeof(pcfm_entry) == 64);

struct pcfm_volume {
    uint32_t sector_mask;
    uint32_t data_start;
    uint32_t fat_start;
    uint16_t fat_start_as_read;
    uint32_t rootdir_start;
    uint32_t sectors_per_cluster;
    uint16_t end_of_chain;
    uint16_t* table;  // kTableBufferBytes; entry n at byte 2n
    uint8_t* root;    // kDirectoryBytes
    uint32_t highest_cluster;
    uint32_t table_sectors;
    uint32_t root_cluster;
    uint32_t cached_directory;  // cluster held in the shared directory buffer
    uint16_t bytes_per_sector;
    uint32_t bytes_per_cluster;
    uint8_t table_count;
};

struct pcfm_fileops;

struct pcfm_dev {
    const char* name;
    uint8_t unit;
    uint8_t state;  // bit 0: mounted
    uint8_t flags;  // bit 7: read and check the boot sector
    const pcfm_blkdrv* driver;
    const pcfm_fileops* fileops;
    pcfm_volume volume;
};

struct pcfm_file {
    uint8_t device_index;
    uint8_t mode;
    uint8_t open_flags;
    uint8_t slot;
    int error;
    const pcfm_blkdrv* driver;
    const pcfm_fileops* fileops;
    pcfm_dev* device;
    pcfm_volume* volume;
    uint64_t position;
    uint32_t cluster;
    uint32_t run;  // contiguous clusters from `cluster` on, 0 = not counted yet
    uint32_t ordinal;
    uint32_t directory_cluster;
    uint32_t entry_index;
    pcfm_blkreq request;
    uint64_t buffered_sector;
    int last_result;
    uint8_t buffer_state;
    // The chain the entry names was freed while its cluster fields were kept ("~"): data
    // access treats the file as having no chain.
    bool chain_detached;
    // What the last walk of the whole chain found (pcfm_map_position): the clusters from the
    // start that are sound, and whether the chain is sound to its end and as long as the
    // size needs. Valid while `chain_generation` is the table's.
    bool chain_intact;
    uint32_t sound_clusters;
    uint32_t chain_generation;
    bool is_root;
    // Table sectors changed through this handle, written back with the entry's range.
    uint32_t dirty_low;
    uint32_t dirty_high;
    pcfm_entry* entry;  // in place in the root buffer, or &private_entry
    pcfm_entry private_entry;
};

// Parsed path component.
struct pcfm_component {
    uint8_t name[32];
    uint8_t extension[3];
    bool root;
    bool wildcard;
};

// Directory clusters passed on the way to an entry, for rename's loop check.
struct pcfm_path_trace {
    uint32_t clusters[256];
    int count;
};

inline constexpr int kControlCopyEntry = 20;
inline constexpr int kControlRemoveDirectory = 21;
inline constexpr int kControlFlush = 22;
inline constexpr int kControlReadEntry = 23;

// The operations every handle reaches its device through, in slot order.
struct pcfm_fileops {
    int (*open)(pcfm_file* file, const char* path, pcfm_path_trace* trace);
    int64_t (*read)(pcfm_file* file, uint8_t* destination, uint64_t length);
    int64_t (*write)(pcfm_file* file, const uint8_t* source, uint64_t length);
    int (*close)(pcfm_file* file);
    int (*seek)(pcfm_file* file, uint64_t position);
    int (*mkdir)(pcfm_file* file);
    int (*unlink)(pcfm_file* file);
    int (*control)(pcfm_file* file, int code, void* argument);
};
extern const pcfm_fileops pcfm_file_operations;

// Mount (volume_mount.cpp).
pcfm_dev* pcfm_device(int index);
int pcfm_find_device(const char* name);
int pcfm_get_bpb(pcfm_dev* device);
uint8_t* pcfm_directory_buffer();
void* pcfm_alloc(size_t bytes);

// Allocation table (allocation_table.cpp).
bool pcfm_is_data_cluster(uint32_t cluster);
uint64_t pcfm_cluster_sector(const pcfm_volume* volume, uint32_t cluster);
uint32_t pcfm_chain_start(const pcfm_file* file);
int pcfm_map_position(pcfm_file* file, uint32_t clusters_wanted, uint64_t* first_sector,
                      uint64_t* sectors);
void pcfm_count_run(pcfm_file* file, uint32_t clusters_wanted);
int pcfm_allocate(pcfm_file* file, uint32_t clusters_wanted, uint32_t* allocated);
void pcfm_free_chain(pcfm_file* file);
int pcfm_write_back(pcfm_file* file);
int pcfm_transfer(pcfm_file* file, bool write, uint8_t* buffer, uint64_t first_sector,
                  uint32_t sectors);
// Called when chains may have changed under open handles (a chain freed, a mount): every
// handle walks its chain again from the entry before it next maps a position.
void pcfm_chains_changed();

// Names (names.cpp).
// Converts a path into `converted` (kMaxPathBytes + 1 bytes): 0, or EBADNAME for a path
// longer than kMaxPathBytes.
int pcfm_convert_path(const char* path, char* converted);
void pcfm_convert_name(const uint8_t* disk_name, char* pc_name);
int pcfm_parse_component(const char*& cursor, pcfm_component* component);
bool pcfm_is_dot_dot(const pcfm_component& component);
// Whether an entry may be given this name: not empty, not read back as the end of a
// directory, a deleted entry, a pattern or the way up, and without control bytes, which the
// path syntax would give back but which no user means to make.
bool pcfm_can_be_made(const pcfm_component& component);

// Directories (directories.cpp).
uint8_t* pcfm_get_directory(pcfm_file* file, uint32_t cluster, int* error);
void pcfm_forget_directory(pcfm_volume* volume, uint32_t first_cluster, uint32_t clusters);
int pcfm_resolve(pcfm_file* file, const char* path, pcfm_path_trace* trace, pcfm_component* last);
int pcfm_create_entry(pcfm_file* file, const pcfm_component& component);
void pcfm_stamp(uint16_t* time_word, uint16_t* date_word);
int pcfm_write_entry(pcfm_file* file);
int pcfm_read_entry(pcfm_file* file, pcfm_dirent* record);
bool pcfm_is_dot_name(const pcfm_entry& entry);

// Path operations (path_operations.cpp).
int pcfm_make_directory(pcfm_file* file);
int pcfm_unlink(pcfm_file* file);
int pcfm_remove_directory(pcfm_file* file);
int pcfm_copy_entry(pcfm_file* target, const pcfm_file* source);

// Files (files.cpp).
pcfm_file* pcfm_open_traced(const char* path, const char* mode, pcfm_path_trace* trace);
bool pcfm_valid(const pcfm_file* file);
// Whether the handle's file was removed (through another handle) while it was open.
bool pcfm_entry_removed(const pcfm_file* file);
// Before a new entry takes slot `index` of a directory: handles still open on the removed
// entry that had the slot keep a copy of it, marked removed, instead of the new entry.
void pcfm_orphan_holders(const pcfm_file* file, uint32_t directory_cluster, uint32_t index);
// The entry another open handle holds for the entry `index` of the directory at
// `directory_cluster` (never the root's, whose entries are used in place), or null: handles
// on one file share one entry, as they do in the root, so that none writes back a stale one.
pcfm_entry* pcfm_held_entry(const pcfm_file* file, uint32_t directory_cluster, uint32_t index);
void pcfm_discard(pcfm_file* file);
void pcfm_discard_all();
