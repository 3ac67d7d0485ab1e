// The console program's live lines are cut to the terminal's width; a cut inside a character
// would leave a broken byte sequence on the screen.
#include <gtest/gtest.h>

#include "cli/cli_text.h"

TEST(FitToColumns, CutsByCharactersNotBytes) {
    const std::string done = "VELTABOX 1-2  durchgef\xC3\xBChrt!";  // "ü" is two bytes
    EXPECT_EQ(FitToColumns(done, 23), "VELTABOX 1-2  durchgef\xC3\xBC");
    EXPECT_EQ(FitToColumns(done, 22), "VELTABOX 1-2  durchgef");
    EXPECT_EQ(FitToColumns(done, 28), done);
    EXPECT_EQ(FitToColumns(done, 0), done);
}
