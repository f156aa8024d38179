// The identity of an action type: 128 bits, fixed when kiv is built, the same
// in every process and different for every type.
#pragma once

#include <cstdint>
#include <source_location>
#include <string_view>

namespace kesu {

struct TypeId {
  std::uint64_t high = 0;
  std::uint64_t low = 0;

  friend constexpr bool operator==(const TypeId&, const TypeId&) = default;
};

namespace detail {

// FNV-1a over `text`, started from `basis`.
constexpr std::uint64_t fnv1a(std::string_view text, std::uint64_t basis) {
  std::uint64_t hash = basis;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// The compiler's name of this instantiation, which spells out `T` in full
// ("... [with T = kesu::Unbind]"), so it differs for every type.
template <class T>
consteval std::string_view qualified_signature() {
  return std::source_location::current().function_name();
}

}  // namespace detail

/// The identity of `T`: two independent 64-bit hashes of its full name.
template <class T>
consteval TypeId type_id_of() {
  constexpr std::string_view name = detail::qualified_signature<T>();
  return TypeId{detail::fnv1a(name, 0xcbf29ce484222325ULL), detail::fnv1a(name, 0x84222325cbf29ce4ULL)};
}

}  // namespace kesu
