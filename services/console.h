// Console records: list lines and record templates on the console output channel, field reads
// from the console input channel.
//
// Each channel connects on its first use: the process's standard handle, or the console device
// when that handle is missing. Every record goes out in one write call as soon as it is finished;
// nothing waits in a buffer. No operation returns a failure: every failure raises a severe channel
// diagnostic (channel -1 "CONOUT$" or -4 "CONIN$"), which ends the process.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "services/record_template.h"

namespace pageout::platform {
class Os;
}

namespace pageout::services {

constexpr int kOutputChannelNumber = -1;
constexpr const char* kOutputDeviceName = "CONOUT$";
constexpr int kInputChannelNumber = -4;
constexpr const char* kInputDeviceName = "CONIN$";

// A list line holds at most this many columns, its leading blank included.
constexpr std::size_t kListLineWidth = 80;
// The first size of each channel's record buffer; the buffers double as lines need.
constexpr std::size_t kInitialRecordBufferSize = 256;

// Writes item as list lines: a blank, the item's bytes unchanged, CR LF, one write call per line;
// an item that does not fit the 79 columns after the blank continues on further list lines.
void WriteListLine(platform::Os& os, std::string_view item);

// Carries out the elements of an output template and writes the records they describe.
void WriteRecords(platform::Os& os, RecordTemplate elements);

// Reads the next input line and, through the input template's text field, fills field with its
// first field.size() bytes, blank-padded. The rest of the line is dropped.
void ReadField(platform::Os& os, RecordTemplate elements, std::span<char> field);

// Returns both channels to their unconnected state and releases their buffers. Writes nothing and
// leaves the standard handles open.
void CloseChannels();

// How record buffers get and grow their memory (the contract of realloc: nullptr when refused, the
// old block then unchanged; blocks are released with free). Passing nullptr restores the default.
using BufferResize = void* (*)(void* block, std::size_t size);
void SetBufferResize(BufferResize resize);

}  // namespace pageout::services
