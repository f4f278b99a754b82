#include "output/temporary_files.h"

#include <limits.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"

namespace mervox::media::output {

// Slots are never freed, only reused, so the handler can walk the list at
// any moment: a slot is published (active) only once its path is complete.
// A slot holds a path of up to its capacity (a power of two, at least 64
// bytes), and a free slot waits in the free list of its capacity: many
// files at once cost their paths' lengths, and registering takes the same
// time however many there are.
struct TemporaryFileRegistration::Slot {
    std::atomic<bool> active{false};
    Slot* next = nullptr;  // every slot, for the handler
    size_t capacity = 0;
    char* path = nullptr;  // capacity bytes, never freed
};

namespace {

std::atomic<TemporaryFileRegistration::Slot*> g_slots{nullptr};
std::mutex g_slotsMutex;  // taken by threads registering, never by the handler

// The longest path a file can be created at, in bytes with its zero:
// PATH_MAX; on Windows (260 UTF-16 units, or more through a "\\?\" name,
// each up to 3 bytes in UTF-8) the largest slot.
constexpr size_t kSmallestSlot = 64;
constexpr size_t kSlotClasses = 8;  // 64 ... 8192 bytes
#ifdef _WIN32
constexpr size_t kMaxPathBytes = kSmallestSlot << (kSlotClasses - 1);
#else
constexpr size_t kMaxPathBytes = PATH_MAX;
#endif
static_assert(kSmallestSlot << (kSlotClasses - 1) >= kMaxPathBytes, "a class for the longest path");
// Under g_slotsMutex: per class, the free slots and the number of slots.
// Never destroyed, for registrations that outlive static destruction.
struct SlotClasses {
    std::vector<TemporaryFileRegistration::Slot*> free[kSlotClasses];
    size_t count[kSlotClasses] = {};
};
SlotClasses& Classes()
{
    static SlotClasses* classes = new SlotClasses;
    return *classes;
}

size_t SlotClass(size_t bytes)
{
    size_t c = 0;
    while ((kSmallestSlot << c) < bytes)
        ++c;
    return c;
}

void RemoveTemporaryFiles()
{
    for (TemporaryFileRegistration::Slot* s = g_slots.load(std::memory_order_acquire); s; s = s->next)
        if (s->active.load(std::memory_order_acquire))
            platform::RemoveFileQuietly(s->path);
}

}  // namespace

void InstallTemporaryFileCleanup() { platform::InstallTerminationCleanup(&RemoveTemporaryFiles); }

TemporaryFileRegistration::TemporaryFileRegistration(const std::string& path)
{
    if (path.size() >= kMaxPathBytes)
        return;
    const size_t c = SlotClass(path.size() + 1);
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    std::vector<Slot*>& free = Classes().free[c];
    size_t& count = Classes().count[c];
    Slot* slot = nullptr;
    if (!free.empty()) {
        slot = free.back();
        free.pop_back();
    } else {
        // Room in the free list for every slot, so that Forget() never
        // allocates.
        if (free.capacity() < count + 1)
            free.reserve(2 * (count + 1));
        ++count;
        slot = new Slot;
        slot->capacity = kSmallestSlot << c;
        slot->path = new char[slot->capacity];
        slot->next = g_slots.load(std::memory_order_acquire);
        g_slots.store(slot, std::memory_order_release);
    }
    std::memcpy(slot->path, path.c_str(), path.size() + 1);
    slot->active.store(true, std::memory_order_release);
    slot_ = slot;
}

void TemporaryFileRegistration::Forget()
{
    if (!slot_)
        return;
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    slot_->active.store(false, std::memory_order_release);
    Classes().free[SlotClass(slot_->capacity)].push_back(slot_);
    slot_ = nullptr;
}

}  // namespace mervox::media::output
