// RC4 stream cipher. Jet masks part of the header page with it and, when an encoding key is set, encrypts every
// other page with a per-page key.
#pragma once

#include <cstdint>
#include <span>

namespace jet {

class Rc4 {
 public:
  explicit Rc4(std::span<const uint8_t> key);
  // XORs the keystream into data (encryption and decryption are the same operation).
  void apply(std::span<uint8_t> data);

 private:
  uint8_t state_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// Decrypts (or encrypts) a page of a database with an encoding key: the key is the encoding key XOR the page number.
void cryptPage(std::span<uint8_t> page, uint32_t encodingKey, uint32_t pageNumber);

}  // namespace jet
