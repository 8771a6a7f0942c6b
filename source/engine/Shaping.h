#pragma once

#include "EngineConstants.h"

#include <cmath>

namespace kestrine
{
    /** The level-dependent gain applied to every input sample, for a shaping amount d:
        ((d x (g - |v| / g)) x 1.1 + 1) x v with g = shapeThreshold. Samples of magnitude g^2
        (0.64) pass unchanged; for d > 0 quieter ones are raised and louder ones lowered. */
    inline float shape (float v, float d) noexcept
    {
        return ((d * (shapeThreshold - std::abs (v) / shapeThreshold)) * 1.1f + 1.0f) * v;
    }

    /** The sample itself when it is a finite number, otherwise 0. */
    inline float finiteOrSilence (float v) noexcept
    {
        return std::isfinite (v) ? v : 0.0f;
    }

    /** One step of the one-pole smoother that moves a mirror's current value towards its
        target. A non-finite result (a non-finite target from outside) is never kept: the
        smoother then jumps to the target if that is finite and otherwise holds its value, so
        it cannot stay poisoned once the target is valid again. */
    inline float smoothedStep (float current, float target) noexcept
    {
        const float next = (target - current) * smoothingCoefficient + current;

        if (std::isfinite (next))
            return next;

        return std::isfinite (target) ? target : (std::isfinite (current) ? current : 0.0f);
    }
}
