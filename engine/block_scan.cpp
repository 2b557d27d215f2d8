#include "block_scan.h"

#include <atomic>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(_M_X64))
#define MORLA_X86_SCANNERS 1
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's own intrinsics fill unused lanes from a variable it then calls
// uninitialized (_mm512_castsi512_si256 and others)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
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

#ifdef MORLA_X86_SCANNERS

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

// ---- AVX-512 (VBMI, VBMI2): 64-byte blocks, one permute per composition ----

#define MORLA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,popcnt")))

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

// ---- AVX2: 32-byte blocks as two 16-byte halves ----
//
// The byte shuffle of AVX2 looks up 16-entry tables, one per 16-byte half of
// a vector. So each half of a block is composed on its own (16 commands on is
// enough to leave 16 bytes), and the walk enters the second half where it
// leaves the first.

#define MORLA_AVX2 __attribute__((target("avx2,bmi,popcnt")))

constexpr unsigned kHalf = 16;

// table[index] for indices below 16 in each half, the index itself from 16
// on (where a walk stays once it has left the half).
MORLA_AVX2 inline __m256i Compose16(__m256i table, __m256i index) {
    return _mm256_blendv_epi8(_mm256_shuffle_epi8(table, index), index,
                              _mm256_cmpgt_epi8(index, _mm256_set1_epi8(kHalf - 1)));
}

// All ones in the bytes below `bound` (at least 1).
MORLA_AVX2 inline __m256i Below(__m256i bytes, __m256i boundLess1) {
    return _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, boundLess1), bytes);
}

// 0xFF at index 32 only: 32 bytes loaded from 32 - i have it at byte i.
alignas(64) constexpr std::array<std::uint8_t, 64> kOneByte = [] {
    std::array<std::uint8_t, 64> bytes{};
    bytes[32] = 0xFF;
    return bytes;
}();

// For every 8-bit mask, the byte shuffle that packs the bytes its bits pick
// into the low bytes, in order.
alignas(64) constexpr std::array<std::array<std::uint8_t, 8>, 256> kPackShuffles = [] {
    std::array<std::array<std::uint8_t, 8>, 256> shuffles{};
    for (int mask = 0; mask < 256; ++mask) {
        int packed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if ((mask >> bit) & 1) {
                shuffles[mask][packed++] = static_cast<std::uint8_t>(bit);
            }
        }
        while (packed < 8) {
            shuffles[mask][packed++] = 0x80;  // a zero byte
        }
    }
    return shuffles;
}();

// Stores at `found` + `count` the offsets of the 16 bytes of `at` that the
// bits of `picked` (16 bits) pick, plus `offset`, in order, widened to 16
// bits; may store up to 8 entries beyond them.
MORLA_AVX2 inline void StorePicked(__m128i at, unsigned picked, std::uint16_t offset,
                                   std::uint16_t* found, std::size_t& count) {
    const unsigned low = picked & 0xFF;
    const unsigned high = picked >> 8;
    const __m128i shuffle = _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[low].data())),
        _mm_add_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackShuffles[high].data())),
                     _mm_set1_epi8(8)));
    const __m128i packed = _mm_shuffle_epi8(at, shuffle);
    const __m128i add = _mm_set1_epi16(static_cast<short>(offset));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(found + count),
                     _mm_add_epi16(_mm_cvtepu8_epi16(packed), add));
    count += static_cast<std::size_t>(__builtin_popcount(low));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(found + count),
                     _mm_add_epi16(_mm_cvtepu8_epi16(_mm_srli_si128(packed, 8)), add));
    count += static_cast<std::size_t>(__builtin_popcount(high));
}

MORLA_AVX2 BlockScan ScanAvx2(const std::uint8_t* bytes, std::size_t pos, std::size_t stop,
                              std::uint8_t commandBound, std::uint16_t* found) {
    alignas(32) static constexpr std::array<std::uint8_t, 32> kHalfIota = [] {
        std::array<std::uint8_t, 32> iota{};
        for (unsigned i = 0; i < 32; ++i) {
            iota[i] = static_cast<std::uint8_t>(i % kHalf);
        }
        return iota;
    }();
    const __m256i iota = _mm256_load_si256(reinterpret_cast<const __m256i*>(kHalfIota.data()));
    // where each half starts in the block
    const __m256i halfStart = _mm256_set_m128i(_mm_set1_epi8(kHalf), _mm_setzero_si128());
    const __m256i boundLess1 = _mm256_set1_epi8(static_cast<char>(commandBound - 1));
    const __m256i byHigh =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kByHighLanes.data()));
    const __m256i byLow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kByLowLanes.data()));
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    // lanes n of each half's chain of starts that take a 2^k step: bit k of n
    __m256i stepLanes[4];
    for (int k = 0; k < 4; ++k) {
        const __m256i bit = _mm256_set1_epi8(static_cast<char>(1 << k));
        stepLanes[k] = _mm256_cmpeq_epi8(_mm256_and_si256(iota, bit), bit);
    }

    std::size_t base = pos;
    unsigned entry = 0;  // below 16
    std::size_t count = 0;
    bool handOver = false;
    for (std::size_t block = 0; block < 2 * kScanBlocksPerCall && base + 64 <= stop; ++block) {
        const __m256i bytes0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + base));
        // each half's next 16 bytes
        const __m256i after0 =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + base + kHalf));
        // as in ScanAvx512: the command after each byte taken as a start,
        // from its half's start
        const __m256i writes = Below(bytes0, boundLess1);
        const __m256i wait1 = _mm256_cmpeq_epi8(bytes0, _mm256_set1_epi8(-1));
        __m256i next =
            _mm256_add_epi8(iota, _mm256_or_si256(_mm256_and_si256(writes, _mm256_set1_epi8(3)),
                                                  _mm256_and_si256(wait1, _mm256_set1_epi8(1))));
        const auto waitN = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_cmpeq_epi8(bytes0, _mm256_set1_epi8(-2))));
        if (waitN != 0) {
            // a tick count is looked for in the block and the next one
            const __m256i bytes1 =
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + base + 32));
            const std::uint64_t clear = ~(
                static_cast<std::uint64_t>(
                    static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes0))) |
                static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes1)))
                    << 32);
            for (std::uint32_t waits = waitN; waits != 0; waits &= waits - 1) {
                const unsigned i = CountTrailingZeros(waits);
                unsigned after = AfterLongWait(i, clear, 0);
                if (after != kUnknown) {
                    after -= i & kHalf;  // from the half's start
                }
                const __m256i only =
                    _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kOneByte.data() + 32 - i));
                next = _mm256_blendv_epi8(next, _mm256_set1_epi8(static_cast<char>(after)), only);
            }
        }
        // 2, 4, 8 and 16 commands on, in each half
        const __m256i next2 = Compose16(next, next);
        const __m256i next4 = Compose16(next2, next2);
        const __m256i next8 = Compose16(next4, next4);
        const __m256i next16 = Compose16(next8, next8);
        alignas(32) std::uint8_t far[32];
        _mm256_store_si256(reinterpret_cast<__m256i*>(far), next16);
        const unsigned leave0 = far[entry];  // from the first half's start
        if (leave0 < kHalf || leave0 == kUnknown) {
            handOver = true;
            break;
        }
        unsigned entry1 = kHalf;  // none: a long wait runs over the second half
        unsigned leave = leave0;  // from the block's start
        if (leave0 < 2 * kHalf) {
            entry1 = leave0 - kHalf;
            const unsigned leave1 = far[kHalf + entry1];
            if (leave1 < kHalf || leave1 == kUnknown) {
                handOver = true;
                break;
            }
            leave = kHalf + leave1;
        }
        __m256i starts = _mm256_set_m128i(_mm_set1_epi8(static_cast<char>(entry1)),
                                          _mm_set1_epi8(static_cast<char>(entry)));
        starts = _mm256_blendv_epi8(starts, Compose16(next, starts), stepLanes[0]);
        starts = _mm256_blendv_epi8(starts, Compose16(next2, starts), stepLanes[1]);
        starts = _mm256_blendv_epi8(starts, Compose16(next4, starts), stepLanes[2]);
        starts = _mm256_blendv_epi8(starts, Compose16(next8, starts), stepLanes[3]);
        const __m256i inHalf = _mm256_cmpgt_epi8(_mm256_set1_epi8(kHalf), starts);
        const __m256i command = _mm256_shuffle_epi8(bytes0, starts);
        // a write starting at a half's last byte has its register after it
        const __m256i regAt = _mm256_add_epi8(starts, _mm256_set1_epi8(1));
        const __m256i reg = _mm256_blendv_epi8(_mm256_shuffle_epi8(bytes0, regAt),
                                               _mm256_shuffle_epi8(after0, _mm256_setzero_si256()),
                                               _mm256_cmpeq_epi8(regAt, _mm256_set1_epi8(kHalf)));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(reg, 4), nibble);
        const __m256i low = _mm256_and_si256(reg, nibble);
        const __m256i levelBits =
            _mm256_and_si256(_mm256_shuffle_epi8(byHigh, high), _mm256_shuffle_epi8(byLow, low));
        const __m256i level =
            _mm256_andnot_si256(_mm256_cmpeq_epi8(levelBits, _mm256_setzero_si256()),
                                _mm256_and_si256(inHalf, Below(command, boundLess1)));
        const auto levelWrites = static_cast<std::uint32_t>(_mm256_movemask_epi8(level));
        if (levelWrites != 0) {
            // their starts packed in order, widened and stored 8 at a time
            const auto offset = static_cast<std::uint16_t>(base - pos);
            const __m256i at = _mm256_add_epi8(starts, halfStart);
            StorePicked(_mm256_castsi256_si128(at), levelWrites & 0xFFFF, offset, found, count);
            StorePicked(_mm256_extracti128_si256(at, 1), levelWrites >> 16, offset, found, count);
        }
        // a long wait may carry the walk past the next block
        if (leave - 2 * kHalf < kHalf) {
            base += 2 * kHalf;
            entry = leave - 2 * kHalf;
        } else {
            base += leave;
            entry = 0;
        }
    }
    return {base + entry, count, handOver};
}

#endif  // MORLA_X86_SCANNERS

std::atomic<int> chosen{-1};  // the Decoder in use; -1 until the first use

// AVX-512 when the processor has it. Not AVX2: with 16-entry lookups and
// two halves per block its scan takes several times the instructions per
// byte, and measured slower than the scalar walk on song streams (faster only
// on dense streams of register writes); it is there for MORLA_DECODER=avx2.
Decoder BestDecoder() {
    return DecoderRuns(Decoder::Avx512) ? Decoder::Avx512 : Decoder::Scalar;
}

}  // namespace

const char* DecoderName(Decoder decoder) {
    switch (decoder) {
        case Decoder::Avx512:
            return "avx512";
        case Decoder::Avx2:
            return "avx2";
        case Decoder::Scalar:
            break;
    }
    return "scalar";
}

bool DecoderRuns(Decoder decoder) {
    switch (decoder) {
        case Decoder::Scalar:
            return true;
#ifdef MORLA_X86_SCANNERS
        case Decoder::Avx2:
            // checks the system's support (XGETBV) as well as the processor's
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
        case Decoder::Avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
                   __builtin_cpu_supports("bmi");
#else
        case Decoder::Avx2:
        case Decoder::Avx512:
            return false;
#endif
    }
    return false;
}

Decoder ActiveDecoder() {
    int decoder = chosen.load(std::memory_order_relaxed);
    if (decoder < 0) {
        decoder = static_cast<int>(BestDecoder());
        int unset = -1;
        if (!chosen.compare_exchange_strong(unset, decoder)) {
            decoder = unset;  // another thread chose first
        }
    }
    return static_cast<Decoder>(decoder);
}

bool UseDecoder(Decoder decoder) {
    if (!DecoderRuns(decoder)) {
        return false;
    }
    chosen.store(static_cast<int>(decoder));
    return true;
}

BlockScanner ActiveBlockScanner() {
    switch (ActiveDecoder()) {
#ifdef MORLA_X86_SCANNERS
        case Decoder::Avx512:
            return ScanAvx512;
        case Decoder::Avx2:
            return ScanAvx2;
#endif
        default:
            return nullptr;
    }
}

}  // namespace morla
