// The progress line on standard error for a long conversion.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "converter/host.h"

namespace pageout::converter {

// Inputs larger than this show a progress line, when standard error is a terminal.
constexpr std::uint64_t kProgressThreshold = 64ull * 1024 * 1024;

// "text2pdf: 42% 123.4 MB/s": how far the input has been read and at what rate (MB of 2^20 bytes).
std::string FormatProgress(std::uint64_t done, std::uint64_t total, double seconds);

class Progress {
 public:
  // Shown only when `enabled` (standard error is a terminal and the input is a file larger than
  // kProgressThreshold).
  Progress(Host& host, bool enabled, std::uint64_t total);
  // Rewrites the line in place, at most a few times a second.
  void Update(std::uint64_t done);
  // Blanks the line out and returns the cursor to its start. Safe to call more than once.
  void Clear();

 private:
  Host& host_;
  bool enabled_;
  std::uint64_t total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
  std::size_t shown_ = 0;  // length of the line on the terminal
};

}  // namespace pageout::converter
