// The message catalogue: the numbered diagnostics this program can raise.
#pragma once

#include <cstdint>

namespace pageout::diagnostics {

// Message numbers the program raises by name.
namespace msg {
constexpr unsigned kEndOfFile = 24;         // end of input on the console input channel
constexpr unsigned kOpenFailure = 30;       // a console device could not be opened
constexpr unsigned kWriteError = 38;        // a write on the console output channel failed
constexpr unsigned kReadError = 39;         // a read on the console input channel failed
constexpr unsigned kOutputOverflow = 66;    // the output record buffer cannot grow
constexpr unsigned kNoFileBuffer = 98;      // the input record buffer cannot grow
constexpr unsigned kAccessViolation = 157;  // first of the program exceptions 157 to 172
constexpr unsigned kOtherException = 172;   // an exception code the guard's table lacks
constexpr unsigned kControlEvent = 200;     // Ctrl+C, Ctrl+Break or the console closed
}  // namespace msg

// Severities 0 to 4; only kSevere ends the process.
enum class Severity : std::uint8_t { kPlain = 0, kInfo = 1, kWarning = 2, kError = 3, kSevere = 4 };

struct CatalogueEntry {
  std::uint16_t number;
  Severity severity;
  const char* text;  // a printf template; its placeholders are documented per entry
};

// The entry of number, or nullptr when the catalogue has none.
const CatalogueEntry* FindMessage(unsigned number);

// The text reported, with severity kSevere, for a number the catalogue lacks.
inline constexpr const char kMessageNotFound[] = "Message not found\n";

// The prefix that opens a diagnostic line of the given severity ("apperr: severe", ...).
const char* SeverityPrefix(Severity severity);

// The message number the main guard reports for an exception code: 157 to 171 by the low 16 bits
// of the code, 172 for every code the table lacks.
unsigned ExceptionMessageNumber(std::uint32_t exception_code);

}  // namespace pageout::diagnostics
