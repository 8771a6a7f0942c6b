#pragma once

#include <juce_events/juce_events.h>

#include <chrono>
#include <functional>

namespace kestrine::test
{
    /** Runs the message loop until the condition holds or the time limit passes. */
    inline bool runMessageLoopUntil (const std::function<bool()>& condition,
                                     std::chrono::milliseconds limit = std::chrono::milliseconds (3000))
    {
        const auto deadline = juce::Time::getMillisecondCounter() + static_cast<juce::uint32> (limit.count());

        while (! condition())
        {
            if (juce::Time::getMillisecondCounter() > deadline)
                return false;

            juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
        }

        return true;
    }

    /** Runs the message loop for a fixed time. */
    inline void runMessageLoopFor (std::chrono::milliseconds duration)
    {
        juce::MessageManager::getInstance()->runDispatchLoopUntil (static_cast<int> (duration.count()));
    }
}
