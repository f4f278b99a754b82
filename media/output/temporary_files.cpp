#include "temporary_files.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace mervox::tools {

// Slots are never freed, only reused, so the handler can walk the list at
// any moment: a slot is published (active) only once its path is complete.
struct TemporaryFileRegistration::Slot {
    char path[PATH_MAX];
    std::atomic<bool> active{false};
    Slot* next = nullptr;
};

namespace {

std::atomic<TemporaryFileRegistration::Slot*> g_slots{nullptr};
std::mutex g_slotsMutex;  // taken by threads registering, never by the handler

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

void RemoveTemporaryFilesAndDie(int signal)
{
    for (TemporaryFileRegistration::Slot* s = g_slots.load(std::memory_order_acquire); s; s = s->next)
        if (s->active.load(std::memory_order_acquire))
            unlink(s->path);
    // SA_RESETHAND has restored the default action: deliver the signal
    // again once this handler returns, so the exit status tells the signal.
    raise(signal);
}

}  // namespace

void InstallTemporaryFileCleanup()
{
    for (const int signal : kCleanupSignals) {
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
            (current.sa_flags & SA_SIGINFO))
            continue;  // ignored (e.g. `trap '' XFSZ`, nohup) or handled by the host
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = &RemoveTemporaryFilesAndDie;
        sigemptyset(&action.sa_mask);
        for (const int other : kCleanupSignals)
            sigaddset(&action.sa_mask, other);
        action.sa_flags = static_cast<int>(SA_RESETHAND);
        sigaction(signal, &action, nullptr);
    }
}

TemporaryFileRegistration::TemporaryFileRegistration(const std::string& path)
{
    if (path.size() >= PATH_MAX)
        return;
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    Slot* free = nullptr;
    for (Slot* s = g_slots.load(std::memory_order_acquire); s && !free; s = s->next)
        if (!s->active.load(std::memory_order_acquire))
            free = s;
    if (!free) {
        free = new Slot;
        free->next = g_slots.load(std::memory_order_acquire);
        g_slots.store(free, std::memory_order_release);
    }
    std::memcpy(free->path, path.c_str(), path.size() + 1);
    free->active.store(true, std::memory_order_release);
    slot_ = free;
}

void TemporaryFileRegistration::Forget()
{
    if (!slot_)
        return;
    std::lock_guard<std::mutex> lock(g_slotsMutex);
    slot_->active.store(false, std::memory_order_release);
    slot_ = nullptr;
}

}  // namespace mervox::tools
