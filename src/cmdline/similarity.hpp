// Similarity of words, for "a similar ... exists" tips.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace kiv::cmdline {

/// The Jaro similarity of `a` and `b` (valid UTF-8), computed on code
/// points: 1.0 for two empty words, 0.0 when exactly one is empty.
double jaro_similarity(std::string_view a, std::string_view b);

/// The candidate most similar to `word` among those whose similarity is
/// greater than 0.7; on a tie the later candidate wins. Nothing when no
/// candidate passes.
std::optional<std::string> most_similar(std::string_view word, std::span<const std::string_view> candidates);

}  // namespace kiv::cmdline
