// The decoder list.
#include "decode/decoder.h"

#include <array>
#include <atomic>
#include <iterator>

#include "decode/block_scan.h"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(_M_X64))
#define MORLA_X86_KERNELS 1
#include "decode/x86/avx512_scan.h"
#endif

namespace morla {
namespace {

bool Always() {
    return true;
}

// A decoder and the kernel its walks use (null: the scalar walk).
struct Implementation {
    Decoder decoder;
    BlockScanner scanner;
};

// Best first; which kernels are listed, and why: docs/performance.md ("The decoders").
constexpr Implementation kImplementations[] = {
#ifdef MORLA_X86_KERNELS
    {{"avx512", "64-byte block scanner, AVX-512 F, BW, VBMI and VBMI2", Avx512Runs}, ScanAvx512},
#endif
    {{"scalar", "one command at a time, any processor", Always}, nullptr},
};
constexpr std::size_t kCount = std::size(kImplementations);

constexpr std::array<Decoder, kCount> kDecoders = [] {
    std::array<Decoder, kCount> decoders{};
    for (std::size_t i = 0; i < kCount; ++i) {
        decoders[i] = kImplementations[i].decoder;
    }
    return decoders;
}();

// The index of the decoder in use; -1 until the first use picks the best.
std::atomic<int> chosen{-1};

int Chosen() {
    int index = chosen.load(std::memory_order_relaxed);
    if (index < 0) {
        int best = 0;
        while (!kDecoders[best].runs()) {
            ++best;  // the last, scalar, always runs
        }
        int unset = -1;
        index = chosen.compare_exchange_strong(unset, best) ? best : unset;
    }
    return index;
}

}  // namespace

std::span<const Decoder> Decoders() {
    return kDecoders;
}

const Decoder* FindDecoder(std::string_view name) {
    for (const Decoder& decoder : kDecoders) {
        if (name == decoder.name) {
            return &decoder;
        }
    }
    return nullptr;
}

std::string DecoderNames() {
    std::string names;
    for (std::size_t i = 0; i < kCount; ++i) {
        names += i == 0 ? "" : i + 1 == kCount ? " or " : ", ";
        names += kDecoders[i].name;
    }
    return names;
}

const Decoder& ActiveDecoder() {
    return kDecoders[Chosen()];
}

bool UseDecoder(const Decoder& decoder) {
    const auto index = &decoder - kDecoders.data();
    if (index < 0 || index >= static_cast<std::ptrdiff_t>(kCount) || !decoder.runs()) {
        return false;
    }
    chosen.store(static_cast<int>(index));
    return true;
}

BlockScanner ActiveBlockScanner() {
    return kImplementations[Chosen()].scanner;
}

}  // namespace morla
