#ifndef QUARVEL_TOOLS_STOP_SIGNALS_H
#define QUARVEL_TOOLS_STOP_SIGNALS_H

namespace quarvel::cli {

// While one lives, SIGINT and SIGTERM no longer end the process: they are
// noted, and a blocking read they interrupt returns, so that a loop can
// finish what it owes (lifting every touch) and end on its own. The
// previous handlers come back when it goes. SIGHUP is noted as a stop
// too, or, for a loop that can reload, as a request to reload.
class StopSignals {
public:
    explicit StopSignals(bool reloadOnHangup = false);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal that asked to stop (SIGINT, SIGTERM, SIGHUP), or 0.
    static int Received() noexcept;
    // Whether SIGHUP came since the last call.
    static bool TakeReload() noexcept;
    // Its name, for messages.
    static const char* Name(int signal) noexcept;
};

}  // namespace quarvel::cli

#endif
