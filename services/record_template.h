// Record templates: constant tables of elements that describe console records.
#pragma once

#include <span>
#include <string_view>

namespace pageout::services {

enum class ElementKind {
  kBegin,        // opens a template; no effect
  kLiteral,      // copies text at the current position and advances past it
  kColumn,       // sets the current position to column count; writes nothing
  kRightMove,    // advances the current position by count columns; writes nothing
  kRecordBreak,  // writes the current record and starts an empty one
  kHoldMark,     // the current record goes out without its CR LF
  kTextField,    // input templates: fills the field given to the read
  kEnd,          // writes the current record (output) or finishes the read (input)
};

struct Element {
  ElementKind kind;
  std::string_view text{};  // kLiteral
  int count = 0;            // kColumn, kRightMove
};

constexpr Element Begin() { return {ElementKind::kBegin}; }
constexpr Element Literal(std::string_view text) { return {ElementKind::kLiteral, text}; }
constexpr Element Column(int column) { return {ElementKind::kColumn, {}, column}; }
constexpr Element RightMove(int count) { return {ElementKind::kRightMove, {}, count}; }
constexpr Element RecordBreak() { return {ElementKind::kRecordBreak}; }
constexpr Element HoldMark() { return {ElementKind::kHoldMark}; }
constexpr Element TextField() { return {ElementKind::kTextField}; }
constexpr Element End() { return {ElementKind::kEnd}; }

using RecordTemplate = std::span<const Element>;

}  // namespace pageout::services
