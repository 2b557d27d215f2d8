// The AVX-512 block scanner (F, BW, VBMI, VBMI2): 64-byte blocks, one byte
// permute per composition. How a block is scanned: decode/block_scan.h.
#include "decode/x86/avx512_scan.h"

#include <immintrin.h>

#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's own intrinsics fill unused lanes from a variable it then calls
// uninitialized (_mm512_castsi512_si256 and others)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace morla {
namespace {

// kLevelRegisters as two 16-entry tables, for byte lookups by nibble: a
// register is a level register when the table entries of its high and its low
// nibble share a bit. Every distinct row of the register map (high nibble)
// gets a bit of its own.
struct NibbleTables {
    std::array<std::uint8_t, 16> byHigh{};
    std::array<std::uint8_t, 16> byLow{};
};

constexpr NibbleTables kLevelNibbles = [] {
    NibbleTables tables;
    std::array<std::uint16_t, 8> rows{};  // the low nibbles of each bit's row
    int bits = 0;
    for (int high = 0; high < 16; ++high) {
        std::uint16_t row = 0;
        for (int low = 0; low < 16; ++low) {
            row |= static_cast<std::uint16_t>(kLevelRegisters[high * 16 + low]) << low;
        }
        if (row == 0) {
            continue;
        }
        int bit = 0;
        while (bit < bits && rows[bit] != row) {
            ++bit;
        }
        if (bit == bits) {
            rows[bits++] = row;  // more than 8 distinct rows would not fit
        }
        tables.byHigh[high] |= static_cast<std::uint8_t>(1 << bit);
    }
    for (int bit = 0; bit < bits; ++bit) {
        for (int low = 0; low < 16; ++low) {
            if ((rows[bit] >> low) & 1) {
                tables.byLow[low] |= static_cast<std::uint8_t>(1 << bit);
            }
        }
    }
    return tables;
}();

constexpr bool NibbleTablesMatch() {
    for (int reg = 0; reg < 256; ++reg) {
        const bool level = (kLevelNibbles.byHigh[reg >> 4] & kLevelNibbles.byLow[reg & 15]) != 0;
        if (level != kLevelRegisters[reg]) {
            return false;
        }
    }
    return true;
}
static_assert(NibbleTablesMatch(), "the level registers do not fit the nibble tables");

// A nibble table repeated in every 16-byte lane of a vector.
constexpr std::array<std::uint8_t, 64> InEveryLane(const std::array<std::uint8_t, 16>& table) {
    std::array<std::uint8_t, 64> lanes{};
    for (int i = 0; i < 64; ++i) {
        lanes[i] = table[i % 16];
    }
    return lanes;
}
alignas(64) constexpr std::array<std::uint8_t, 64> kByHighLanes = InEveryLane(kLevelNibbles.byHigh);
alignas(64) constexpr std::array<std::uint8_t, 64> kByLowLanes = InEveryLane(kLevelNibbles.byLow);

// A next command the scanner cannot place: after a long wait whose tick count
// runs on past the bytes it has loaded. A block whose walk meets it is handed
// over.
constexpr std::uint8_t kUnknown = 127;

inline unsigned CountTrailingZeros(std::uint64_t bits) {
    return static_cast<unsigned>(__builtin_ctzll(bits));
}

// The command after a long wait at `i` of a 128-byte window whose bytes with
// bit 7 clear are `clearLow` (bytes 0-63) and `clearHigh` (bytes 64-127).
inline std::uint8_t AfterLongWait(unsigned i, std::uint64_t clearLow, std::uint64_t clearHigh) {
    // the tick count's last byte: the first at i + 1 or later with bit 7 clear
    const unsigned from = i + 1;  // 1-64
    std::uint64_t low = from < 64 ? clearLow >> from : 0;
    std::uint64_t high = clearHigh;
    unsigned last;
    if (from < 64 && low != 0) {
        last = from + CountTrailingZeros(low);
    } else {
        const unsigned skip = from < 64 ? 0 : from - 64;
        high >>= skip;
        if (high == 0) {
            return kUnknown;
        }
        last = 64 + skip + CountTrailingZeros(high);
    }
    return static_cast<std::uint8_t>(last + 1 < kUnknown ? last + 1 : kUnknown);
}

#define MORLA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,popcnt")))

}  // namespace

MORLA_AVX512 BlockScan ScanAvx512(const std::uint8_t* bytes, std::size_t pos, std::size_t stop,
                                  std::uint8_t commandBound, std::uint16_t* found) {
    alignas(64) static constexpr std::array<std::uint8_t, 64> kIota = [] {
        std::array<std::uint8_t, 64> iota{};
        for (int i = 0; i < 64; ++i) {
            iota[i] = static_cast<std::uint8_t>(i);
        }
        return iota;
    }();
    const __m512i iota = _mm512_loadu_si512(kIota.data());
    // positions of the next block: where a walk stays once it has left
    const __m512i beyond = _mm512_add_epi8(iota, _mm512_set1_epi8(64));
    const __m512i bound = _mm512_set1_epi8(static_cast<char>(commandBound));
    const __m512i byHigh = _mm512_loadu_si512(kByHighLanes.data());
    const __m512i byLow = _mm512_loadu_si512(kByLowLanes.data());
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    // lanes n of the chain of starts that take a 2^k step: bit k of n set
    constexpr __mmask64 kStepLanes[6] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull,
                                         0xF0F0F0F0F0F0F0F0ull, 0xFF00FF00FF00FF00ull,
                                         0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

    std::size_t base = pos;  // the block
    unsigned entry = 0;      // its first command, from the block's start
    std::size_t count = 0;
    bool handOver = false;
    for (std::size_t block = 0; block < kScanBlocksPerCall && base + 2 * kScanBlock <= stop;
         ++block) {
        const __m512i bytes0 = _mm512_loadu_si512(bytes + base);
        const __m512i bytes1 = _mm512_loadu_si512(bytes + base + kScanBlock);
        // the command after each byte, taken as a command start: a write 3
        // bytes on, a one-tick wait 1; an end command or an undeclared device
        // stays where it is, so a walk reaching it never leaves the block
        const __mmask64 writes = _mm512_cmplt_epu8_mask(bytes0, bound);
        const __mmask64 wait1 = _mm512_cmpeq_epi8_mask(bytes0, _mm512_set1_epi8(-1));
        const __mmask64 waitN = _mm512_cmpeq_epi8_mask(bytes0, _mm512_set1_epi8(-2));
        __m512i next = _mm512_mask_add_epi8(iota, writes, iota, _mm512_set1_epi8(3));
        next = _mm512_mask_add_epi8(next, wait1, iota, _mm512_set1_epi8(1));
        if (waitN != 0) {
            // set in the vector one by one: a store and a reload of the
            // whole vector would wait for the stores to drain
            const std::uint64_t clearLow = ~_mm512_movepi8_mask(bytes0);
            const std::uint64_t clearHigh = ~_mm512_movepi8_mask(bytes1);
            for (std::uint64_t waits = waitN; waits != 0; waits &= waits - 1) {
                const unsigned i = CountTrailingZeros(waits);
                next =
                    _mm512_mask_set1_epi8(next, waits & (0 - waits),
                                          static_cast<char>(AfterLongWait(i, clearLow, clearHigh)));
            }
        }
        // 2, 4, ... 64 commands on (written out: a loop over an array of
        // vectors may be left as one, through memory)
        const __m512i next2 = _mm512_permutex2var_epi8(next, next, beyond);
        const __m512i next4 = _mm512_permutex2var_epi8(next2, next2, beyond);
        const __m512i next8 = _mm512_permutex2var_epi8(next4, next4, beyond);
        const __m512i next16 = _mm512_permutex2var_epi8(next8, next8, beyond);
        const __m512i next32 = _mm512_permutex2var_epi8(next16, next16, beyond);
        const __m512i next64 = _mm512_permutex2var_epi8(next32, next32, beyond);
        alignas(64) std::uint8_t far[64];
        _mm512_store_si512(far, next64);
        const unsigned leave = far[entry];
        if (leave < kScanBlock || leave == kUnknown) {
            handOver = true;  // stuck on an end command or a bad device, or a wait too long
            break;
        }
        // the n-th command start of the block, for every n
        __m512i starts = _mm512_set1_epi8(static_cast<char>(entry));
        starts = _mm512_mask2_permutex2var_epi8(next, starts, kStepLanes[0], beyond);
        starts = _mm512_mask2_permutex2var_epi8(next2, starts, kStepLanes[1], beyond);
        starts = _mm512_mask2_permutex2var_epi8(next4, starts, kStepLanes[2], beyond);
        starts = _mm512_mask2_permutex2var_epi8(next8, starts, kStepLanes[3], beyond);
        starts = _mm512_mask2_permutex2var_epi8(next16, starts, kStepLanes[4], beyond);
        starts = _mm512_mask2_permutex2var_epi8(next32, starts, kStepLanes[5], beyond);
        const __mmask64 inBlock = _mm512_cmplt_epu8_mask(starts, _mm512_set1_epi8(64));
        const __m512i command = _mm512_permutex2var_epi8(bytes0, starts, bytes1);
        const __m512i reg =
            _mm512_permutex2var_epi8(bytes0, _mm512_add_epi8(starts, _mm512_set1_epi8(1)), bytes1);
        const __m512i high = _mm512_and_si512(_mm512_srli_epi16(reg, 4), nibble);
        const __m512i low = _mm512_and_si512(reg, nibble);
        const __mmask64 level = _mm512_test_epi8_mask(_mm512_shuffle_epi8(byHigh, high),
                                                      _mm512_shuffle_epi8(byLow, low));
        const __mmask64 levelWrites = inBlock & level & _mm512_cmplt_epu8_mask(command, bound);
        // their starts packed in order, widened and stored 32 at a time
        const __m512i packed = _mm512_maskz_compress_epi8(levelWrites, starts);
        const __m512i at = _mm512_add_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(packed)),
                                            _mm512_set1_epi16(static_cast<short>(base - pos)));
        _mm512_storeu_si512(found + count, at);
        count += static_cast<std::size_t>(__builtin_popcountll(levelWrites));
        base += kScanBlock;
        entry = leave - kScanBlock;
    }
    return {base + entry, count, handOver};
}

bool Avx512Runs() {
    // checks the system's support (XGETBV) as well as the processor's
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi");
}

}  // namespace morla
