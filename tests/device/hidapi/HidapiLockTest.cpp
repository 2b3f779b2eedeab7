// The hidapi host's unit lock: hidraw paths lock the device node itself.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "HidapiHost.h"

// A hidraw path is a device node: the host locks the node, so a second holder of the node
// (another program of any user that opens the unit) is kept out, with no lock folder involved.
// /dev/null stands in for the node: it takes an advisory lock as any node does.
TEST(HidapiLock, HidrawPathLocksTheNode)
{
    HidapiHost host;
    UnitLockAttempt held = host.LockUnit("/dev/null", 0);
    ASSERT_TRUE(held.Lock) << held.Failure;
    EXPECT_EQ(LockUnitNode("/dev/null", 0).Result(), ERR_DEVICE_IN_USE);
    held.Lock.reset();
    EXPECT_TRUE(LockUnitNode("/dev/null", 0).Lock);
}

// A path that names no node (another backend's) gets a lock file of the user's own.
TEST(HidapiLock, OtherPathsGetALockFile)
{
    HidapiHost host;
    const std::string path = "1-2:1.0-test-" + std::to_string(getpid());
    UnitLockAttempt held = host.LockUnit(path, 0);
    ASSERT_TRUE(held.Lock) << held.Failure;
    EXPECT_EQ(LockUnitFile(path, 0).Result(), ERR_DEVICE_IN_USE);
}

// A node that cannot be opened is a lock that cannot be made, with the node and the reason;
// never "in use".
TEST(HidapiLock, UnopenableNodeSaysWhy)
{
    HidapiHost host;
    const UnitLockAttempt attempt = host.LockUnit("/dev/hidraw-none-such", 0);
    EXPECT_EQ(attempt.Result(), ERR_UNIT_LOCK);
    EXPECT_NE(attempt.Failure.find("/dev/hidraw-none-such"), std::string::npos) << attempt.Failure;
    EXPECT_NE(attempt.Failure.find("No such file or directory"), std::string::npos) << attempt.Failure;
}
