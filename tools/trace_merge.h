// tools/trace_merge.h - `zera trace merge A B`: two processes' timelines as
// one. Included by the tool's main only.
#ifndef ZERA_TOOLS_TRACE_MERGE_H
#define ZERA_TOOLS_TRACE_MERGE_H

#include <string>
#include <vector>

namespace tool {

// Runs `zera trace` with args ("merge", A, B): writes the merged timeline to
// the standard output. Exit status 0, 2 for a bad command line, 1 when a
// file cannot be read, is no timeline, or neither records its link to the
// other (said on stderr; nothing is written then).
int RunTraceMerge(const std::vector<std::string> &args);

}  // namespace tool

#endif  // ZERA_TOOLS_TRACE_MERGE_H
