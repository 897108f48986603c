#include <gtest/gtest.h>
#include "platform/Owners.h"
TEST(Build, SeamHeadersCompile) { EXPECT_EQ(sizeof(DISK_GEOMETRY), 24u); }
