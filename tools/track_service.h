#ifndef QUARVEL_TOOLS_TRACK_SERVICE_H
#define QUARVEL_TOOLS_TRACK_SERVICE_H
// What `quarvel track` does for an installation left running: the health
// board and its status server (--status), the service manager's notify
// protocol, and SIGHUP's reload of the calibrations.

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <quarvel/model.h>
#include <quarvel/touch.h>

#include "cli_common.h"
#include "health.h"
#include "service_notify.h"
#include "status_server.h"
#include "track_outputs.h"

namespace quarvel::cli {

class TrackService {
public:
    using Clock = std::chrono::steady_clock;

    // `original` is the command line as given (before its config file was
    // read), for a reload to read everything again.
    TrackService(Args original, std::vector<Option> known) : original_(std::move(original)), known_(std::move(known)) {}

    // The board for these cameras, and --status when asked for. Exit status.
    int Open(const ParsedArgs& parsed, const std::vector<std::string>& names, const std::vector<std::string>& sources,
             const std::vector<Model>& models);

    // One camera's frame through the tracker (`record` without its
    // latency) and out at `output`: its figures on the board.
    void Frame(int camera, FrameRecord record, Clock::time_point captured, Clock::time_point output);
    // The camera's frame and contacts, when the status page is due a view.
    void View(int camera, const cv::Mat& frame, const std::vector<Contact>& contacts);
    void Skipped(int camera, long long frames) { board_->Skipped(camera, frames); }
    // A wall's fused frame, gone out.
    void Surface(const TouchFrame& fused) { board_->SetSurface(fused); }
    // Once a frame has gone out (every camera's, for a wall).
    void Done(const TrackOutputs& out);

    // SIGHUP: the config file and every parameter file read again; false,
    // having said why, when they cannot be (tracking goes on as it was).
    bool Reload(std::vector<Model>& models);

private:
    Args original_;
    std::vector<Option> known_;
    std::unique_ptr<HealthBoard> board_;
    std::unique_ptr<StatusServer> server_;
    ServiceNotifier notifier_;
    std::vector<std::string> params_;
    std::map<std::string, std::string, std::less<>> values_;  // the options as tracking started with them
};

// What the board keeps of a tracker's frame.
FrameRecord Describe(const TouchTracker& tracker, const TouchFrame& touches, double processingMs);

// Milliseconds from `from` to `to`.
inline double Milliseconds(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace quarvel::cli

#endif
