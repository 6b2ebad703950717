#include "support/mjpeg_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <opencv2/imgcodecs.hpp>

namespace quarvel::test {
namespace {

bool SendAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, bytes, size, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

MjpegServer::MjpegServer(std::function<cv::Mat(int)> frame, std::vector<Stretch> plan)
    : frame_(std::move(frame)), plan_(std::move(plan)) {
    listener_ = Listen();
    thread_ = std::thread([this] { Serve(); });
}

MjpegServer::~MjpegServer() {
    stop_ = true;
    thread_.join();
    if (listener_ >= 0) {
        close(listener_);
    }
}

std::string MjpegServer::url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/camera.mjpg"; }

int MjpegServer::Listen() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port_));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    return fd;
}

void MjpegServer::Serve() {
    int n = 0;
    for (std::size_t s = 0; s < plan_.size() && !stop_; ++s) {
        if (listener_ < 0) {
            listener_ = Listen();
        }
        int client = -1;
        while (!stop_ && client < 0) {
            pollfd ready{listener_, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0) {
                client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            }
        }
        if (client < 0) {
            break;
        }
        char request[2048];
        recv(client, request, sizeof request, 0);
        const std::string header =
            "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace; boundary=frame\r\n\r\n";
        bool open = SendAll(client, header.data(), header.size());
        for (int k = 0; open && !stop_ && (plan_[s].frames < 0 || k < plan_[s].frames); ++k, ++n) {
            std::vector<unsigned char> jpeg;
            cv::imencode(".jpg", frame_(n), jpeg, {cv::IMWRITE_JPEG_QUALITY, 90});
            const std::string part = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                     std::to_string(jpeg.size()) + "\r\n\r\n";
            open = SendAll(client, part.data(), part.size()) && SendAll(client, jpeg.data(), jpeg.size()) &&
                   SendAll(client, "\r\n", 2);
            ++served_;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        close(client);
        // Nothing listens during the gap (and after the last stretch).
        close(listener_);
        listener_ = -1;
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(plan_[s].gapSeconds);
        while (!stop_ && s + 1 < plan_.size() && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

}  // namespace quarvel::test
