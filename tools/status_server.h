#ifndef QUARVEL_TOOLS_STATUS_SERVER_H
#define QUARVEL_TOOLS_STATUS_SERVER_H
// `track --status [HOST:]PORT`: what the health board holds, over HTTP,
// read-only. /status.json, /metrics (Prometheus' text format), / (a page
// for the installer that updates by itself; its script and style are in
// it, nothing comes from the network) and /view/N.jpg (camera N's recent
// view). The server has threads of its own; a slow or malformed client
// costs one of them for at most its time-outs, never a tracking thread.

#include <memory>
#include <string>
#include <thread>

#include "health.h"

namespace httplib {
class Server;
}

namespace quarvel::cli {

class StatusServer {
public:
    explicit StatusServer(const HealthBoard& board);
    ~StatusServer();
    StatusServer(const StatusServer&) = delete;
    StatusServer& operator=(const StatusServer&) = delete;

    // Listens on `where` ("PORT" on loopback, or "HOST:PORT"; port 0: any
    // free one). False, with the reason, when it cannot.
    bool Start(const std::string& where, std::string& error);
    // The address it listens on, as a browser would be given it.
    const std::string& url() const noexcept { return url_; }

private:
    const HealthBoard& board_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    std::string url_;
};

// The page served at /.
extern const char* const kStatusPage;

}  // namespace quarvel::cli

#endif
