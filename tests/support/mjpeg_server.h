#ifndef QUARVEL_TESTS_SUPPORT_MJPEG_SERVER_H
#define QUARVEL_TESTS_SUPPORT_MJPEG_SERVER_H

// A network camera on 127.0.0.1: an HTTP server that streams JPEG frames
// as multipart/x-mixed-replace (MJPEG), the way IP cameras do, so that a
// program reading "http://127.0.0.1:PORT/" sees a camera that can be made
// to fail and to come back.

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

namespace quarvel::test {

class MjpegServer {
public:
    // A stretch of streaming: `frames` frames (-1: until the server stops)
    // to one client, then the connection closes and nothing listens for
    // `gapSeconds` (after the last stretch: ever again).
    struct Stretch {
        int frames = -1;
        double gapSeconds = 0.0;
    };
    // Frame n (counted over every stretch) comes from `frame`.
    MjpegServer(std::function<cv::Mat(int)> frame, std::vector<Stretch> plan);
    ~MjpegServer();
    MjpegServer(const MjpegServer&) = delete;
    MjpegServer& operator=(const MjpegServer&) = delete;

    int port() const { return port_; }
    std::string url() const;
    int served() const { return served_; }  // frames sent so far

private:
    void Serve();
    int Listen();

    std::function<cv::Mat(int)> frame_;
    std::vector<Stretch> plan_;
    int port_ = 0;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> served_{0};
    std::thread thread_;
};

}  // namespace quarvel::test

#endif
