// Ending signals: what every platform shares (the temporary files that a signal takes
// along, the watch over a library's long step); the handlers are in interrupt_posix.cpp
// and interrupt_windows.cpp.
#include "support/interrupt.hpp"

#include <atomic>
#include <cstring>

#include "support/files.hpp"
#include "support/interrupt_internal.hpp"

namespace support {

namespace fs = std::filesystem;

namespace {

// Fixed slots, so that a signal handler reads them without a lock or an allocation. A
// save holds one slot for the moment of its write; a path that finds no free slot, or
// is too long for one, is simply not removed. Initialised as the program is loaded (all
// zeros): set up at start-up instead, they would fault in their 128 KB page by page.
constexpr int slot_count = 32;
constexpr size_t slot_length = 4096;
enum : int { free_slot = 0, filling = 1, armed = 2 };
struct Slot {
    std::atomic<int> state{free_slot};
    fs::path::value_type path[slot_length]{};
};
static_assert(std::atomic<int>::is_always_lock_free);
constinit Slot slots[slot_count];

}  // namespace

void interrupt_detail::remove_armed_files() {
    for (auto& slot : slots)
        if (slot.state.load() == armed) remove_now(slot.path);
}

RemoveOnSignal::RemoveOnSignal(const fs::path& path) : slot_(-1) {
    std::error_code ec;
    const fs::path absolute = absolute_path(path, ec);
    if (ec) return;
    const auto& text = absolute.native();
    if (text.size() >= slot_length) return;
    for (int i = 0; i < slot_count; ++i) {
        int expected = free_slot;
        if (!slots[i].state.compare_exchange_strong(expected, filling)) continue;
        std::memcpy(slots[i].path, text.c_str(), (text.size() + 1) * sizeof(fs::path::value_type));
        slots[i].state.store(armed);
        slot_ = i;
        return;
    }
}

RemoveOnSignal::~RemoveOnSignal() {
    if (slot_ >= 0) slots[slot_].state.store(free_slot);
}

InterruptWatch::InterruptWatch() { interrupt_detail::watch_input(); }

InterruptWatch::~InterruptWatch() {
    const int sig = interrupt_detail::unwatch_input();
    if (sig && !taken_) interrupt_detail::end_by(sig);
}

int InterruptWatch::signal() const { return interrupt_detail::pending_signal(); }

void InterruptWatch::check() {
    if (const int sig = signal()) {
        taken_ = true;
        throw Interrupted(sig);
    }
}

}  // namespace support
