#include <gtest/gtest.h>

#include "processor/MeterScale.h"

#include <cmath>

namespace
{
    // Seven significant digits, as the golden values are written.
    void expectSevenDigits (float actual, double expected)
    {
        EXPECT_NEAR (static_cast<double> (actual), expected, std::abs (expected) * 5.0e-7 + 1.0e-9);
    }
}

TEST (MeterScale, RawConstantsAreTheMappingsOwn)
{
    const MeterScale plus18 { -59.0f, -5.0f };
    const MeterScale plus9 { -41.0f, -14.0f };

    EXPECT_EQ (plus18.k, 54.0f);
    EXPECT_EQ (plus9.k, 27.0f);

    EXPECT_EQ (plus18.rawLow, 9.492816e22f);
    EXPECT_EQ (plus18.rawHigh, 2.580415e23f);
    EXPECT_EQ (plus18.rawSpan, 1.6311335e23f);
    EXPECT_EQ (plus9.rawLow, 1.1653779e11f);
    EXPECT_EQ (plus9.rawHigh, 3.1678258e11f);
    EXPECT_EQ (plus9.rawSpan, 2.0024479e11f);
}

TEST (MeterScale, PositionsOnBothScales)
{
    const MeterScale plus18 { -59.0f, -5.0f };
    const MeterScale plus9 { -41.0f, -14.0f };

    EXPECT_EQ (plus18.position (-59.0f), 0.0f);
    EXPECT_EQ (plus18.position (-5.0f), 1.0f);
    EXPECT_EQ (plus9.position (-41.0f), 0.0f);
    EXPECT_EQ (plus9.position (-14.0f), 1.0f);

    expectSevenDigits (plus18.position (-23.0f), 0.5515591);
    expectSevenDigits (plus9.position (-23.0f), 0.5515591);
    expectSevenDigits (plus9.position (-70.0f), -0.3831652);
    expectSevenDigits (plus18.position (-70.0f), -0.1072559);
    expectSevenDigits (plus9.position (0.0f), 2.075013);
    expectSevenDigits (plus18.position (0.0f), 1.153475);
}
