#include "services/fixed_field.h"

#include <algorithm>

namespace pageout::services {

void AssignField(std::span<char> field, std::string_view text) {
  const std::size_t copied = std::min(field.size(), text.size());
  std::copy_n(text.data(), copied, field.data());
  std::fill(field.begin() + static_cast<std::ptrdiff_t>(copied), field.end(), kBlank);
}

bool FieldsEqual(std::string_view a, std::string_view b) {
  if (a.size() < b.size()) std::swap(a, b);
  return a.substr(0, b.size()) == b && IsBlank(a.substr(b.size()));
}

bool IsBlank(std::string_view field) { return TrimmedLength(field) == 0; }

std::size_t TrimmedLength(std::string_view field) {
  std::size_t length = field.size();
  while (length > 0 && field[length - 1] == kBlank) --length;
  return length;
}

}  // namespace pageout::services
