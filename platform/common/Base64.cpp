// SPDX-License-Identifier: Apache-2.0
#include "platform/common/Base64.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace hil {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable()
{
    std::array<std::uint8_t, 256> table{};
    table.fill(kInvalid);
    for (std::uint8_t i = 0; i < 64; ++i)
        table[static_cast<std::uint8_t>(kAlphabet[i])] = i;
    return table;
}

constexpr auto kDecode = makeDecodeTable();

/// The two characters of every 12-bit value: three bytes encode with two lookups instead of four.
constexpr std::array<std::array<char, 2>, 4096> makePairTable()
{
    std::array<std::array<char, 2>, 4096> table{};
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = {kAlphabet[i >> 6], kAlphabet[i & 0x3F]};
    return table;
}

constexpr auto kPairs = makePairTable();

#if defined(__x86_64__)
/// For each group of three input bytes a, b, c: the indexes of b a c b.
alignas(64) constexpr auto kSpreadIndexes = [] {
    std::array<std::uint8_t, 64> indexes{};
    for (std::size_t group = 0; group < 16; ++group) {
        const auto first = static_cast<std::uint8_t>(3 * group);
        indexes[4 * group] = first + 1;
        indexes[4 * group + 1] = first;
        indexes[4 * group + 2] = first + 2;
        indexes[4 * group + 3] = first + 1;
    }
    return indexes;
}();

/// Encodes 24 bytes a step into 32 characters with AVX2, while 28 bytes remain (each step reads
/// 16 bytes at its start and 16 at its middle); returns the bytes it took. The sextets are moved
/// into place with two multiplies, and each is turned into its character by adding an offset
/// that a shuffle picks by the sextet's range (A-Z, a-z, 0-9, '+', '/').
__attribute__((target("avx2"))) std::size_t encodeAvx2(const std::uint8_t* src, std::size_t size, char* dst)
{
    // Per 128-bit lane, each group of three bytes a, b, c becomes the 32-bit word b a c b.
    const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10, //
                                            1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
    const __m256i offsets = _mm256_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                             '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, //
                                             'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                             '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
    std::size_t i = 0;
    for (; i + 28 <= size; i += 24, dst += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 12));
        const __m256i words = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1), spread);
        // The first and third sextets of each word shifted down, the second and fourth up, each into its byte.
        const __m256i oddSextets = _mm256_mulhi_epu16(_mm256_and_si256(words, _mm256_set1_epi32(0x0fc0fc00)),
                                                      _mm256_set1_epi32(0x04000040));
        const __m256i evenSextets = _mm256_mullo_epi16(_mm256_and_si256(words, _mm256_set1_epi32(0x003f03f0)),
                                                       _mm256_set1_epi32(0x01000010));
        const __m256i sextets = _mm256_or_si256(oddSextets, evenSextets);
        // 0-25 pick offset 13, 26-51 offset 0, 52-63 offsets 1-12.
        __m256i pick = _mm256_subs_epu8(sextets, _mm256_set1_epi8(51));
        pick = _mm256_or_si256(pick, _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_set1_epi8(26), sextets), _mm256_set1_epi8(13)));
        const __m256i characters = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, pick), sextets);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), characters);
    }
    return i;
}

/// Encodes 48 bytes a step into 64 characters with AVX-512 VBMI, while 64 bytes remain (each
/// step loads 64); returns the bytes it took. A byte permute spreads each group of three bytes a,
/// b, c into the 32-bit word b a c b, a multishift takes each sextet into a byte of its own, and a
/// second byte permute, which looks at the low six bits of each index, is the alphabet lookup.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t encodeAvx512(const std::uint8_t* src,
                                                                                 std::size_t size, char* dst)
{
    const __m512i spread = _mm512_load_si512(kSpreadIndexes.data());
    // The bit at which each sextet starts in its 64-bit pair of words: 10, 4, 22, 16 in the first.
    const __m512i sextetShifts = _mm512_set1_epi64(0x3036242a1016040aLL);
    const __m512i alphabet = _mm512_loadu_si512(kAlphabet);
    // The zero-masking forms with every lane on: GCC 12 warns of the plain forms' undefined
    // pass-through value.
    constexpr __mmask64 kEveryByte = ~__mmask64{0};
    std::size_t i = 0;
    for (; i + 64 <= size; i += 48, dst += 64) {
        const __m512i words = _mm512_maskz_permutexvar_epi8(kEveryByte, spread, _mm512_loadu_si512(src + i));
        const __m512i sextets = _mm512_maskz_multishift_epi64_epi8(kEveryByte, sextetShifts, words);
        _mm512_storeu_si512(dst, _mm512_maskz_permutexvar_epi8(kEveryByte, sextets, alphabet));
    }
    return i;
}
#endif

Base64Engine bestEngine()
{
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512bw"))
        return Base64Engine::Avx512;
    if (__builtin_cpu_supports("avx2"))
        return Base64Engine::Avx2;
#endif
    return Base64Engine::Table;
}

const Base64Engine kBestEngine = bestEngine();

} // namespace

void base64_encode_to(std::span<const std::uint8_t> bytes, char* dst)
{
    base64_encode_to(bytes, dst, kBestEngine);
}

void base64_encode_to(std::span<const std::uint8_t> bytes, char* dst, Base64Engine engine)
{
    engine = std::min(engine, kBestEngine);
    const auto putPair = [&dst](std::uint64_t index) {
        std::memcpy(dst, kPairs[index & 0xFFF].data(), 2);
        dst += 2;
    };
    std::size_t i = 0;
#if defined(__x86_64__)
    // The wide engines leave a tail, which the narrower ones finish.
    if (engine == Base64Engine::Avx512) {
        i = encodeAvx512(bytes.data(), bytes.size(), dst);
        dst += i / 3 * 4;
    }
    if (engine != Base64Engine::Table) {
        const std::size_t taken = encodeAvx2(bytes.data() + i, bytes.size() - i, dst);
        i += taken;
        dst += taken / 3 * 4;
    }
#endif
    // Six bytes a step, read as one big-endian word: four look-ups and four two-byte stores. The
    // word reads two bytes past the six, so this stops while eight remain.
    for (; i + 8 <= bytes.size(); i += 6) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, sizeof word);
        word = __builtin_bswap64(word);
        putPair(word >> 52);
        putPair(word >> 40);
        putPair(word >> 28);
        putPair(word >> 16);
    }
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t(bytes[i]) << 16) | (std::uint32_t(bytes[i + 1]) << 8) | bytes[i + 2];
        putPair(group >> 12);
        putPair(group);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest != 0) {
        std::uint32_t group = std::uint32_t(bytes[i]) << 16;
        if (rest == 2)
            group |= std::uint32_t(bytes[i + 1]) << 8;
        *dst++ = kAlphabet[(group >> 18) & 0x3F];
        *dst++ = kAlphabet[(group >> 12) & 0x3F];
        *dst++ = rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        *dst++ = '=';
    }
}

std::string base64_encode(std::span<const std::uint8_t> bytes)
{
    std::string text(base64_length(bytes.size()), '\0');
    base64_encode_to(bytes, text.data());
    return text;
}

std::string base64_json_string(std::span<const std::uint8_t> bytes)
{
    // The quotes at both ends; the text goes between them.
    std::string text(base64_length(bytes.size()) + 2, '"');
    base64_encode_to(bytes, text.data() + 1);
    return text;
}

bool base64_decode(std::string_view text, std::vector<std::uint8_t>& bytes)
{
    bytes.clear();
    if (text.size() % 4 != 0)
        return false;
    if (text.empty())
        return true;
    const std::size_t padding = text.back() != '=' ? 0 : (text[text.size() - 2] == '=' ? 2 : 1);
    bytes.resize(text.size() / 4 * 3 - padding);
    std::uint8_t* dst = bytes.data();
    const std::size_t fullGroups = text.size() / 4 - (padding != 0 ? 1 : 0);
    const auto* src = reinterpret_cast<const std::uint8_t*>(text.data());
    for (std::size_t g = 0; g < fullGroups; ++g, src += 4) {
        const std::uint8_t a = kDecode[src[0]], b = kDecode[src[1]], c = kDecode[src[2]], d = kDecode[src[3]];
        // Valid sextets are below 64, so one high bit in the union marks an invalid character.
        if (((a | b | c | d) & 0xC0) != 0) {
            bytes.clear();
            return false;
        }
        const std::uint32_t group = (std::uint32_t(a) << 18) | (std::uint32_t(b) << 12) | (std::uint32_t(c) << 6) | d;
        *dst++ = std::uint8_t(group >> 16);
        *dst++ = std::uint8_t(group >> 8);
        *dst++ = std::uint8_t(group);
    }
    if (padding == 0)
        return true;
    const std::uint8_t a = kDecode[src[0]], b = kDecode[src[1]];
    const std::uint8_t c = padding == 1 ? kDecode[src[2]] : 0;
    // The padded group must not hide stray bits, or two texts would decode to the same bytes.
    const bool valid = a != kInvalid && b != kInvalid && c != kInvalid &&
                       (padding == 2 ? (b & 0x0F) == 0 : (c & 0x03) == 0);
    if (!valid) {
        bytes.clear();
        return false;
    }
    const std::uint32_t group = (std::uint32_t(a) << 18) | (std::uint32_t(b) << 12) | (std::uint32_t(c) << 6);
    *dst++ = std::uint8_t(group >> 16);
    if (padding == 1)
        *dst = std::uint8_t(group >> 8);
    return true;
}

} // namespace hil
