// Paper sizes: the named sizes and the system's default.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace pageout::converter {

// Portrait dimensions in thousandths of a point.
struct PaperSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  friend bool operator==(const PaperSize&, const PaperSize&) = default;
};

inline constexpr PaperSize kLetter{612000, 792000};
inline constexpr PaperSize kA4{595000, 842000};
inline constexpr PaperSize kA3{842000, 1191000};

// The size called `name` in the paper configuration ("a4", "Letter", "legal", ...; case and
// surrounding blanks do not matter), or nullopt for a name we do not know.
std::optional<PaperSize> PaperByName(std::string_view name);

// The size named by the contents of a paper configuration file: its first line that is neither
// empty nor a comment ("#"). nullopt when there is no such line or the name is unknown.
std::optional<PaperSize> PaperFromConfigFile(std::string_view contents);

// The system's default paper: on POSIX the PAPERSIZE variable, then the file named by PAPERCONF,
// then /etc/papersize; on Win32 the user's locale paper size. Letter when none of them names a
// size we know.
PaperSize SystemDefaultPaper();

}  // namespace pageout::converter
