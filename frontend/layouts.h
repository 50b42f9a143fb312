// The layout table: the three page layouts, in the order the questions offer them.
#pragma once

#include <cstddef>
#include <string_view>

#include "frontend/literals.h"
#include "services/record_template.h"

namespace pageout::frontend {

// Positions count from 1 in the command buffer.
struct Layout {
  std::string_view prefix;   // the converter and its options
  std::size_t prefix_first;  // the prefix field
  std::size_t prefix_last;
  std::size_t name_first;  // the name field: the 80-character file-name field and a blank
  std::size_t name_last;
  services::RecordTemplate question;  // the question that offers the layout
};

inline constexpr std::string_view kLandscape132Prefix = "TEXT2PDF.EXE -c160 -L -s8 -v7";
inline constexpr std::string_view kPortrait132Prefix = "TEXT2PDF.EXE -l92 -c132 -s6 -v8";
inline constexpr std::string_view kPortrait80Prefix = "TEXT2PDF.EXE";

inline constexpr Layout kLayouts[] = {
    {kLandscape132Prefix, 1, 34, 36, 116, kLandscapeQuestion},
    {kPortrait132Prefix, 1, 32, 34, 114, kPortrait132Question},
    {kPortrait80Prefix, 1, 12, 14, 94, kPortrait80Question},
};

// The command-line run and the first question.
inline constexpr const Layout& kLandscape132 = kLayouts[0];

}  // namespace pageout::frontend
