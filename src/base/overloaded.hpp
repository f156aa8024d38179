// A visitor made of lambdas, one per alternative: std::visit then fails to
// compile when an alternative has none.
#pragma once

namespace kiv {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace kiv
