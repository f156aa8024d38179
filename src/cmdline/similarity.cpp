#include "cmdline/similarity.hpp"

#include <algorithm>
#include <vector>

#include "base/text.hpp"

namespace kiv::cmdline {
namespace {

// Code points of valid UTF-8 (anything else was made valid before).
std::vector<char32_t> code_points(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    Utf8Step step = decode_utf8_step(s.substr(i));
    out.push_back(step.cp);
    i += step.length;
  }
  return out;
}

}  // namespace

double jaro_similarity(std::string_view a_text, std::string_view b_text) {
  std::vector<char32_t> a = code_points(a_text);
  std::vector<char32_t> b = code_points(b_text);
  if (a.empty() && b.empty()) return 1.0;
  if (a.empty() || b.empty()) return 0.0;

  std::size_t window = std::max(a.size(), b.size()) / 2;
  window = window > 0 ? window - 1 : 0;
  std::vector<bool> a_matched(a.size()), b_matched(b.size());
  std::size_t matches = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::size_t lo = i > window ? i - window : 0;
    std::size_t hi = std::min(b.size(), i + window + 1);
    for (std::size_t j = lo; j < hi; ++j) {
      if (!b_matched[j] && a[i] == b[j]) {
        a_matched[i] = b_matched[j] = true;
        ++matches;
        break;
      }
    }
  }
  if (matches == 0) return 0.0;

  std::size_t transpositions = 0;
  std::size_t j = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!a_matched[i]) continue;
    while (!b_matched[j]) ++j;
    if (a[i] != b[j]) ++transpositions;
    ++j;
  }
  transpositions /= 2;

  auto m = static_cast<double>(matches);
  return ((m / static_cast<double>(a.size()) + m / static_cast<double>(b.size())) +
          static_cast<double>(matches - transpositions) / m) /
         3.0;
}

std::optional<std::string> most_similar(std::string_view word, std::span<const std::string_view> candidates) {
  std::optional<std::string_view> best;
  double best_score = 0.0;
  for (std::string_view candidate : candidates) {
    double score = jaro_similarity(word, candidate);
    // ">=" so that the later of equal scores wins.
    if (score > 0.7 && (!best || score >= best_score)) {
      best = candidate;
      best_score = score;
    }
  }
  if (!best) return std::nullopt;
  return std::string(*best);
}

}  // namespace kiv::cmdline
