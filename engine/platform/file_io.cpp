// The part of the file layer that is the same on every platform.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <random>
#include <set>

#include "base/text.h"
#include "platform/file_io_internal.h"

namespace morla::file_io {
namespace {

std::array<std::atomic<int>, static_cast<std::size_t>(FileStep::FlushFileSystem) + 1>
    injectedFaults{};

}  // namespace

bool FirstOutputIn(const NativePathString& folder) {
    static std::mutex mutex;
    static std::set<NativePathString> seen;
    const std::lock_guard hold(mutex);
    return seen.insert(folder).second;
}

bool TakeInjectedFault(FileStep step) {
    std::atomic<int>& count = injectedFaults[static_cast<std::size_t>(step)];
    int pending = count.load();
    while (pending > 0) {
        if (count.compare_exchange_weak(pending, pending - 1)) {
            return true;
        }
    }
    return false;
}

std::string TemporaryName() {
    static constexpr char kLetters[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    thread_local std::minstd_rand generator(static_cast<std::uint_fast32_t>(
        std::random_device{}() ^ std::chrono::steady_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> pick(0, static_cast<int>(sizeof kLetters) - 2);
    std::string name = ".morla-";
    for (int i = 0; i < 6; ++i) {
        name += kLetters[pick(generator)];
    }
    return name + ".tmp";
}

}  // namespace morla::file_io

namespace morla {

std::u16string PathInFolder(std::u16string_view folder, std::u16string_view name) {
#if defined(_WIN32)
    constexpr char16_t kSeparator = u'\\';
#else
    constexpr char16_t kSeparator = u'/';
#endif
    std::u16string path(folder);
    if (!path.empty() && !FileNamePart(path).empty()) {  // not ending in a separator
        path += kSeparator;
    }
    path += name;
    return path;
}

void ArmFileFault(FileStep step) {
    ++file_io::injectedFaults[static_cast<std::size_t>(step)];
}

}  // namespace morla
