// The vector vocabulary: the branch-free choices and the lane tests.
#include "qmsp_vector.h"
#include "support/float_compare.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

// The branch-free choices keep C++'s meaning for every kind of value, NaN included.
TEST(Selects, AgreeWithTheConditionalExpressions) {
    const float values[] = {0.0f, -0.0f, 1e-40f, -1e-40f, 1.0f, -1.0f, 3.4e38f, INFINITY, -INFINITY, NAN};
    for (float a : values) {
        for (float b : values) {
            EXPECT_TRUE(sameFloat(qmsp_selectLess(a, b, 2.0f, 3.0f), a < b ? 2.0f : 3.0f)) << a << " " << b;
            EXPECT_TRUE(sameFloat(qmsp_max(a, b), a > b ? a : b)) << a << " " << b;
            EXPECT_EQ(qmsp_selectLess(double(a), double(b), 2.0, 3.0), a < b ? 2.0 : 3.0) << a << " " << b;
        }
        const bool unfit = a == 0.0f || std::fabs(a) < 1.17549435e-38f || !std::isfinite(a);
        EXPECT_TRUE(sameFloat(qmsp_flushUnfit(a), unfit ? 0.0f : a)) << a;
    }
}

// Any lane of 4 or 8 counts, each on its own.
TEST(Lanes, AnyLaneSeesEveryLane) {
    for (int lane = -1; lane < 8; ++lane) {
        qmsp_vectors<8>::vi eight = {};
        if (lane >= 0) eight[lane] = -1;
        EXPECT_EQ(qmsp_anyLane(eight), lane >= 0) << "lane " << lane << " of 8";
        if (lane >= 4) continue;
        qmsp_vectors<4>::vi four = {};
        if (lane >= 0) four[lane] = -1;
        EXPECT_EQ(qmsp_anyLane(four), lane >= 0) << "lane " << lane << " of 4";
    }
}

}  // namespace
