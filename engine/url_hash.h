// The hash that places a seen key in the queue's 16,777,216-bit set.
//
// It is the 1996 lookup2 mix with the golden-ratio constant, in the variant that the queue's
// seen set has always used: each byte is read as a signed 8-bit value (so bytes 0x80..0xFF are
// sign-extended before they are shifted and summed), and every right shift of the mix is an
// arithmetic shift of a signed 32-bit value. The bit index keeps the low 24 bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarry {

// The full 32-bit hash of `length` bytes at `data`, starting from `initial`.
std::uint32_t Lookup2Hash(const char* data, std::size_t length, std::uint32_t initial = 0);

}  // namespace quarry
