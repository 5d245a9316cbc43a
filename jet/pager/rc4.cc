#include "jet/pager/rc4.h"

#include <utility>

namespace jet {

Rc4::Rc4(std::span<const uint8_t> key) {
  for (int k = 0; k < 256; ++k) state_[k] = static_cast<uint8_t>(k);
  if (key.empty()) return;
  uint8_t j = 0;
  for (size_t k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + state_[k] + key[k % key.size()]);
    std::swap(state_[k], state_[j]);
  }
}

void Rc4::apply(std::span<uint8_t> data) {
  for (uint8_t& byte : data) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + state_[i_]);
    std::swap(state_[i_], state_[j_]);
    byte ^= state_[static_cast<uint8_t>(state_[i_] + state_[j_])];
  }
}

void cryptPage(std::span<uint8_t> page, uint32_t encodingKey, uint32_t pageNumber) {
  uint32_t k = encodingKey ^ pageNumber;
  const uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k >> 16),
                          static_cast<uint8_t>(k >> 24)};
  Rc4 rc4(key);
  rc4.apply(page);
}

}  // namespace jet
