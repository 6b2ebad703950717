// Unit tests never ask an X server for the display size: unless a test
// chooses another, the set-up sees a 1680 x 1050 display.
#include <gtest/gtest.h>

#include "support/fixtures.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    quarvel::test::ScopedDisplaySize display(1680, 1050);
    return RUN_ALL_TESTS();
}
