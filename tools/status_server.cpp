#include "status_server.h"

#include <httplib.h>

#include <cstdlib>


namespace quarvel::cli {
namespace {

constexpr int kThreads = 4;          // clients served at once
constexpr time_t kTimeoutSeconds = 2; // a client that stalls a read or a write is dropped after this

}  // namespace

StatusServer::StatusServer(const HealthBoard& board) : board_(board), server_(std::make_unique<httplib::Server>()) {}

StatusServer::~StatusServer() {
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

bool StatusServer::Start(const std::string& where, std::string& error) {
    std::string host = "127.0.0.1";
    std::string port = where;
    if (const auto colon = where.rfind(':'); colon != std::string::npos) {
        host = where.substr(0, colon);
        port = where.substr(colon + 1);
        if (host.size() > 1 && host.front() == '[' && host.back() == ']') {
            host = host.substr(1, host.size() - 2);
        }
    }
    char* end = nullptr;
    const long number = std::strtol(port.c_str(), &end, 10);
    if (host.empty() || port.empty() || end != port.c_str() + port.size() || number < 0 || number > 65535) {
        error = "--status needs [HOST:]PORT (a port from 0 to 65535), not '" + where + "'";
        return false;
    }
    httplib::Server& s = *server_;
    s.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    s.set_read_timeout(kTimeoutSeconds, 0);
    s.set_write_timeout(kTimeoutSeconds, 0);
    s.set_keep_alive_timeout(kTimeoutSeconds);
    s.set_payload_max_length(4096);  // nothing is ever sent to it
    s.set_default_headers({{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}});
    s.Get("/", [](const httplib::Request&, httplib::Response& r) { r.set_content(kStatusPage, "text/html; charset=utf-8"); });
    s.Get("/status.json", [this](const httplib::Request&, httplib::Response& r) {
        r.set_content(board_.Json(), "application/json");
    });
    s.Get("/metrics", [this](const httplib::Request&, httplib::Response& r) {
        r.set_content(board_.Metrics(), "text/plain; version=0.0.4; charset=utf-8");
    });
    s.Get(R"(/view/(\d{1,3})\.jpg)", [this](const httplib::Request& q, httplib::Response& r) {
        const std::vector<unsigned char> jpeg = board_.ViewJpeg(std::atoi(q.matches[1].str().c_str()));
        if (jpeg.empty()) {
            r.status = 404;
            r.set_content("no view from this camera yet\n", "text/plain");
            return;
        }
        r.set_content(reinterpret_cast<const char*>(jpeg.data()), jpeg.size(), "image/jpeg");
    });
    s.set_exception_handler([](const httplib::Request&, httplib::Response& r, std::exception_ptr) {
        r.status = 500;
        r.set_content("internal error\n", "text/plain");
    });
    int bound = static_cast<int>(number);
    if (bound == 0) {
        bound = s.bind_to_any_port(host);
    } else if (!s.bind_to_port(host, bound)) {
        bound = -1;
    }
    if (bound <= 0) {
        error = "cannot listen on " + host + ":" + port + " for --status (in use, or not an address of this machine)";
        return false;
    }
    const bool six = host.find(':') != std::string::npos;
    url_ = "http://" + (six ? "[" + host + "]" : host) + ":" + std::to_string(bound) + "/";
    thread_ = std::thread([&s] { s.listen_after_bind(); });
    return true;
}

}  // namespace quarvel::cli
