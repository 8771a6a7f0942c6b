#pragma once

#include <juce_core/juce_core.h>
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

    struct CommandRun
    {
        bool started = false;
        int exitCode = -1;     // -1 when the command did not start or did not finish in time
        juce::String output;   // stdout and stderr together
    };

    /** Runs a command and collects its output. The limit only keeps a broken command from
        hanging the suite. */
    inline CommandRun runCommand (const juce::StringArray& command, juce::uint32 limitMs)
    {
        juce::ChildProcess process;
        CommandRun result;

        if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        {
            result.output = "cannot start " + command[0];
            return result;
        }

        result.started = true;
        result.output = process.readAllProcessOutput();

        if (process.waitForProcessToFinish (static_cast<int> (limitMs)))
            result.exitCode = static_cast<int> (process.getExitCode());

        return result;
    }

    /** A fresh folder in the temporary folder, removed with everything in it. */
    struct ScratchFolder
    {
        explicit ScratchFolder (const juce::String& name = "kestrine-test")
            : folder (juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile (name, "")),
              created (folder.createDirectory())
        {
        }

        ~ScratchFolder() { folder.deleteRecursively(); }

        ScratchFolder (const ScratchFolder&) = delete;
        ScratchFolder& operator= (const ScratchFolder&) = delete;

        const juce::File folder;
        const juce::Result created;
    };
}
