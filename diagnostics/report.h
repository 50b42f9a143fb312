// The diagnostic writer: numbered diagnostics on standard error and the severe end.
//
// A diagnostic is one line, "<severity prefix> (<number>): <text>" followed by CR LF, composed in a
// 16384-byte diagnostic text of its own; a severe one is followed in the same text by the traceback
// report and ends the process with its message number as exit status. Standard error is written as
// a text stream: every LF goes out as CR LF, so the line arrives ending CR CR LF.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace pageout::platform {
class Os;
struct FaultContext;
}  // namespace pageout::platform

namespace pageout::diagnostics {

// The size of a diagnostic text, its terminating NUL included.
constexpr std::size_t kDiagnosticTextSize = 16384;

// Where diagnostic texts get their memory. obtain returns nullptr when the memory is refused.
struct TextMemory {
  char* (*obtain)(std::size_t size);
  void (*release)(char* block);
};

// The program's own memory (the free store, without throwing).
const TextMemory& DefaultTextMemory();

// Reports diagnostic number; the values that follow fill its text's placeholders by the printf
// rules, in order. Severities 0 to 3 return to the caller; severity 4, and a number the catalogue
// lacks, end the process with the number as exit status and do not return.
void ReportDiagnostic(platform::Os& os, unsigned number, ...);

// ReportDiagnostic with the memory to compose in and the fault being reported (nullptr when the
// report is not about a fault; the traceback then starts at the report itself).
void ReportDiagnosticWith(platform::Os& os, const TextMemory& memory,
                          const platform::FaultContext* fault, unsigned number,
                          std::va_list values);

// What a failing console channel hands to its diagnostic.
struct ChannelFailure {
  int channel_number;       // -1 for the console output channel, -4 for the console input channel
  const char* device_name;  // "CONOUT$" or "CONIN$"
  std::uint32_t platform_error;  // the Win32 error code of the failed call, 0 when there is none
};

// The entry of every console-record failure: the platform error line when the failure carries a
// code, then the diagnostic with "unit %d" and "file %s" filled from the channel. Channel
// diagnostics are all severe, so this ends the process.
[[noreturn]] void ReportChannelDiagnostic(platform::Os& os, unsigned number,
                                          const ChannelFailure& channel);

// The entry of the main guard: the diagnostic for a caught exception (157 to 171 by the low 16
// bits of its code, else 172 with the full code), with a traceback from the faulting instruction.
[[noreturn]] void ReportException(platform::Os& os, const platform::FaultContext& fault);
[[noreturn]] void ReportExceptionWith(platform::Os& os, const TextMemory& memory,
                                      const platform::FaultContext& fault);

// "apperr: " and the system's text for code, with the line end that text has; when the system has
// no text, "apperr: FormatMessage failed for sysmem message number <code>" without a line end.
void WritePlatformErrorLine(platform::Os& os, std::uint32_t code);

// Writes bytes to standard error as a text stream (each LF as CR LF). Failures are ignored.
void WriteStandardErrorText(platform::Os& os, const char* text, std::size_t size);

// Ends the process after a severe diagnostic, with the message number as exit status.
[[noreturn]] void SevereEnd(platform::Os& os, unsigned number);

}  // namespace pageout::diagnostics
