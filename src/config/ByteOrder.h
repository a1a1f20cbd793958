#pragma once
// Little-endian fields for byte layouts (files, packets, records): the value is
// stored as explicit bytes, so a struct of these has no padding and the same
// image on every host.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kz {

template <typename T>
inline T LoadLe(const std::uint8_t* p) {
  static_assert(std::is_integral_v<T>);
  std::make_unsigned_t<T> v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    v |=
        static_cast<std::make_unsigned_t<T>>(static_cast<std::make_unsigned_t<T>>(p[i]) << (8 * i));
  return static_cast<T>(v);
}

template <typename T>
inline void StoreLe(std::uint8_t* p, T value) {
  static_assert(std::is_integral_v<T>);
  auto v = static_cast<std::make_unsigned_t<T>>(value);
  for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

template <typename T>
struct Le {
  std::uint8_t b[sizeof(T)];
  operator T() const { return LoadLe<T>(b); }
  Le& operator=(T v) {
    StoreLe<T>(b, v);
    return *this;
  }
};
static_assert(sizeof(Le<std::int32_t>) == 4 && alignof(Le<std::int32_t>) == 1);

using LeI32 = Le<std::int32_t>;
using LeU32 = Le<std::uint32_t>;
using LeU16 = Le<std::uint16_t>;

}  // namespace kz
