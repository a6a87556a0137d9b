#ifndef ZUMI_TOOLS_RECORDING_H
#define ZUMI_TOOLS_RECORDING_H

// The recording format of zumi record and zumi replay (documented for other
// tools in docs/recording-format.md): JSON lines. The first is the header
// {"format": "zumi-recording", "version": 1, "started": ISO-8601 time}; each
// other line is one operation (Traffic.h) with "t", its offset in seconds
// from the start. The properties' values at the start come first, as "op":
// "property" lines at "t" 0.
//
// Compatibility: a reader refuses another format and a newer major version,
// skips blank lines, lines of an unknown "op" and unknown keys, so that a
// version 1 reader plays what later minor changes add.
//
// Threads: the caller's.

#include <stdint.h>

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "Traffic.h"

namespace zumi {
namespace tool {

extern const char* const RECORDING_FORMAT;  // "zumi-recording"
constexpr int RECORDING_VERSION = 1;

void writeRecordingHeader(std::ostream& out, int64_t startUsec);

// The operations of the recording in file order. A line that is not JSON or
// not an operation is a RecordingError "NAME:LINE: what is wrong". The
// header's "started" goes to *started when asked for.
std::vector<Operation> readRecording(std::istream& in, const std::string& name, std::string* started = nullptr);

}  // namespace tool
}  // namespace zumi

#endif
