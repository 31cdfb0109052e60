// Player names and crew party codes travel as short upper-case labels; this is the one
// filter every source of such a label (command line, text prompts) goes through.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::size_t max_name_length = 16;
inline constexpr std::size_t max_party_length = 12;

// Upper-cases a..z, keeps A..Z, 0..9 and '_', drops everything else, and stops once the
// result holds max_length characters. An empty result means "no label given".
std::string filter_label(std::string_view text, std::size_t max_length);

} // namespace kestrel
