#pragma once

// Lengths and constants of the engine. They are independent of the sample rate.
namespace kestrine
{
    constexpr int curvePoints    = 800;   // one period on the bump curve and the display views
    constexpr int ringLength     = 3200;  // input ring, captured cycle, bump signal, delay lines
    constexpr int lookAhead      = 1600;  // analysis window, delay and reported latency
    constexpr int minimumCycle   = 11;    // shortest cycle that is captured
    constexpr int numBumps       = 3;

    constexpr float curvePi        = 3.14159f;  // the bump curve's own value of pi
    constexpr float driftPerCall   = 10.0f;     // curve points per call at a speed of 1
    constexpr float shapeThreshold = 0.8f;      // constant g of the shaping gain
    constexpr float smoothingCoefficient = 0.001f;
    constexpr float playbackLevel  = 0.5f;      // bump signal is played at half level
    constexpr float balanceLimit   = 0.1f;      // largest |P - N| / (P + N) that closes a period
}
