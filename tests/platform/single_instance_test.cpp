// The single-instance lock: taken once, refused to a second taker, never in a folder that
// another user could write to.
#include "platform/single_instance.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/temp_folder.h"

namespace {
std::string UniqueName() {
    return "tessel-test-" + std::to_string(getpid()) + "-" + std::to_string(rand());
}
}  // namespace

TEST(SingleInstance, TheSecondTakerFindsTheLockHeld) {
    TempFolder runtime;
    chmod(runtime.Path().c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    const std::string name = UniqueName();
    EXPECT_EQ(platform::TakeSingleInstanceLock(name), platform::InstanceLock::kTaken);
    EXPECT_TRUE(std::filesystem::exists(runtime.File(name + ".lock")));
    EXPECT_EQ(platform::TakeSingleInstanceLock(name), platform::InstanceLock::kHeldElsewhere);
    unsetenv("XDG_RUNTIME_DIR");
}

TEST(SingleInstance, AFolderOthersMayWriteToIsNotUsed) {
    TempFolder shared;
    chmod(shared.Path().c_str(), 0777);
    setenv("XDG_RUNTIME_DIR", shared.Path().c_str(), 1);
    const std::string name = UniqueName();
    EXPECT_EQ(platform::TakeSingleInstanceLock(name), platform::InstanceLock::kTaken);
    // Somebody else's file there changes nothing: the lock lives elsewhere.
    EXPECT_FALSE(std::filesystem::exists(shared.File(name + ".lock")));
    unsetenv("XDG_RUNTIME_DIR");
    std::filesystem::remove("/tmp/tessel-" + std::to_string(getuid()) + "/" + name + ".lock");
}
