// A 128-bit fingerprint of a framebuffer line, so that a presenter can tell
// whether a line still holds what it sent before by reading the line alone,
// without a copy of everything sent beside it.
//
// Each 16-byte block of the line goes into one of eight AES states through
// an AES round (the block is the round key); the states are then folded the
// same way into one that starts from the line's length. Every step is a
// one-to-one function of the state, so two lines that differ in a single
// 16-byte block (any change of up to four neighbouring 32-bit pixels in one
// block) always differ in their fingerprints; changes spread over several
// blocks would have to cancel out exactly through the rounds between them.
// With the processor's AES instructions where it has them, else in plain
// code; both give the same fingerprint.
#pragma once
#include <cstddef>
#include <cstdint>

struct LineFingerprint {
    uint64_t lo, hi;
    bool operator==(const LineFingerprint &) const = default;
};

[[nodiscard]] LineFingerprint rk_hLineFingerprint(const uint8_t *line, std::size_t size);
// The plain version: the same results without the AES instructions.
[[nodiscard]] LineFingerprint rk_hLineFingerprintPlain(const uint8_t *line, std::size_t size);
