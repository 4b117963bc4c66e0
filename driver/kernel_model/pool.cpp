// Pool allocation by tag, tracked blocks, injected allocation failures, and the counted
// strings the kernel hands out.
#include <cstdlib>
#include <map>
#include <mutex>

#include "driver/kernel_model/kernel_model.h"
#include "driver/kernel_model/model_state.h"

namespace kernel_model {
namespace {

struct PoolBlock {
    size_t size;
    ULONG tag;
};

std::mutex g_pool_mutex;
std::map<const void*, PoolBlock> g_pool;
std::map<const void*, const char*> g_tracked;
uint64_t g_fail_countdown = 0;

std::string TagText(ULONG tag) {
    std::string text;
    for (int i = 0; i < 4; i++) text += static_cast<char>((tag >> (8 * i)) & 0xFF);
    return text;
}

void* AllocateBlock(size_t size, ULONG tag) {
    void* block = std::calloc(1, size == 0 ? 1 : size);
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    g_pool[block] = PoolBlock{size, tag};
    return block;
}

void FreeBlock(void* block, const ULONG* tag) {
    {
        std::lock_guard<std::mutex> lock(g_pool_mutex);
        auto found = g_pool.find(block);
        if (found == g_pool.end()) {
            RecordFault("ExFreePool of a block that is not allocated");
            return;
        }
        if (tag != nullptr && found->second.tag != *tag)
            RecordFault("ExFreePoolWithTag with tag " + TagText(*tag) + " on a block tagged " +
                        TagText(found->second.tag));
        g_pool.erase(found);
    }
    std::free(block);
}

}  // namespace

bool NextAllocationFails() {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    if (g_fail_countdown == 0) return false;
    return --g_fail_countdown == 0;
}

void FailAllocation(uint64_t nth) {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    g_fail_countdown = nth;
}

void* AllocateModelBlock(size_t size, ULONG tag) {
    return AllocateBlock(size, tag);
}

uint64_t PoolBlocksWithTag(ULONG tag) {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    uint64_t count = 0;
    for (const auto& [block, info] : g_pool) count += info.tag == tag;
    return count;
}

void TrackBlock(const void* block, const char* kind) {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    g_tracked[block] = kind;
}

bool UntrackBlock(const void* block, const char* kind) {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    auto found = g_tracked.find(block);
    if (found == g_tracked.end() || std::string(found->second) != kind) {
        RecordFault(std::string("freeing a ") + kind + " that is not allocated");
        return false;
    }
    g_tracked.erase(found);
    return true;
}

std::vector<std::string> PoolLeaks() {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    std::vector<std::string> leaks;
    for (const auto& [block, info] : g_pool)
        leaks.push_back("pool block of " + std::to_string(info.size) + " bytes tagged " +
                        TagText(info.tag));
    return leaks;
}

std::vector<std::string> TrackedBlockLeaks() {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    std::vector<std::string> leaks;
    for (const auto& [block, kind] : g_tracked) leaks.push_back(std::string("a ") + kind);
    return leaks;
}

void ResetPool() {
    std::lock_guard<std::mutex> lock(g_pool_mutex);
    for (const auto& [block, info] : g_pool) std::free(const_cast<void*>(block));
    g_pool.clear();
    g_tracked.clear();
    g_fail_countdown = 0;
}

std::u16string ToU16(PCWSTR text) {
    std::u16string result;
    for (; text != nullptr && *text != 0; text++) result += static_cast<char16_t>(*text);
    return result;
}

std::u16string ToU16(const UNICODE_STRING& text) {
    std::u16string result;
    for (USHORT i = 0; i < text.Length / sizeof(WCHAR); i++)
        result += static_cast<char16_t>(text.Buffer[i]);
    return result;
}

UNICODE_STRING MakeUnicodeString(std::u16string& text) {
    UNICODE_STRING result;
    result.Length = static_cast<USHORT>(text.size() * sizeof(WCHAR));
    result.MaximumLength = result.Length;
    result.Buffer = reinterpret_cast<PWSTR>(text.data());
    return result;
}

}  // namespace kernel_model

using namespace kernel_model;

extern "C" {

PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag) {
    // Memory integrity refuses executable pool; paged pool may fault, which dispatch level
    // cannot take.
    if (PoolType == NonPagedPool) RecordFault("executable NonPagedPool allocated");
    if (PoolType == PagedPool && KeGetCurrentIrql() >= DISPATCH_LEVEL)
        RecordFault("paged pool allocated at dispatch level");
    if (NextAllocationFails()) return nullptr;
    return AllocateBlock(NumberOfBytes, Tag);
}

VOID NTAPI ExFreePool(PVOID P) {
    FreeBlock(P, nullptr);
}

VOID NTAPI ExFreePoolWithTag(PVOID P, ULONG Tag) {
    FreeBlock(P, &Tag);
}

VOID NTAPI RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    USHORT length = 0;
    while (SourceString != nullptr && SourceString[length] != 0) length++;
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    DestinationString->Length = static_cast<USHORT>(length * sizeof(WCHAR));
    DestinationString->MaximumLength =
        SourceString == nullptr ? 0 : static_cast<USHORT>(DestinationString->Length + 2);
}

VOID NTAPI RtlFreeUnicodeString(PUNICODE_STRING UnicodeString) {
    if (UnicodeString->Buffer != nullptr) FreeBlock(UnicodeString->Buffer, nullptr);
    UnicodeString->Buffer = nullptr;
    UnicodeString->Length = 0;
    UnicodeString->MaximumLength = 0;
}

}  // extern "C"
