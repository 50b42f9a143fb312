#include "services/code_page.h"

namespace pageout::services {
namespace {

// Calls visit(index) for the index of every character of text that is one of chars, in order.
template <typename Visit>
void ForEachMatch(std::string_view text, std::string_view chars, Visit visit) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsLeadByte(static_cast<unsigned char>(text[i]))) {
      ++i;  // the trail byte belongs to the same character
      continue;
    }
    if (chars.find(text[i]) != std::string_view::npos && !visit(i)) return;
  }
}

}  // namespace

std::size_t FindFirstOf(std::string_view text, std::string_view chars) {
  std::size_t found = std::string_view::npos;
  ForEachMatch(text, chars, [&](std::size_t i) {
    found = i;
    return false;
  });
  return found;
}

std::size_t FindLastOf(std::string_view text, std::string_view chars) {
  std::size_t found = std::string_view::npos;
  ForEachMatch(text, chars, [&](std::size_t i) {
    found = i;
    return true;
  });
  return found;
}

}  // namespace pageout::services
