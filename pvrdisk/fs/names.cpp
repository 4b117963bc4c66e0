// The receiver's name bytes and the parsing of path components.
//
// Paths are converted byte by byte before they are parsed (PC byte -> disk byte); names read
// from the disk are converted back through a second, separate table. The two tables are the
// receiver's and are not inverses of each other.
#include <array>
#include <cstring>

#include "pvrdisk/fs/pcfm_internal.h"

namespace {

// Disk bytes for PC bytes 0xC0 to 0xFF; 0x80 to 0xBF all become 0x80.
constexpr uint8_t kPathHighBytes[64] = {
    0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBB, 0xBC, 0xBD, 0xBE, 0xBF,
    0xA0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xA2, 0xA4, 0xCF,
    0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
    0xA1, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xA3, 0xA5, 0xEF,
};

struct NamePair {
    uint8_t disk;
    uint8_t pc;
};
constexpr NamePair kNamePairs[] = {
    {0xA4, 0xAA}, {0xA5, 0xBA}, {0xB1, 0xC1}, {0xB2, 0xC2}, {0xB4, 0xC4}, {0xB7, 0xC7},
    {0xB9, 0xC9}, {0xBB, 0xCB}, {0xBD, 0xCD}, {0xBE, 0xCE}, {0xC3, 0xD3}, {0xC4, 0xD4},
    {0xC6, 0xD6}, {0xC7, 0xD7}, {0xCA, 0xDA}, {0xCC, 0xDC}, {0xCD, 0xDD}, {0xCF, 0xDF},
    {0xD1, 0xE1}, {0xD2, 0xE2}, {0xD4, 0xE4}, {0xD7, 0xE7}, {0xD9, 0xE9}, {0xDB, 0xEB},
    {0xDD, 0xED}, {0xDE, 0xEE}, {0xE3, 0xF3}, {0xE4, 0xF4}, {0xE6, 0xF6}, {0xE7, 0xF7},
    {0xEA, 0xFA}, {0xEC, 0xFC}, {0xED, 0xFD}, {0xF0, 0xC6}, {0xF1, 0xE6}, {0xF2, 0xC8},
    {0xF3, 0xE8}, {0xF4, 0xD0}, {0xF5, 0xF0}, {0xF6, 0xA9}, {0xF7, 0xB9}, {0xF8, 0xAE},
    {0xF9, 0xBE}, {0xFA, 0xDE}, {0xFB, 0xFE}, {0xFC, 0xC3}, {0xFD, 0xE3}, {0xFE, 0xB0},
};

// Indexed by PC byte: 0x200 + v stands for disk byte 0x80 + v, 0 for none.
constexpr std::array<uint16_t, 256> MakeNameCodes() {
    std::array<uint16_t, 256> codes{};
    for (const NamePair& pair : kNamePairs)
        codes[pair.pc] = static_cast<uint16_t>(pair.disk + 0x180);
    return codes;
}
constexpr std::array<uint16_t, 256> kNameCodes = MakeNameCodes();

// Disk byte -> the first PC byte whose code names it, 0 for none: the reverse look-up, done
// once.
constexpr std::array<uint8_t, 256> MakeReverseCodes() {
    std::array<uint8_t, 256> reverse{};
    for (int pc = 255; pc >= 0; --pc)
        if (kNameCodes[pc] >= 0x180) reverse[kNameCodes[pc] - 0x180] = static_cast<uint8_t>(pc);
    return reverse;
}
constexpr std::array<uint8_t, 256> kPcByteOfDiskByte = MakeReverseCodes();

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

}  // namespace

int pcfm_convert_path(const char* path, char* converted) {
    size_t i = 0;
    for (; path[i] != 0; ++i) {
        // Cut short, a path would name another entry, or make one under a shorter name.
        if (i == kMaxPathBytes) return EBADNAME;
        const uint8_t byte = static_cast<uint8_t>(path[i]);
        uint8_t out = byte;
        if (byte >= 0xC0) {
            out = kPathHighBytes[byte - 0xC0];
        } else if (byte >= 0x80) {
            out = 0x80;
        }
        converted[i] = static_cast<char>(out);
    }
    converted[i] = 0;
    return 0;
}

void pcfm_convert_name(const uint8_t* disk_name, char* pc_name) {
    std::memset(pc_name, 0, 33);
    for (int i = 0; i < 32 && disk_name[i] != 0; ++i) {
        const uint8_t byte = disk_name[i];
        uint8_t out = byte;
        // A byte the table has no row for is kept as it is rather than leaving the caller's
        // byte from an earlier entry in its place.
        if ((byte == 0x01 || byte == 0x02 || byte >= 0x80) && kPcByteOfDiskByte[byte] != 0)
            out = kPcByteOfDiskByte[byte];
        pc_name[i] = static_cast<char>(out);
    }
}

int pcfm_parse_component(const char*& cursor, pcfm_component* component) {
    const bool root = component->root;
    for (;;) {
        std::memset(component, 0, sizeof *component);
        component->root = root;
        if (IsSeparator(*cursor)) ++cursor;
        int name_length = 0;
        int extension_length = 0;
        bool in_extension = false;
        bool more = false;
        for (;;) {
            const char c = *cursor;
            // A control byte is a name byte like any other: names on the disk may hold them,
            // and a listed name must find its own entry, never the one its prefix names.
            if (c == 0) break;
            if (IsSeparator(c)) {
                more = cursor[1] != 0;
                break;
            }
            ++cursor;
            if (c == '*' || c == '?') {
                component->wildcard = true;
            } else if (c == '.' &&
                       (name_length >= 2 || (name_length == 1 && component->name[0] != '.'))) {
                in_extension = true;
                extension_length = 0;
            } else if (in_extension) {
                if (extension_length < 3) component->extension[extension_length++] = c;
            } else if (name_length < 32) {
                component->name[name_length++] = c;
            }
        }
        if (component->wildcard && more) return -1;
        if (name_length == 1 && component->name[0] == '.' && extension_length == 0 &&
            !in_extension) {
            if (!more) {
                std::memset(component->name, 0, sizeof component->name);
                return 0;
            }
            continue;
        }
        if (component->name[0] == '.' && name_length >= 2 && component->name[1] != '.') return -1;
        return more ? 1 : 0;
    }
}

bool pcfm_can_be_made(const pcfm_component& component) {
    if (component.name[0] == 0 || component.name[0] == kDeletedMark || component.wildcard ||
        pcfm_is_dot_dot(component))
        return false;
    for (uint8_t byte : component.name)
        if (byte != 0 && byte < 0x20) return false;
    for (uint8_t byte : component.extension)
        if (byte != 0 && byte < 0x20) return false;
    return true;
}

bool pcfm_is_dot_dot(const pcfm_component& component) {
    static const uint8_t kDotDot[35] = {'.', '.'};
    return std::memcmp(component.name, kDotDot, 32) == 0 &&
           std::memcmp(component.extension, kDotDot + 32, 3) == 0;
}
