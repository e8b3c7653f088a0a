#include "RingKit/RingLabelFit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace ringkit {
namespace {

constexpr double kPi = std::numbers::pi;

TEST(RingLabelFit, OnlyArcsOfTheFirstTwoRingsWithRoomForTheTextGetALabel) {
    const double unit = 384;  // an 800-pixel-high window
    // Ring 1's middle lies at radius 0.368: a quarter turn there is about 222 pixels long.
    EXPECT_TRUE(RingLabelFit::place(0, kPi / 2, 1, unit, 200, 30).has_value());
    EXPECT_FALSE(RingLabelFit::place(0, kPi / 2, 1, unit, 215, 30).has_value())
        << "the margins count";
    EXPECT_FALSE(RingLabelFit::place(0, kPi / 2, 1, unit, 100, 50).has_value())
        << "taller than the ring";
    EXPECT_TRUE(RingLabelFit::place(0, kPi / 2, 2, unit, 100, 30).has_value());
    EXPECT_FALSE(RingLabelFit::place(0, kPi / 2, 3, unit, 10, 10).has_value()) << "ring 3";
    EXPECT_TRUE(RingLabelFit::place(0, kPi / 2, 2.4, unit, 10, 10).has_value())
        << "an arc sliding out of ring 2 keeps its label";
    EXPECT_FALSE(RingLabelFit::place(0, 1, 1, 0, 10, 10).has_value());
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(RingLabelFit::place(0, nan, 1, unit, 10, 10).has_value());
}

TEST(RingLabelFit, TextSitsMidArcAndNeverReadsUpsideDown) {
    const auto top = RingLabelFit::place(-0.5, 0.5, 1, 384, 10, 10);
    ASSERT_TRUE(top);
    EXPECT_NEAR(top->x, 0, 1e-12);
    EXPECT_NEAR(top->y, 0.368, 1e-12);
    EXPECT_NEAR(top->rotation, 0, 1e-9);

    const auto right = RingLabelFit::place(kPi / 2 - 0.5, kPi / 2 + 0.5, 1, 384, 10, 10);
    ASSERT_TRUE(right);
    EXPECT_NEAR(right->rotation, 90, 1e-9);
    const auto bottom = RingLabelFit::place(kPi - 0.5, kPi + 0.5, 1, 384, 10, 10);
    ASSERT_TRUE(bottom);
    EXPECT_NEAR(bottom->rotation, 0, 1e-9) << "turned round at the bottom";
    EXPECT_NEAR(bottom->y, -0.368, 1e-12);
    const auto left = RingLabelFit::place(1.5 * kPi - 0.2, 1.5 * kPi + 0.2, 1, 384, 10, 10);
    ASSERT_TRUE(left);
    EXPECT_NEAR(left->rotation, 270, 1e-9);
}

TEST(RingLabelFit, TextIsDarkOnLightFillsAndWhiteOnDarkOnes) {
    EXPECT_LT(RingLabelFit::textColor({0.9f, 0.9f, 0.9f, 1}).r, 0.5f);
    EXPECT_EQ(RingLabelFit::textColor({0.36f, 0.36f, 0.84f, 1}).r, 1.0f);
}

}  // namespace
}  // namespace ringkit
