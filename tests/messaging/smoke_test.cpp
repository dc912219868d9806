#include <gtest/gtest.h>

#include "messaging/registry.h"

TEST(Smoke, Addresses) {
    kv::Registry r(kv::ProgramRole::Driver);
    EXPECT_EQ(r.Table()[37].address, 19898);
}
