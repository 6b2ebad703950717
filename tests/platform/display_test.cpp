// The display layer without a server: the fallback, the names of the
// sources, and which local socket a display name means.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include <quarvel/display.h>
#include <quarvel/quarvel.h>

#include "platform/x_socket.h"

namespace {

TEST(DisplayNames, EverySourceHasItsText) {
    using quarvel::DisplaySource;
    EXPECT_STREQ(quarvel::ToString(DisplaySource::Host), "host");
    EXPECT_STREQ(quarvel::ToString(DisplaySource::RandrOutput), "RandR output");
    EXPECT_STREQ(quarvel::ToString(DisplaySource::XScreen), "X screen");
    EXPECT_STREQ(quarvel::ToString(DisplaySource::WaylandOutput), "Wayland output");
    EXPECT_STREQ(quarvel::ToString(DisplaySource::Fallback), "fallback");
    EXPECT_STREQ(quarvel::ToString(static_cast<DisplaySource>(99)), "unknown");
}

TEST(DisplayQuery, WithoutAServerTheFallbackIsListedAndUsed) {
    // The tests run without DISPLAY and WAYLAND_DISPLAY.
    const std::vector<quarvel::DisplayInfo> displays = Quarvel::ListDisplays();
    ASSERT_EQ(displays.size(), 1u);
    EXPECT_TRUE(displays[0].used);
    EXPECT_EQ(displays[0].width, 1680);
    EXPECT_EQ(displays[0].source, quarvel::DisplaySource::Fallback);
    EXPECT_EQ(quarvel::QueryDisplay().height, 1050);
    EXPECT_FALSE(quarvel::XServerReachable());
}

TEST(XSocket, DisplayNamesToTheirLocalSockets) {
    using quarvel::detail::XSocketPath;
    EXPECT_EQ(XSocketPath(":0"), "/tmp/.X11-unix/X0");
    EXPECT_EQ(XSocketPath(":12.1"), "/tmp/.X11-unix/X12");
    EXPECT_EQ(XSocketPath("unix:3"), "/tmp/.X11-unix/X3");
    EXPECT_EQ(XSocketPath("unix/:3"), "/tmp/.X11-unix/X3");
    EXPECT_EQ(XSocketPath("/private/tmp/launch-x/org.x:0"), "/private/tmp/launch-x/org.x");
    // TCP displays and names that do not parse have no local socket.
    EXPECT_EQ(XSocketPath("remote:0"), "");
    EXPECT_EQ(XSocketPath("tcp/remote:0"), "");
    EXPECT_EQ(XSocketPath(":x"), "");
    EXPECT_EQ(XSocketPath("0"), "");
}

TEST(XSocket, AListeningSocketIsSeenWithoutConnecting) {
    const std::string path = "/tmp/quarvel-listen-" + std::to_string(getpid());
    unlink(path.c_str());
    EXPECT_FALSE(quarvel::detail::SomeoneListensOn(path));
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    EXPECT_FALSE(quarvel::detail::SomeoneListensOn(path));  // bound, not listening
    ASSERT_EQ(listen(fd, 1), 0);
    EXPECT_TRUE(quarvel::detail::SomeoneListensOn(path));
    close(fd);
    unlink(path.c_str());
    EXPECT_FALSE(quarvel::detail::SomeoneListensOn(path));
}

}  // namespace
