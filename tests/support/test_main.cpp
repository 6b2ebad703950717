// Unit tests never talk to an X server: the set-up sees a 1680 x 1050
// display unless a test chooses another, and previews run headless. The
// tests against a real server are separate programs run under Xvfb.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/fixtures.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    unsetenv("DISPLAY");
    quarvel::test::ScopedDisplaySize display(1680, 1050);
    return RUN_ALL_TESTS();
}
