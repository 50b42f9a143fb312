// Character searches in names over the system's ANSI code page.
#pragma once

#include <cstddef>
#include <string_view>

namespace pageout::services {

// Whether byte opens a double-byte character in the system's ANSI code page, so that the byte
// after it is a trail byte that must never be taken for a backslash, slash, colon or dot. On Win32
// the platform tells this by the lead-byte ranges of the ANSI code page (GetCPInfo for CP_ACP, as
// IsDBCSLeadByte reads them); the ANSI code pages this program runs under are single-byte ones, so
// no byte leads and every search steps one byte at a time.
constexpr bool IsLeadByte(unsigned char) { return false; }

// The index of the first character of text that is one of chars, stepping over double-byte
// characters; npos when there is none.
std::size_t FindFirstOf(std::string_view text, std::string_view chars);

// The index of the last such character; npos when there is none.
std::size_t FindLastOf(std::string_view text, std::string_view chars);

}  // namespace pageout::services
