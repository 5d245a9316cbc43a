// A 64-bit digest of a stream of bytes, for recording what the compactor wrote and recognising it when it is read
// back. Not a cryptographic hash: it guards against faults, not against an adversary.
//
// Bytes are taken eight at a time, into four lanes in turn. Each step is a bijection of a lane for a fixed word and of
// the word for a fixed lane, and the lanes are combined by the same steps, so two streams of the same length that
// differ in a single word always give different digests; other differences go unnoticed with a chance of about
// 2^-64. The digest of a stream does not depend on how it was cut into pieces: the copy hands over a long value at
// once, the read-back one row of its chain at a time.
#pragma once

#include <cstdint>
#include <cstring>

#include "jet/format/bytes.h"

namespace jet {

class Digest {
 public:
  void add(Bytes bytes) {
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    length_ += n;
    if (pending_ > 0) {
      const size_t take = n < kBlock - pending_ ? n : kBlock - pending_;
      std::memcpy(buffer_ + pending_, p, take);
      pending_ += take;
      p += take;
      n -= take;
      if (pending_ < kBlock) return;
      mixBlock(buffer_);
      pending_ = 0;
    }
    for (; n >= kBlock; n -= kBlock, p += kBlock) mixBlock(p);
    if (n > 0) std::memcpy(buffer_, p, n);
    pending_ = n;
  }
  void addNumber(uint64_t v) {
    uint8_t b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    if (pending_ % 8 != 0) {
      add(Bytes(b, 8));
      return;
    }
    // The word fills a lane of the block whole: what add() does, without its general paths (the copy and the
    // read-back add several numbers for every row).
    length_ += 8;
    std::memcpy(buffer_ + pending_, b, 8);
    pending_ += 8;
    if (pending_ == kBlock) {
      mixBlock(buffer_);
      pending_ = 0;
    }
  }
  // The digest of everything added so far, its length included (the stream may go on afterwards).
  uint64_t value() const {
    uint64_t lane[kLanes];
    std::memcpy(lane, lane_, sizeof lane);
    if (pending_ > 0) {
      uint8_t last[kBlock] = {};
      std::memcpy(last, buffer_, pending_);
      for (size_t i = 0; i < kLanes; ++i) lane[i] = step(lane[i], le64(last + 8 * i));
    }
    uint64_t h = length_;
    for (uint64_t l : lane) h = step(h, l);
    // Final avalanche (the finaliser of MurmurHash3), so that the low bits depend on every bit too.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
  }
  uint64_t length() const { return length_; }

 private:
  // Four independent lanes, one word each per block, so that the multiplications of a block overlap.
  static constexpr size_t kLanes = 4;
  static constexpr size_t kBlock = 8 * kLanes;

  static uint64_t step(uint64_t h, uint64_t word) {
    h ^= word * 0x9e3779b97f4a7c15ULL;
    h = (h << 31) | (h >> 33);
    return h * 0x87c37b91114253d5ULL;
  }
  void mixBlock(const uint8_t* p) {
    for (size_t i = 0; i < kLanes; ++i) lane_[i] = step(lane_[i], le64(p + 8 * i));
  }

  uint64_t lane_[kLanes] = {0x6a09e667f3bcc909ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL};
  uint64_t length_ = 0;
  uint8_t buffer_[kBlock] = {};
  size_t pending_ = 0;
};

}  // namespace jet
