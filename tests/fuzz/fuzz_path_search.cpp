// PATH entry parsing, the candidates of start-and-wait and the whole interpreter choice, over
// arbitrary COMSPEC and PATH values (quotes, runs of semicolons, long entries, network paths) and
// a file system and children that answer in every way (found, directory, refused, missing, failing
// to start, ending with -1).
//
// Checks: the entries match a model of the splitting rules, are never empty, longer than 257
// characters or quoted, and the parser always moves on; every started program was found by the
// query right before it; a COMSPEC name is tried with exactly the candidates of its final
// component; the fallback tries PATH entries in order, never the current directory, with
// candidates shorter than 260 characters; every child gets the interpreter name, the switch and
// the command, joined with single blanks; a child that ran ends the search, and its exit code is
// the result.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <string>
#include <vector>

#include "services/command.h"
#include "tests/fuzz/fuzz_os.h"

namespace pageout::fuzz {
namespace {

// PATH split by its rules: entries end at semicolons outside double quotes; empty stretches
// between semicolons are skipped; quotes are dropped; an entry that is empty without its quotes or
// longer than 257 characters ends the list.
std::vector<std::string> ModelEntries(std::string_view path) {
  std::vector<std::string> raw(1);
  bool quoted = false;
  for (char c : path) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      raw.emplace_back();
    } else {
      raw.back() += c;
    }
  }
  std::vector<std::string> entries;
  for (const std::string& stretch : raw) {
    if (stretch.empty()) continue;
    std::string entry;
    for (char c : stretch) {
      if (c != '"') entry += c;
    }
    if (entry.empty() || entry.size() > 257) break;
    entries.push_back(entry);
  }
  return entries;
}

// The candidates start-and-wait tries for a program name on Win32, in order.
std::vector<std::string> ModelCandidates(const std::string& program) {
  std::string name = program;
  std::size_t final_start;
  const std::size_t separator = name.find_last_of("\\/");
  if (separator != std::string::npos) {
    final_start = separator + 1;
  } else if (name.find(':') != std::string::npos) {
    final_start = name.find(':');
  } else {
    name = ".\\" + name;
    final_start = 2;
  }
  if (name.find('.', final_start) != std::string::npos) return {name};
  return {name + ".com", name + ".exe", name + ".bat", name + ".cmd"};
}

}  // namespace
}  // namespace pageout::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace pageout;
  using namespace pageout::fuzz;
  FuzzedDataProvider input(data, size);

  const bool windows = input.ConsumeBool();
  FuzzOs os(windows ? platform::Host::kWindows : platform::Host::kLinux);
  os.nt_family = input.ConsumeBool();
  const std::string fallback = !windows ? "/bin/sh" : os.nt_family ? "cmd.exe" : "command.com";
  const std::string command = input.ConsumeRandomLengthString(40);
  std::optional<std::string> comspec;
  if (input.ConsumeBool()) comspec = input.ConsumeRandomLengthString(300);
  const std::string path = input.ConsumeRandomLengthString(1200);
  if (comspec) os.environment["COMSPEC"] = *comspec;
  if (input.ConsumeBool()) os.environment["PATH"] = path;

  // The parser alone, over the whole value.
  const std::vector<std::string> entries = ModelEntries(path);
  std::vector<std::string> parsed;
  std::size_t position = 0;
  while (const std::optional<std::string> entry = services::NextPathEntry(path, position)) {
    FUZZ_CHECK(parsed.size() <= path.size());
    FUZZ_CHECK(!entry->empty() && entry->size() <= services::kMaxPathEntry);
    FUZZ_CHECK(entry->find('"') == std::string::npos);
    parsed.push_back(*entry);
  }
  FUZZ_CHECK(parsed == entries);

  // What the file system and the children answer: each possible candidate in turn gets an answer
  // from the input, until the input runs out.
  std::vector<std::string> possible;
  if (comspec) {
    if (windows) {
      for (const std::string& candidate : ModelCandidates(*comspec)) possible.push_back(candidate);
    } else {
      possible.push_back(comspec->find('/') != std::string::npos ? *comspec : "./" + *comspec);
    }
  }
  if (!windows) possible.push_back(fallback);
  for (const std::string& entry : entries) {
    const char last = entry.back();
    possible.push_back(entry + (last == '\\' || last == '/' ? "" : "\\") + fallback);
  }
  for (const std::string& candidate : possible) {
    if (input.remaining_bytes() == 0) break;
    switch (input.ConsumeIntegralInRange(0, 7)) {
      case 0:
        break;
      case 1:
        os.AddDirectory(candidate);
        break;
      case 2:
        os.AttributeError(candidate, platform::err::kAccessDenied);
        break;
      case 3:
        os.AttributeError(candidate, 123 /* invalid name */);
        break;
      case 4:
        os.AddFile(candidate);
        os.child_results[candidate] = {
            false, -1, input.PickValueInArray<std::uint32_t>({2, 5, 193, 8, 32, 1, 206})};
        break;
      case 5:
        os.AddFile(candidate);
        os.child_results[candidate] = {true, -1, 0};
        break;
      default:
        os.AddFile(candidate);
        os.child_results[candidate] = {true, input.ConsumeIntegral<std::int32_t>(), 0};
        break;
    }
  }

  const std::int32_t code = services::RunInterpreter(os, command);
  const std::vector<std::string> asked = os.attribute_queries;  // the checks below query too

  const std::string switch_text = windows ? "/c" : "-c";
  for (std::size_t i = 0; i < os.starts.size(); ++i) {
    const testing::ChildStart& start = os.starts[i];
    FUZZ_CHECK(start.args.size() == 3 && start.args[1] == switch_text && start.args[2] == command);
    FUZZ_CHECK(start.command_line == services::ChildCommandLine(start.args));
    FUZZ_CHECK(start.command_line == start.args[0] + " " + switch_text + " " + command);
    FUZZ_CHECK((comspec && start.args[0] == *comspec) || start.args[0] == fallback);
    FUZZ_CHECK(os.QueryAttributes(start.program).ok);
    // Only the last start may have run a child: a child that ran ends the search.
    if (i + 1 < os.starts.size()) FUZZ_CHECK(!os.child_results[start.program].started);
  }
  if (os.starts.empty()) {
    FUZZ_CHECK(code == -1);
  } else {
    const platform::ChildResult last = os.child_results.count(os.starts.back().program)
                                           ? os.child_results[os.starts.back().program]
                                           : platform::ChildResult{true, 0, 0};
    FUZZ_CHECK(code == (last.started ? last.exit_code : -1));
  }

  // The names asked about: the COMSPEC candidates first, in order, then the fallback's.
  std::size_t next = 0;
  if (comspec) {
    const std::vector<std::string> candidates =
        windows ? ModelCandidates(*comspec)
                : std::vector<std::string>{
                      comspec->find('/') != std::string::npos ? *comspec : "./" + *comspec};
    // A name is tried until one candidate is found: the queries are a prefix of its candidates.
    while (next < asked.size() && next < candidates.size() && asked[next] == candidates[next])
      ++next;
    FUZZ_CHECK(next > 0);
  }
  if (windows) {
    // The fallback goes along PATH in order, one candidate per entry, never in the current
    // directory.
    std::size_t entry = 0;
    for (; next < asked.size(); ++next) {
      const std::string& candidate = asked[next];
      FUZZ_CHECK(candidate.size() < services::kPathEntryBuffer);
      FUZZ_CHECK(candidate.size() > fallback.size() &&
                 candidate.compare(candidate.size() - fallback.size(), fallback.size(), fallback) ==
                     0);
      while (entry < entries.size() && candidate.rfind(entries[entry], 0) != 0) ++entry;
      FUZZ_CHECK(entry < entries.size());
      ++entry;
    }
  } else {
    if (!(next == asked.size() || (next + 1 == asked.size() && asked[next] == fallback))) {
      for (const std::string& q : asked) std::fprintf(stderr, "asked [%s]\n", q.c_str());
    }
    FUZZ_CHECK(next == asked.size() || (next + 1 == asked.size() && asked[next] == fallback));
  }
  FUZZ_CHECK(os.writes.empty() && os.standard_error.empty());
  return 0;
}
