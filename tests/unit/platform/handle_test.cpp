#include <gtest/gtest.h>

#include "platform/handle.h"

using relayon::os::Handle;
using relayon::os::kNoHandle;

TEST(Handle, EmptyHandleIsInvalidAndReleaseLeavesItEmpty) {
    Handle h;
    EXPECT_FALSE(h.valid());
    EXPECT_EQ(h.release(), kNoHandle);
}
