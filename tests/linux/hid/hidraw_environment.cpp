// One umockdev testbed for the whole test program, made before the first test and removed after
// the last.
#include <gtest/gtest.h>

#include <umockdev.h>

#include "tests/emulated_box/emulated_box.h"

namespace {

class EmulatedNodes : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(emu::Start(emu::FrontDoor::Native, &error)) << error;
        // Without the preload, libudev and open() would meet the machine's real devices. umockdev
        // answers this once and for good, from the testbed that Start has just made.
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under LD_PRELOAD=libumockdev-preload.so.0 (CTest sets it)";
    }
    void TearDown() override { emu::Stop(); }
};

::testing::Environment* const g_nodes = ::testing::AddGlobalTestEnvironment(new EmulatedNodes);

}  // namespace
