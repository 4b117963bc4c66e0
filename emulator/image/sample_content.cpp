#include "emulator/image/sample_content.h"

#include <cstdio>
#include <vector>

#include "emulator/image/folder_filler.h"
#include "pvrdisk/pcfm.h"

namespace image {

namespace {

constexpr size_t kPatternBytes = 1 << 20;
constexpr size_t kZeroChunk = 32 << 20;

char PatternByte(uint64_t offset) {
    return static_cast<char>((offset * 7 + (offset >> 9)) & 0xFF);
}

bool MakeFolder(const std::string& path, std::string* error) {
    if (pcfm_mkdir(path.c_str()) == 0) return true;
    *error = "pcfm_mkdir " + path + " failed with " + std::to_string(pcfm_errno);
    return false;
}

struct Recording {
    const char* path;
    const char* title;
};

// Titles in the receiver's coding: 02 66 01 is o-umlaut, 02 54 01 a-umlaut, 02 6C 01
// u-umlaut, 02 4F 01 sharp s, 14 01 capital A-umlaut, 02 46 01 capital O-umlaut.
constexpr Recording kRecordings[] = {
    {"C:\\Recordings\\001&&Tagesschau.TP0", "Tagesschau"},
    {"C:\\Recordings\\002&&Sport am Sonntag.TP0", "Sport am Sonntag"},
    {"C:\\Recordings\\Kochen.TP0",
     "Sch\x02\x66\x01ne Gr\x02\x54\x01\x02\x4F\x01"
     "e"},
    {"C:\\Recordings\\12&&M\xE4rchen.TP0", "\x14\x01rger im \x02\x46\x01lwerk"},
    {"C:\\Recordings\\Nachrichten.tp0",
     "Fr\x02\x6C\x01hst\x02\x6C\x01"
     "ck"},
    {"C:\\Archive\\2023\\Summer\\Holiday\\Day1\\Beach.TP0", "Am Strand"},
};

}  // namespace

std::string MakeRecording(const std::string& title, uint64_t size) {
    std::string data(size, 0);
    for (uint64_t i = 0; i < size; ++i) data[i] = PatternByte(i);
    for (size_t i = 0; i < kTitleBytes + 4 && kTitleOffset + i < size; ++i)
        data[kTitleOffset + i] = i < title.size() ? title[i] : 0;
    return data;
}

bool WriteLargeRecording(const std::string& receiver_path, const std::string& title, uint64_t size,
                         std::string* error) {
    pcfm_file* file = pcfm_open(receiver_path.c_str(), "wb");
    if (file == nullptr) {
        *error = "pcfm_open " + receiver_path + " failed with " + std::to_string(pcfm_errno);
        return false;
    }
    const std::string head = MakeRecording(title, kPatternBytes);
    std::vector<char> zeros(kZeroChunk, 0);
    bool ok = pcfm_write(head.data(), 1, head.size(), file) == head.size();
    uint64_t written = head.size();
    while (ok && written + kPatternBytes < size) {
        const uint64_t piece = std::min<uint64_t>(kZeroChunk, size - kPatternBytes - written);
        ok = pcfm_write(zeros.data(), 1, piece, file) == piece;
        written += piece;
    }
    std::string tail(size - written, 0);
    for (size_t i = 0; i < tail.size(); ++i) tail[i] = PatternByte(written + i);
    ok = ok && pcfm_write(tail.data(), 1, tail.size(), file) == tail.size();
    if (!ok) *error = "pcfm_write " + receiver_path + " failed with " + std::to_string(pcfm_errno);
    const bool closed = pcfm_close(file) == 0;
    if (ok && !closed) *error = "pcfm_close " + receiver_path + " failed";
    return ok && closed;
}

bool FillSampleContent(const SampleOptions& options, std::string* error) {
    for (const char* folder :
         {"C:\\Recordings", "C:\\Archive", "C:\\Archive\\2023", "C:\\Archive\\2023\\Summer",
          "C:\\Archive\\2023\\Summer\\Holiday", "C:\\Archive\\2023\\Summer\\Holiday\\Day1",
          "C:\\jukebox", kFullFolder})
        if (!MakeFolder(folder, error)) return false;
    for (const Recording& recording : kRecordings)
        if (!WriteReceiverFile(recording.path, MakeRecording(recording.title), error)) return false;
    if (!WriteReceiverFile("C:\\jukebox\\Song One.mp3", std::string(70000, 'm'), error) ||
        !WriteReceiverFile("C:\\jukebox\\Song Two.mp3", std::string(513, 'n'), error) ||
        !WriteReceiverFile("C:\\tm_shift.000", std::string(1 << 20, 't'), error) ||
        !WriteReceiverFile("C:\\Archive\\readme.txt", "Sample archive\r\n", error))
        return false;
    // 510 entries and "." and "..": the folder is full.
    for (int i = 0; i < 510; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s\\entry%03d.txt", kFullFolder, i);
        if (!WriteReceiverFile(name, i % 50 == 0 ? std::string(i, 'e') : std::string(), error))
            return false;
    }
    if (options.big_recording && !WriteLargeRecording("C:\\Recordings\\003&&Spielfilm.TP0",
                                                      "Der lange Film", kBigRecordingBytes, error))
        return false;
    if (options.huge_recording_bytes != 0 &&
        !WriteLargeRecording("C:\\Recordings\\Marathon.TP0", "Die l\x02\x54\x01ngste Nacht",
                             options.huge_recording_bytes, error))
        return false;
    return true;
}

}  // namespace image
