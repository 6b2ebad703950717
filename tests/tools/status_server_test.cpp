// The status server under the load an installation meets: a tracking
// thread writing the health board every frame while several browsers and
// scrapers read it, clients that connect and then say nothing, requests
// that are no HTTP. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <httplib.h>

#include "health.h"
#include "status_server.h"
#include "support/ir_camera.h"

namespace {

using namespace quarvel::cli;

// A connection that sends `bytes` (perhaps nothing) and then waits.
class RawClient {
public:
    RawClient(int port, const std::string& bytes) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        connected_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                     (bytes.empty() || send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size()));
    }
    ~RawClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;
    bool connected() const { return connected_; }
    // What the server answered, up to its closing the connection.
    std::string Answer() {
        std::string out;
        char buffer[512];
        for (ssize_t n; (n = recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            out.append(buffer, static_cast<std::size_t>(n));
        }
        return out;
    }

private:
    int fd_;
    bool connected_ = false;
};

int PortOf(const std::string& url) { return std::stoi(url.substr(url.rfind(':') + 1)); }

TEST(StatusServerThreads, ReadersStalledClientsAndGarbageWhileTheBoardIsWritten) {
    const quarvel::Model model = quarvel::test::TouchTruth(cv::Size(320, 240));
    HealthBoard board({"wall.ini"}, {"/dev/video0"}, {model});
    StatusServer server(board);
    std::string error;
    ASSERT_TRUE(server.Start("0", error)) << error;
    const int port = PortOf(server.url());

    // Three of its four threads held by clients that connect and say nothing.
    std::vector<std::unique_ptr<RawClient>> stalled;
    for (int k = 0; k < 3; ++k) {
        stalled.push_back(std::make_unique<RawClient>(port, ""));
        ASSERT_TRUE(stalled.back()->connected());
    }

    // The tracking thread: a frame's figures and, when due, its view.
    std::atomic<bool> reading{true};
    long long written = 0;
    std::thread tracking([&] {
        quarvel::TouchFrame touches;
        quarvel::Contact c;
        c.id = 1;
        c.state = quarvel::ContactState::Move;
        const cv::Mat frame(240, 320, CV_8UC1, cv::Scalar(30));
        for (int n = 0; n < 400 || reading; ++n) {
            c.x = static_cast<float>(n % 1920);
            touches.contacts = {c};
            FrameRecord r;
            r.touches = &touches;
            r.processingMs = 1.0;
            r.latencyMs = 2.0;
            board.Record(0, r);
            if (board.WantsView(0)) {
                board.SetView(0, frame, touches.contacts);
            }
            board.Skipped(0, n % 2);
            ++written;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    // Browsers and scrapers, one client each, reading everything.
    struct Reader {
        int ok = 0;
        std::vector<std::string> faults;
    };
    std::vector<Reader> readers(3);
    std::vector<std::thread> threads;
    for (Reader& reader : readers) {
        threads.emplace_back([&reader, port] {
            httplib::Client client("127.0.0.1", port);
            client.set_read_timeout(10, 0);
            for (int n = 0; n < 15; ++n) {
                for (const char* path : {"/status.json", "/metrics", "/view/0.jpg", "/"}) {
                    const auto answer = client.Get(path);
                    const bool view = std::string(path) == "/view/0.jpg";
                    if (!answer || (answer->status != 200 && !(view && answer->status == 404)) ||
                        (answer->status == 200 && answer->body.empty())) {
                        reader.faults.push_back(std::string(path) + ": " + (answer ? std::to_string(answer->status) : "no answer"));
                    } else {
                        ++reader.ok;
                    }
                }
            }
        });
    }
    // What is no request, what asks for nothing there is, and what would
    // change something (refused for its size before any route is asked).
    const std::pair<const char*, const char*> garbage[] = {
        {"GARBAGE\r\n\r\n", "HTTP/1.1 400"},
        {"POST /status.json HTTP/1.1\r\nHost: x\r\nContent-Length: 99999999\r\n\r\n", "HTTP/1.1 413"},
        {"POST /status.json HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", "HTTP/1.1 404"},
        {"GET /view/99999.jpg HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", "HTTP/1.1 404"},
    };
    for (const auto& [request, status] : garbage) {
        RawClient raw(port, request);
        ASSERT_TRUE(raw.connected());
        const std::string answer = raw.Answer();
        EXPECT_EQ(answer.rfind(status, 0), 0u) << request << answer;
    }
    for (std::thread& t : threads) {
        t.join();
    }
    reading = false;
    tracking.join();
    for (const Reader& reader : readers) {
        EXPECT_EQ(reader.ok, 60);
        EXPECT_TRUE(reader.faults.empty()) << reader.faults.front();
    }
    EXPECT_GE(written, 400);
    EXPECT_NE(board.Json().find("\"frames\": " + std::to_string(written)), std::string::npos);
}

}  // namespace
