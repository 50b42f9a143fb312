#include "services/console.h"

#include <cstdlib>
#include <cstring>

#include "diagnostics/catalogue.h"
#include "diagnostics/report.h"
#include "platform/os.h"
#include "services/fixed_field.h"

namespace pageout::services {
namespace {

namespace msg = diagnostics::msg;
using platform::FileKind;
using platform::Handle;

struct Channel {
  int number;
  const char* device_name;
  platform::StdStream stream;
  bool connected = false;
  Handle handle = platform::kInvalidHandle;
  bool is_standard_handle = false;  // the handle came from the standard handle, not the device
  std::uint32_t error = 0;          // the code of the last failed call
  char* buffer = nullptr;
  std::size_t capacity = 0;
  // Output: the current record.
  std::size_t position = 1;  // current column
  std::size_t length = 0;    // highest column written
  bool hold = false;
  // Input: bytes already received beyond the last line's LF, kept at the start of the buffer.
  std::size_t ahead = 0;
};

Channel output_channel{kOutputChannelNumber, kOutputDeviceName, platform::StdStream::kOutput};
Channel input_channel{kInputChannelNumber, kInputDeviceName, platform::StdStream::kInput};

void* DefaultResize(void* block, std::size_t size) { return std::realloc(block, size); }
BufferResize buffer_resize = &DefaultResize;

[[noreturn]] void Fail(platform::Os& os, Channel& channel, unsigned number) {
  const diagnostics::ChannelFailure failure{channel.number, channel.device_name, channel.error};
  channel.error = 0;
  diagnostics::ReportChannelDiagnostic(os, number, failure);
}

void Connect(platform::Os& os, Channel& channel) {
  if (channel.connected) return;
  channel.handle = os.StdHandle(channel.stream);
  channel.is_standard_handle = channel.handle != platform::kInvalidHandle;
  if (!channel.is_standard_handle) {
    std::uint32_t error = 0;
    channel.handle = os.OpenConsoleDevice(channel.stream, &error);
    if (channel.handle == platform::kInvalidHandle) {
      channel.error = error;
      Fail(os, channel, msg::kOpenFailure);
    }
  }
  channel.connected = true;
}

// Makes the buffer hold at least needed bytes, doubling its size; failure raises number.
void Reserve(platform::Os& os, Channel& channel, std::size_t needed, unsigned number) {
  if (needed <= channel.capacity) return;
  std::size_t size = channel.capacity > 0 ? channel.capacity : kInitialRecordBufferSize;
  while (size < needed) size *= 2;
  void* grown = buffer_resize(channel.buffer, size);
  if (grown == nullptr) Fail(os, channel, number);
  channel.buffer = static_cast<char*>(grown);
  channel.capacity = size;
}

void WriteBlock(platform::Os& os, Channel& channel, const char* bytes, std::size_t size) {
  // One call takes the whole block; a call that reports less is continued with the rest.
  while (size > 0) {
    const platform::IoResult result = os.Write(channel.handle, bytes, size);
    if (!result.ok || result.bytes == 0) {
      channel.error = result.ok ? 0 : result.error;
      Fail(os, channel, msg::kWriteError);
    }
    const std::size_t written = result.bytes < size ? result.bytes : size;
    bytes += written;
    size -= written;
  }
}

void StartRecord(Channel& channel) {
  channel.position = 1;
  channel.length = 0;
  channel.hold = false;
}

void WriteCurrentRecord(platform::Os& os, Channel& channel) {
  Reserve(os, channel, channel.length + 2, msg::kOutputOverflow);
  std::size_t size = channel.length;
  if (!channel.hold) {
    channel.buffer[size++] = '\r';
    channel.buffer[size++] = '\n';
  }
  WriteBlock(os, channel, channel.buffer, size);
  StartRecord(channel);
}

void PutLiteral(platform::Os& os, Channel& channel, std::string_view text) {
  const std::size_t first = channel.position - 1;  // buffer index of the current column
  const std::size_t end = first + text.size();
  Reserve(os, channel, end + 2, msg::kOutputOverflow);
  if (first > channel.length)
    std::memset(channel.buffer + channel.length, ' ', first - channel.length);
  if (!text.empty()) std::memcpy(channel.buffer + first, text.data(), text.size());
  channel.position += text.size();
  if (end > channel.length) channel.length = end;
}

struct Line {
  std::size_t length;    // bytes of the line, its LF and the CR before it excluded
  std::size_t consumed;  // bytes to drop from the buffer once the line has been used
};

Line MakeLine(const Channel& channel, std::size_t line_end, std::size_t consumed) {
  std::size_t length = line_end;
  if (length > 0 && channel.buffer[length - 1] == '\r') --length;
  return {length, consumed};
}

[[noreturn]] void FailRead(platform::Os& os, Channel& channel, std::uint32_t error) {
  if (error == platform::err::kOperationAborted) {
    // A console read aborted by Ctrl+C: the control handler runs on its own thread, and giving up
    // the time slice once lets its diagnostic and exit come first.
    os.YieldTimeSlice();
  }
  channel.error = error;
  const bool end_of_input = error == platform::err::kHandleEof ||
                            (error == platform::err::kBrokenPipe && channel.is_standard_handle);
  Fail(os, channel, end_of_input ? msg::kEndOfFile : msg::kReadError);
}

Line ReadNextLine(platform::Os& os, Channel& channel) {
  std::size_t filled = channel.ahead;
  if (filled > 0) {
    if (const void* lf = std::memchr(channel.buffer, '\n', filled)) {
      const auto line_end = static_cast<std::size_t>(static_cast<const char*>(lf) - channel.buffer);
      return MakeLine(channel, line_end, line_end + 1);
    }
  }

  // The kind is asked anew at every read: the standard input may be handed over between reads.
  const FileKind kind = os.KindOf(channel.handle);
  for (;;) {
    if (filled == channel.capacity) Reserve(os, channel, filled + 1, msg::kNoFileBuffer);
    // A console delivers one typed line per call, a disk file as much as asked; a pipe is read one
    // byte per call so that nothing beyond the line's LF is taken from it.
    const std::size_t request = kind == FileKind::kPipe ? 1 : channel.capacity - filled;
    const platform::IoResult result = os.Read(channel.handle, channel.buffer + filled, request);

    if (!result.ok) {
      // A writer that closes its pipe in the middle of a line leaves that line complete: it is
      // used like a last line without LF, and the end of input comes with the next read.
      if (result.error == platform::err::kBrokenPipe && kind == FileKind::kPipe && filled > 0) {
        channel.ahead = 0;
        return MakeLine(channel, filled, filled);
      }
      channel.ahead = 0;
      FailRead(os, channel, result.error);
    }
    if (result.bytes == 0) {
      // End of input after part of a line: the part is the last line, as for a short read. Only
      // a read that finds no byte of a line at all is the end of input.
      channel.ahead = 0;
      if (filled > 0) return MakeLine(channel, filled, filled);
      channel.error = 0;
      Fail(os, channel, msg::kEndOfFile);
    }

    const std::size_t start = filled;
    filled += result.bytes < request ? result.bytes : request;
    if (const void* lf = std::memchr(channel.buffer + start, '\n', filled - start)) {
      const auto line_end = static_cast<std::size_t>(static_cast<const char*>(lf) - channel.buffer);
      const std::size_t beyond = filled - (line_end + 1);
      // A disk file is put back to just after the line, so that the next read, or a child that
      // inherits the handle, goes on from the next line. Should the move fail, the bytes stay
      // in the read-ahead and are not lost.
      if (kind == FileKind::kDisk && beyond > 0 && os.SeekBack(channel.handle, beyond)) {
        filled = line_end + 1;
      }
      channel.ahead = filled;
      return MakeLine(channel, line_end, line_end + 1);
    }
    if (result.bytes < request) {
      // A short read without an LF ends the line: the last line of a file that lacks its LF.
      channel.ahead = 0;
      return MakeLine(channel, filled, filled);
    }
  }
}

}  // namespace

void WriteListLine(platform::Os& os, std::string_view item) {
  Channel& channel = output_channel;
  Connect(os, channel);
  constexpr std::size_t kItemColumns = kListLineWidth - 1;
  do {
    const std::string_view part = item.substr(0, kItemColumns);
    item.remove_prefix(part.size());
    StartRecord(channel);
    PutLiteral(os, channel, " ");
    PutLiteral(os, channel, part);
    WriteCurrentRecord(os, channel);
  } while (!item.empty());
}

void WriteRecords(platform::Os& os, RecordTemplate elements) {
  Channel& channel = output_channel;
  Connect(os, channel);
  StartRecord(channel);
  for (const Element& element : elements) {
    switch (element.kind) {
      case ElementKind::kBegin:
      case ElementKind::kTextField:
        break;
      case ElementKind::kLiteral:
        PutLiteral(os, channel, element.text);
        break;
      case ElementKind::kColumn:
        channel.position = element.count > 0 ? static_cast<std::size_t>(element.count) : 1;
        break;
      case ElementKind::kRightMove:
        if (element.count > 0) channel.position += static_cast<std::size_t>(element.count);
        break;
      case ElementKind::kRecordBreak:
        WriteCurrentRecord(os, channel);
        break;
      case ElementKind::kHoldMark:
        channel.hold = true;
        break;
      case ElementKind::kEnd:
        WriteCurrentRecord(os, channel);
        return;
    }
  }
}

void ReadField(platform::Os& os, RecordTemplate elements, std::span<char> field) {
  Channel& channel = input_channel;
  Connect(os, channel);
  const Line line = ReadNextLine(os, channel);
  for (const Element& element : elements) {
    if (element.kind == ElementKind::kTextField) {
      AssignField(field, std::string_view(channel.buffer, line.length));
    }
    if (element.kind == ElementKind::kEnd) break;
  }
  // What is left of the line is dropped; bytes beyond its LF stay for the next read.
  const std::size_t rest = channel.ahead > line.consumed ? channel.ahead - line.consumed : 0;
  if (rest > 0) std::memmove(channel.buffer, channel.buffer + line.consumed, rest);
  channel.ahead = rest;
}

void CloseChannels() {
  for (Channel* channel : {&output_channel, &input_channel}) {
    std::free(channel->buffer);
    *channel = Channel{channel->number, channel->device_name, channel->stream};
  }
}

void SetBufferResize(BufferResize resize) {
  buffer_resize = resize != nullptr ? resize : &DefaultResize;
}

}  // namespace pageout::services
