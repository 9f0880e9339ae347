// tools/stop_signals.h - SIGINT (Ctrl-C) and SIGTERM end a command that runs
// until stopped (run, serve, top). Included by the tool's sources only.
#ifndef ZERA_TOOLS_STOP_SIGNALS_H
#define ZERA_TOOLS_STOP_SIGNALS_H

namespace tool {

// Once installed, StopSignalled() turns true at the first of them.
void InstallStopSignals();
bool StopSignalled();

}  // namespace tool

#endif  // ZERA_TOOLS_STOP_SIGNALS_H
