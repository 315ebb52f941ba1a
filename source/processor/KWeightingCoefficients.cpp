#include "processor/KWeightingCoefficients.h"

#include <limits>

namespace
{
    // Each value is the shortest decimal that gives the intended float.
    constexpr KWeightingCoefficients::Set set44100 {
        { 1.5308412f, -2.65098f, 1.1690791f, -1.6636552f, 0.7125954f },
        { 1.0f, -2.0f, 1.0f, -1.9891697f, 0.98919904f }
    };

    constexpr KWeightingCoefficients::Set set48000 {
        { 1.5351249f, -2.6916962f, 1.1983929f, -1.6906593f, 0.73248076f },
        { 1.0f, -2.0f, 1.0f, -1.9900475f, 0.99007225f }
    };

    constexpr KWeightingCoefficients::Set set88200 {
        { 1.5575154f, -2.905627f, 1.361334f, -1.83092f, 0.84414226f },
        { 1.0f, -2.0f, 1.0f, -1.9945775f, 0.99458486f }
    };

    constexpr KWeightingCoefficients::Set set96000 {
        { 1.5597142f, -2.9267416f, 1.3782612f, -1.8446095f, 0.8558433f },
        { 1.0f, -2.0f, 1.0f, -1.9950175f, 0.9950238f }
    };

    constexpr KWeightingCoefficients::Set set176400 {
        { 1.5711154f, -3.0365446f, 1.4688716f, -1.9153293f, 0.91877174f },
        { 1.0f, -2.0f, 1.0f, -1.9972869f, 0.99728876f }
    };

    constexpr KWeightingCoefficients::Set set192000 {
        { 1.5722272f, -3.047283f, 1.4779713f, -1.9222022f, 0.92511773f },
        { 1.0f, -2.0f, 1.0f, -1.9975072f, 0.99750876f }
    };
}

const KWeightingCoefficients::Set& KWeightingCoefficients::forRate (int truncatedRate) noexcept
{
    switch (truncatedRate)
    {
        case 44100: return set44100;
        case 88200: return set88200;
        case 96000: return set96000;
        case 176400: return set176400;
        case 192000: return set192000;
        default: return set48000;
    }
}

const KWeightingCoefficients::Set& KWeightingCoefficients::forSampleRate (double sampleRate) noexcept
{
    // Converting a double outside the int range is undefined behaviour, and a
    // host can hand over anything; such rates are no named rate anyway.
    // The bounds are exact doubles, and NaN fails both comparisons.
    constexpr auto lowest = static_cast<double> (std::numeric_limits<int>::min()) - 1.0;
    constexpr auto highest = static_cast<double> (std::numeric_limits<int>::max()) + 1.0;

    if (! (sampleRate > lowest && sampleRate < highest))
        return set48000;

    return forRate (static_cast<int> (sampleRate));
}

juce::IIRCoefficients KWeightingCoefficients::toIIRCoefficients (const Stage& stage) noexcept
{
    // With a0 = 1 JUCE's normalisation multiplies by exactly 1.0, so the
    // stored floats are the stage's floats bit for bit.
    return { static_cast<double> (stage.b0), static_cast<double> (stage.b1), static_cast<double> (stage.b2),
             1.0,
             static_cast<double> (stage.a1), static_cast<double> (stage.a2) };
}
