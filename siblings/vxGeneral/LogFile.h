// The log file: one time-stamped line per entry.
#pragma once

#include <string>

namespace vxgen {

// Appends "yyyy-mm-dd hh:nn:ss text" and CR LF, creating the file when needed. A file that cannot be
// written is skipped silently: logging must never stop the program.
void AppendLogLine(const std::string& text, const std::string& path);

}  // namespace vxgen
