// lookup2 over signed bytes with arithmetic right shifts; see url_hash.h for why this variant.
#include "engine/url_hash.h"

namespace quarry {
namespace {

constexpr std::uint32_t kGoldenRatio = 0x9E3779B9u;

// Arithmetic shift of the value seen as signed 32-bit (C++20 defines it as sign-propagating).
inline std::uint32_t ShiftRightSigned(std::uint32_t value, int bits) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value) >> bits);
}

// A byte as a sign-extended 32-bit value, so 0xE4 contributes 0xFFFFFFE4 before shifting.
inline std::uint32_t SignedByte(const char* data, std::size_t i) {
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(data[i])));
}

// The mixing rounds keep three steps a line, so each line reads as one round.
// clang-format off
inline void Mix(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c) {
  a -= b; a -= c; a ^= ShiftRightSigned(c, 13);
  b -= c; b -= a; b ^= (a << 8);
  c -= a; c -= b; c ^= ShiftRightSigned(b, 13);
  a -= b; a -= c; a ^= ShiftRightSigned(c, 12);
  b -= c; b -= a; b ^= (a << 16);
  c -= a; c -= b; c ^= ShiftRightSigned(b, 5);
  a -= b; a -= c; a ^= ShiftRightSigned(c, 3);
  b -= c; b -= a; b ^= (a << 10);
  c -= a; c -= b; c ^= ShiftRightSigned(b, 15);
}
// clang-format on

// Four bytes starting at `at`, least significant first, each sign-extended before the shift.
inline std::uint32_t Word(const char* data, std::size_t at) {
  return SignedByte(data, at) + (SignedByte(data, at + 1) << 8) + (SignedByte(data, at + 2) << 16) +
         (SignedByte(data, at + 3) << 24);
}

}  // namespace

std::uint32_t Lookup2Hash(const char* data, std::size_t length, std::uint32_t initial) {
  std::uint32_t a = kGoldenRatio;
  std::uint32_t b = kGoldenRatio;
  std::uint32_t c = initial;
  std::size_t at = 0;
  std::size_t left = length;
  while (left >= 12) {
    a += Word(data, at);
    b += Word(data, at + 4);
    c += Word(data, at + 8);
    Mix(a, b, c);
    at += 12;
    left -= 12;
  }
  c += static_cast<std::uint32_t>(length);
  // The last 0..11 bytes; the lowest byte of c is taken by the length, so c starts at byte 9.
  switch (left) {
    case 11: c += SignedByte(data, at + 10) << 24; [[fallthrough]];
    case 10: c += SignedByte(data, at + 9) << 16; [[fallthrough]];
    case 9: c += SignedByte(data, at + 8) << 8; [[fallthrough]];
    case 8: b += SignedByte(data, at + 7) << 24; [[fallthrough]];
    case 7: b += SignedByte(data, at + 6) << 16; [[fallthrough]];
    case 6: b += SignedByte(data, at + 5) << 8; [[fallthrough]];
    case 5: b += SignedByte(data, at + 4); [[fallthrough]];
    case 4: a += SignedByte(data, at + 3) << 24; [[fallthrough]];
    case 3: a += SignedByte(data, at + 2) << 16; [[fallthrough]];
    case 2: a += SignedByte(data, at + 1) << 8; [[fallthrough]];
    case 1: a += SignedByte(data, at); break;
    default: break;
  }
  Mix(a, b, c);
  return c;
}

}  // namespace quarry
