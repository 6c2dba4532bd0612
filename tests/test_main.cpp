// Test entry: headless Qt, and the break signals blocked before any thread starts,
// as the program itself does.
#include <gtest/gtest.h>

#include "platform/process.h"

int main(int argc, char** argv) {
    blockBreakSignals();
    prepareHeadlessEnvironment();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
