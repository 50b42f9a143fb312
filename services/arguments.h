// The argument fetch: one command-line argument into a fixed-width field.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pageout::services {

// Fills field with the first field.size() characters of arguments[number] (blank-padded) and
// returns that argument's full length, saturated at INT32_MAX; when there is no such argument,
// blanks field and returns -1.
std::int32_t FetchArgument(const std::vector<std::string>& arguments, std::size_t number,
                           std::span<char> field);

}  // namespace pageout::services
