// tools/timeline_file.h - the timeline of a command's stack written to a
// file (--trace-out of run and serve): begun before the stack is built,
// ended when the command is done with it. Included by the tool's sources only.
#ifndef ZERA_TOOLS_TIMELINE_FILE_H
#define ZERA_TOOLS_TIMELINE_FILE_H

#include <cstdio>
#include <string>

#include "ZERA_Host.h"

namespace tool {

// Writes the process's timeline to a file from Begin until End or until
// it goes.
class TimelineFile {
public:
    TimelineFile() = default;
    ~TimelineFile() { End(); }
    TimelineFile(const TimelineFile &) = delete;
    TimelineFile &operator=(const TimelineFile &) = delete;

    // Begins the timeline in path (nothing for an empty path). False with
    // "zera COMMAND: the timeline cannot be written: ..." on stderr.
    bool Begin(const char *command, const std::string &path) {
        if (path.empty()) return true;
        if (!ZERA_boHostTraceStart(nullptr, path.c_str())) {
            std::fprintf(stderr, "zera %s: the timeline cannot be written: %s\n", command, OSAL_pszGetLastErrorText());
            return false;
        }
        writing_ = true;
        return true;
    }
    // Writes what was recorded and closes the file.
    void End() {
        if (writing_) ZERA_boHostTraceStop();
        writing_ = false;
    }

private:
    bool writing_ = false;
};

}  // namespace tool

#endif  // ZERA_TOOLS_TIMELINE_FILE_H
