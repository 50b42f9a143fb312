// The absolute form of a file name on POSIX, formed by text alone.
#pragma once

#include <string>

namespace pageout::platform {

// Joins name to cwd (an absolute directory) unless name is absolute itself, then removes empty and
// "." components and lets ".." remove the component before it (never above the root). Links are
// not resolved, as the Win32 full-path function does not resolve them either. A trailing slash of
// name is kept, so that a file name followed by a slash still names no file.
std::string LexicalAbsolutePath(const std::string& cwd, const std::string& name);

}  // namespace pageout::platform
