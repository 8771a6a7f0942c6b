#pragma once

#include <juce_events/juce_events.h>

#include <functional>
#include <memory>
#include <thread>

/** The version label's check for a newer release.

    Constructed on the message thread, it asks the maker's web site once for the latest
    published version on a thread of its own and returns at once. When the check ends, the
    receiver is called on the message thread with the label text: the update notice when a
    newer version is published, otherwise builtLabel(). The receiver is never called after
    the UpdateNotice has been destroyed, and destroying it while the request is still running
    does not wait for the network. A check still running then is finished before the process
    exits or the framework shuts down, so it never runs on after the network libraries' exit
    handlers or the plug-in's module are gone.

    @code
    UpdateNotice updateNotice { [this] (const juce::String& text) { versionText = text; repaint(); } };
    @endcode
*/
class UpdateNotice  : private juce::Timer
{
public:
    using Receiver = std::function<void (const juce::String& labelText)>;

    explicit UpdateNotice (Receiver receiver, const juce::String& versionUrl = defaultVersionUrl());
    ~UpdateNotice() override;

    /** "Version 2.5.0 " and the platform word: the label before, and unless a newer version
        is found, after the check. */
    static juce::String builtLabel();

    /** The address of the published version file, fixed when the plug-in is built. */
    static juce::String defaultVersionUrl();

    /** Limit for making the connection, and for a transfer that stalls below 100 bytes a second. */
    static constexpr int connectionTimeoutMs = 3000;

    /** Limit for the whole request, however slowly the answer trickles in; the request is
        cancelled then and counts as failed. */
    static constexpr int requestDeadlineMs = 5000;

    /** The state the check's thread shares with its owner; defined with the implementation. */
    struct Request;

private:

    void timerCallback() override;
    void deliver (const juce::String& labelText);

    Receiver receiver;
    std::shared_ptr<Request> request;
    std::thread worker;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (UpdateNotice)
};
