// Growing the vectors that hold something for every row or page of a large table: by an eighth at a time instead of
// doubling, so that what is held stays close to what is used. The extra copies cost little next to the work that
// fills the vector.
#pragma once

#include <vector>

namespace jet {

template <class T>
void makeRoomForOne(std::vector<T>& v) {
  if (v.size() == v.capacity()) v.reserve(v.size() + v.size() / 8 + 64);
}

}  // namespace jet
