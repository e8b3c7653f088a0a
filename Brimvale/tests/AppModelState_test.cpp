#include <gtest/gtest.h>

#include "AppTestFixture.h"

namespace brimvale {
namespace {

using testing::AppTest;

class AppModelStateTest : public AppTest {};

TEST_F(AppModelStateTest, FreshModelStartsIdleOnTheStartupDiskWithNothingListed) {
    auto model = makeModel();
    EXPECT_EQ(model->phase(), Phase::idle);
    EXPECT_EQ(model->target(), ScanTarget::startupDisk());
    EXPECT_EQ(model->focus(), 0u);
    EXPECT_TRUE(model->lowTide().empty());
    EXPECT_FALSE(model->notice());
}

}  // namespace
}  // namespace brimvale
