// The file existence test: whether a file of a given name exists, asked of the file system only.
//
// Reserved device names of the device-name table (NUL, CON, ...) count as existing; directories do
// not. The test opens, creates and changes nothing, writes nothing and reports no diagnostic.
#pragma once

#include <cstdint>
#include <string_view>

namespace pageout::platform {
class Os;
}

namespace pageout::services {

struct Existence {
  std::int16_t status = 0;  // the existence status; every call completes, so it is always 0
  std::int32_t exists = 0;  // -1 (all bits set) when the file exists, 0 when not
};

// Only the first 256 characters of a name count.
constexpr std::size_t kMaxTestedName = 256;

// Tests the name held in text (a blank-padded field; leading and trailing blanks and trailing NULs
// are ignored, embedded blanks are part of the name).
Existence TestExistence(platform::Os& os, std::string_view text);

// Whether name is a reserved device name: its base (everything before the last dot) is one of the
// table's names in any case, and an extension after the dot is allowed for that name.
bool IsDeviceName(std::string_view name);

}  // namespace pageout::services
