// What the platform sources of the file layer share. Not for the rest of the
// engine: include file_io.h.
#pragma once

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>

#include "platform/file_io.h"

namespace morla::file_io {

// True once for each fault injected at `step`, then false again.
bool TakeInjectedFault(FileStep step);

// A fresh name for a temporary file: ".morla-" six letters or digits ".tmp".
// The name says what a leftover is; creation must still be exclusive.
std::string TemporaryName();

// True for the names TemporaryName makes (and only those: a leftover is
// recognised by its whole name before it is removed).
template <typename Char>
bool IsTemporaryName(std::basic_string_view<Char> name) {
    constexpr std::string_view kPrefix = ".morla-", kSuffix = ".tmp";
    constexpr std::size_t kRandom = 6;
    if (name.size() != kPrefix.size() + kRandom + kSuffix.size()) {
        return false;
    }
    const auto matches = [&](std::size_t at, std::string_view text) {
        return std::equal(text.begin(), text.end(), name.begin() + at,
                          [](char a, Char b) { return Char(a) == b; });
    };
    const auto alphanumeric = [](Char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    };
    return matches(0, kPrefix) && matches(kPrefix.size() + kRandom, kSuffix) &&
           std::all_of(name.begin() + kPrefix.size(), name.begin() + kPrefix.size() + kRandom,
                       alphanumeric);
}

// Paths as the system takes them: UTF-16 on Windows, UTF-8 bytes elsewhere.
#if defined(_WIN32)
using NativePathString = std::wstring;
#else
using NativePathString = std::string;
#endif

// True the first time it is asked about `folder` in this process: leftovers
// of killed runs are looked for once per folder, before the first output.
bool FirstOutputIn(const NativePathString& folder);

// The paths of the temporary files being written, for removal when the
// process is interrupted. A signal or console handler may read them at any
// moment: entries come and go atomically and reading takes no lock.
//
// Creating a file races the handler: a thread that has noted a name is about
// to create it. So a creator announces itself (BeginCreating) before noting
// the name and leaves (EndCreating) once the file exists or has failed; the
// handler first shuts the door (no BeginCreating succeeds after it), then
// waits for the creators inside, then removes every noted file.
template <typename Char>
class PendingTemporaries {
  public:
    using Slot = std::atomic<const Char*>;

    // False once an interruption has come: the caller must create nothing
    // (the process is about to end).
    bool BeginCreating() {
        ++creating_;
        if (interrupted_.load()) {
            --creating_;
            return false;
        }
        return true;
    }
    void EndCreating() { --creating_; }

    // For the handler: shuts the door on new files, waits for the files
    // being created, then calls `remove` with every noted path. False, with
    // nothing done, when another handler got here first.
    template <typename Remove>
    bool RemoveAllOnce(Remove remove) {
        if (interrupted_.exchange(true)) {
            return false;
        }
        while (creating_.load() != 0) {
        }
        RemoveAll(remove);
        return true;
    }

    // True when `path` is one of this process's files being written.
    bool Holds(std::basic_string_view<Char> path) const {
        for (const Slot& slot : slots_) {
            const Char* noted = slot.load();
            if (noted != nullptr && path == noted) {
                return true;
            }
        }
        return false;
    }

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
    std::atomic<int> creating_{0};
    std::atomic<bool> interrupted_{false};
};

}  // namespace morla::file_io
