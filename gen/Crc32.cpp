#include "gen/Crc32.h"

#include <cstring>

// The checksum is computed eight bytes at a time (slicing by eight) and,
// over long ranges, on three lanes at once whose results are then joined;
// both give exactly the bytewise table's result, only faster.

namespace {

const uint32_t kPolynomial = 0xEDB88320u;

// tables[0] is the classic byte-at-a-time table; tables[k] advances an
// entry of tables[0] by k further zero bytes, so that the eight bytes of
// one step can be looked up independently of each other.
struct CrcTables {
  uint32_t entries[8][256];
};

constexpr CrcTables MakeTables() {
  CrcTables tables{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ kPolynomial : crc >> 1;
    tables.entries[0][byte] = crc;
  }
  for (int slice = 1; slice < 8; ++slice)
    for (int byte = 0; byte < 256; ++byte) {
      uint32_t previous = tables.entries[slice - 1][byte];
      tables.entries[slice][byte] = (previous >> 8) ^ tables.entries[0][previous & 0xFF];
    }
  return tables;
}

constexpr CrcTables kTables = MakeTables();

// Product of two polynomials modulo the CRC polynomial, in the reflected
// order of the checksum (bit 31 holds x^0).
constexpr uint32_t MultiplyModulo(uint32_t a, uint32_t b) {
  uint32_t product = 0;
  for (uint32_t bit = 1u << 31; bit; bit >>= 1) {
    if (a & bit) product ^= b;
    b = b & 1 ? (b >> 1) ^ kPolynomial : b >> 1;
  }
  return product;
}

// x^(8 * count): running a checksum over `count` zero bytes multiplies it
// by this.
constexpr uint32_t ZeroBytesFactor(uint32_t count) {
  uint32_t result = 1u << 31, square = 1u << 23;
  for (; count; count >>= 1) {
    if (count & 1) result = MultiplyModulo(result, square);
    square = MultiplyModulo(square, square);
  }
  return result;
}

// Ranges of at least three lanes run as three independent chains, which
// the processor overlaps; one lane's length is a trade between that gain
// and the cost of joining the lanes.
const uint32_t kLane = 4096;
constexpr uint32_t kAfterOneLane = ZeroBytesFactor(kLane);
constexpr uint32_t kAfterTwoLanes = ZeroBytesFactor(2 * kLane);

inline uint32_t Word(const unsigned char* at) {
  uint32_t word;
  memcpy(&word, at, sizeof word);
  return word;
}

// Eight bytes on from `crc`; the words are little-endian.
inline uint32_t Step8(uint32_t crc, const unsigned char* at) {
  const uint32_t (*t)[256] = kTables.entries;
  uint32_t low = Word(at) ^ crc;
  uint32_t high = Word(at + 4);
  return t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
         t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
         t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
}

}  // namespace

uint32_t Crc32(const void* first, const void* end, uint32_t start) {
  const unsigned char* at = static_cast<const unsigned char*>(first);
  const unsigned char* stop = static_cast<const unsigned char*>(end);
  uint32_t crc = start;
  if (!at || stop <= at) return crc;
  // The checksum of a run from c is that of the run from 0, plus c carried
  // over the run's length in zero bytes: lanes two and three start from 0
  // and the lanes are joined by carrying each over what follows it.
  while (static_cast<uint32_t>(stop - at) >= 3 * kLane) {
    uint32_t head = crc, middle = 0, last = 0;
    for (const unsigned char* laneEnd = at + kLane; at < laneEnd; at += 8) {
      head = Step8(head, at);
      middle = Step8(middle, at + kLane);
      last = Step8(last, at + 2 * kLane);
    }
    crc = MultiplyModulo(head, kAfterTwoLanes) ^ MultiplyModulo(middle, kAfterOneLane) ^ last;
    at += 2 * kLane;
  }
  for (; stop - at >= 8; at += 8) crc = Step8(crc, at);
  for (; at < stop; ++at) crc = (crc >> 8) ^ kTables.entries[0][(crc ^ *at) & 0xFF];
  return crc;
}
