#include "services/arguments.h"

#include <limits>

#include "services/fixed_field.h"

namespace pageout::services {

std::int32_t FetchArgument(const std::vector<std::string>& arguments, std::size_t number,
                           std::span<char> field) {
  if (number >= arguments.size()) {
    AssignField(field, {});
    return -1;
  }
  const std::string& argument = arguments[number];
  AssignField(field, argument);
  constexpr auto kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
  return static_cast<std::int32_t>(argument.size() < kMax ? argument.size() : kMax);
}

}  // namespace pageout::services
