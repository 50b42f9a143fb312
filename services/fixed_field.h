// Fixed-width text fields: texts of fixed length, blank-padded on the right.
//
// Positions count from 1 in the program's words; here a field is a span of chars. The blank is
// always the single character 0x20; no other character counts as one.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace pageout::services {

constexpr char kBlank = ' ';

// Copies as much of text as fits into field and fills the rest of field with blanks.
void AssignField(std::span<char> field, std::string_view text);

// Whether a and b are equal once the shorter is extended with blanks.
bool FieldsEqual(std::string_view a, std::string_view b);

// Whether field equals the empty text (every character a blank, or no characters).
bool IsBlank(std::string_view field);

// The position of the last character that is not a blank; 0 when all are blanks.
std::size_t TrimmedLength(std::string_view field);

inline std::string_view View(std::span<const char> field) { return {field.data(), field.size()}; }

}  // namespace pageout::services
