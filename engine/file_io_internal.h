// What the platform sources of the file layer share. Not for the rest of the
// engine: include file_io.h.
#pragma once

#include <atomic>
#include <string>

#include "file_io.h"

namespace morla::file_io {

// True once for each fault injected at `step`, then false again.
bool TakeInjectedFault(FileStep step);

// A fresh name for a temporary file: ".morla-" six letters or digits ".tmp".
// The name says what a leftover is; creation must still be exclusive.
std::string TemporaryName();

// The paths of the temporary files being written, for removal when the
// process is interrupted. A signal or console handler may read them at any
// moment: entries come and go atomically and reading takes no lock.
template <typename Char>
class PendingTemporaries {
  public:
    using Slot = std::atomic<const Char*>;
    // Notes `path`, which must live until it is withdrawn. nullptr when every
    // slot is taken (the file is then only removed by its owner).
    Slot* Add(const Char* path) {
        for (Slot& slot : slots_) {
            const Char* empty = nullptr;
            if (slot.compare_exchange_strong(empty, path)) {
                return &slot;
            }
        }
        return nullptr;
    }
    static void Withdraw(Slot*& slot) {
        if (slot != nullptr) {
            slot->store(nullptr);
            slot = nullptr;
        }
    }
    // For the handler: calls `remove` with every noted path.
    template <typename Remove>
    void RemoveAll(Remove remove) {
        for (Slot& slot : slots_) {
            if (const Char* path = slot.load()) {
                remove(path);
            }
        }
    }

  private:
    Slot slots_[8] = {};
};

}  // namespace morla::file_io
