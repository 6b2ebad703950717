// Unit tests never talk to a display server: loads without a host-fixed
// size fit to the platform's fallback, 1680 x 1050, and previews run
// headless. The tests against real servers are separate programs.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    return RUN_ALL_TESTS();
}
