#include "gfx/core/fingerprint.h"

#include <array>
#include <cstring>
#include <immintrin.h>

static constexpr int LANES = 8, BLOCK = 16, CHUNK = LANES * BLOCK;

// The states' starting values and the key of the folding rounds: digits of
// pi, so that no lane starts like another.
static constexpr uint64_t START[2] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull},
                          FOLD[2] = {0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull};

// ---- plain AES round -----------------------------------------------------------

static constexpr uint8_t rotl8(uint8_t x, int k)
{
    return static_cast<uint8_t>((x << k) | (x >> (8 - k)));
}

// The AES substitution table: the multiplicative inverse in GF(2^8) (0 for
// 0) through the affine map. p walks all non-zero elements by powers of 3,
// q by powers of its inverse, so q = 1/p at each step.
static constexpr std::array<uint8_t, 256> make_sbox()
{
    std::array<uint8_t, 256> s{};
    uint8_t p = 1, q = 1;
    do {
        p = static_cast<uint8_t>(p ^ (p << 1) ^ ((p & 0x80) ? 0x1B : 0));
        q = static_cast<uint8_t>(q ^ (q << 1));
        q = static_cast<uint8_t>(q ^ (q << 2));
        q = static_cast<uint8_t>(q ^ (q << 4));
        if (q & 0x80)
            q ^= 0x09;
        s[p] = static_cast<uint8_t>(q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4) ^ 0x63);
    } while (p != 1);
    s[0] = 0x63;
    return s;
}
static constexpr std::array<uint8_t, 256> SBOX = make_sbox();
static_assert(SBOX[0x01] == 0x7C && SBOX[0x53] == 0xED && SBOX[0xFF] == 0x16);

static uint8_t times2(uint8_t b)
{
    return static_cast<uint8_t>((b << 1) ^ ((b >> 7) * 0x1B));
}

// One AES encryption round as the processor's AESENC does it: ShiftRows,
// SubBytes, MixColumns, then the key. Byte 4c + r is row r of column c.
static void round_plain(uint8_t state[16], const uint8_t key[16])
{
    uint8_t t[16];
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            t[4 * c + r] = SBOX[state[4 * ((c + r) & 3) + r]];
    for (int c = 0; c < 4; ++c) {
        const uint8_t *a = t + 4 * c;
        const uint8_t all = a[0] ^ a[1] ^ a[2] ^ a[3];
        for (int r = 0; r < 4; ++r)
            state[4 * c + r] = static_cast<uint8_t>(a[r] ^ all ^ times2(a[r] ^ a[(r + 1) & 3]) ^ key[4 * c + r]);
    }
}

static void put128(uint8_t out[16], uint64_t lo, uint64_t hi)
{
    std::memcpy(out, &lo, 8);
    std::memcpy(out + 8, &hi, 8);
}

LineFingerprint rk_hLineFingerprintPlain(const uint8_t *line, std::size_t size)
{
    uint8_t lane[LANES][16];
    for (int j = 0; j < LANES; ++j)
        put128(lane[j], START[0] + static_cast<uint64_t>(j), START[1]);
    uint8_t tail[CHUNK];
    for (std::size_t at = 0; at < size; at += CHUNK) {
        const uint8_t *chunk = line + at;
        if (size - at < CHUNK) {
            std::memset(tail, 0, sizeof tail);
            std::memcpy(tail, chunk, size - at);
            chunk = tail;
        }
        for (int j = 0; j < LANES; ++j)
            round_plain(lane[j], chunk + BLOCK * j);
    }
    uint8_t h[16], fold[16];
    put128(h, size, 0);
    put128(fold, FOLD[0], FOLD[1]);
    for (int j = 0; j < LANES; ++j) {
        for (int i = 0; i < 16; ++i)
            h[i] ^= lane[j][i];
        round_plain(h, fold);
    }
    LineFingerprint f;
    std::memcpy(&f.lo, h, 8);
    std::memcpy(&f.hi, h + 8, 8);
    return f;
}

// ---- with the AES instructions ---------------------------------------------------

[[gnu::target("aes,sse4.1")]] static LineFingerprint fingerprint_aesni(const uint8_t *line, std::size_t size)
{
    __m128i lane[LANES];
    for (int j = 0; j < LANES; ++j)
        lane[j] = _mm_set_epi64x(static_cast<long long>(START[1]), static_cast<long long>(START[0] + j));
    std::size_t at = 0;
    for (; at + CHUNK <= size; at += CHUNK)
        for (int j = 0; j < LANES; ++j)
            lane[j] = _mm_aesenc_si128(lane[j], _mm_loadu_si128(reinterpret_cast<const __m128i *>(line + at) + j));
    if (at < size) {
        alignas(16) uint8_t tail[CHUNK] = {};
        std::memcpy(tail, line + at, size - at);
        for (int j = 0; j < LANES; ++j)
            lane[j] = _mm_aesenc_si128(lane[j], _mm_load_si128(reinterpret_cast<const __m128i *>(tail) + j));
    }
    __m128i h = _mm_set_epi64x(0, static_cast<long long>(size));
    const __m128i fold = _mm_set_epi64x(static_cast<long long>(FOLD[1]), static_cast<long long>(FOLD[0]));
    for (int j = 0; j < LANES; ++j)
        h = _mm_aesenc_si128(_mm_xor_si128(h, lane[j]), fold);
    return {static_cast<uint64_t>(_mm_cvtsi128_si64(h)), static_cast<uint64_t>(_mm_extract_epi64(h, 1))};
}

LineFingerprint rk_hLineFingerprint(const uint8_t *line, std::size_t size)
{
    static const bool has_aes = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    return has_aes ? fingerprint_aesni(line, size) : rk_hLineFingerprintPlain(line, size);
}
