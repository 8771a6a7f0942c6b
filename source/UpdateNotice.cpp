#include "UpdateNotice.h"

#include "VersionText.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

static_assert (std::string_view (JucePlugin_VersionString) == kestrine::ownVersion,
               "the label's own version must be the plug-in's version");

namespace
{
    constexpr std::string_view buildTimeVersionUrl = KESTRINE_VERSION_URL;
    constexpr int maximumRedirects = 5;

    /** The one place that asks which system the plug-in runs on. */
    std::string_view platformWord()
    {
        return kestrine::platformWordFor (juce::SystemStats::getOperatingSystemName().toStdString());
    }

    juce::String fromUtf8 (const std::string& text)
    {
        return juce::String::fromUTF8 (text.data(), static_cast<int> (text.size()));
    }

    /** The framework's web stream as the version reader sees it. */
    class WebVersionSource final  : public kestrine::VersionSource
    {
    public:
        explicit WebVersionSource (juce::WebInputStream& streamToRead) : stream (streamToRead) {}

        bool connect() override                          { return stream.connect (nullptr); }
        std::int64_t totalLength() override              { return stream.getTotalLength(); }
        int read (char* destination, int maximumBytes) override { return stream.read (destination, maximumBytes); }
        bool hasFailed() const override                  { return stream.isError(); }

    private:
        juce::WebInputStream& stream;
    };
}

//==============================================================================
/** What the check's thread shares with its owner. Held by both through a shared pointer, so
    it lives as long as the longer of the two. */
struct UpdateNotice::Request
{
    explicit Request (const juce::String& address) : url (address) {}

    /** Registers the open stream so that cancel() can reach it; false once cancelled. */
    bool attach (juce::WebInputStream& openStream)
    {
        const std::scoped_lock hold { lock };
        stream = cancelled ? nullptr : &openStream;
        return stream != nullptr;
    }

    /** Called before the stream is destroyed, so that a late cancel never reaches it. */
    void detach()
    {
        const std::scoped_lock hold { lock };
        stream = nullptr;
    }

    /** Makes a running connect or read return promptly, and stops one that has not begun. */
    void cancel()
    {
        const std::scoped_lock hold { lock };
        cancelled = true;

        if (stream != nullptr)
            stream->cancel();
    }

    /** The owner is going: cancel, and post nothing from now on. */
    void abandon()
    {
        const std::scoped_lock hold { lock };
        abandoned = true;
        cancelled = true;

        if (stream != nullptr)
            stream->cancel();
    }

    /** Hands the label to the message thread, unless the owner has gone. Posting under the
        lock means an owner that is being destroyed either sees the post or prevents it. */
    void post (const std::shared_ptr<Request>& self, const juce::String& labelText)
    {
        const std::scoped_lock hold { lock };

        if (abandoned)
            return;

        juce::MessageManager::callAsync ([self, labelText]
        {
            if (auto* notice = self->owner)
                notice->deliver (labelText);
        });
    }

    const juce::URL url;

    // Message thread only: the UpdateNotice to deliver to, cleared when it is destroyed.
    UpdateNotice* owner = nullptr;

    // Set by the check's thread as its very last step; read by whoever joins that thread.
    std::atomic<bool> finished { false };

private:
    // Guards the three members below. Written by the check's thread (attach, detach) and by
    // the owner on the message thread (cancel, abandon); held only for short, non-blocking calls.
    std::mutex lock;
    juce::WebInputStream* stream = nullptr;
    bool cancelled = false;
    bool abandoned = false;
};

namespace
{
    /** Runs the request and returns the published version text, or the fallback on any failure. */
    std::string fetchPublishedVersion (UpdateNotice::Request& request)
    {
        const std::string fallback { kestrine::fallbackVersion };

        juce::WebInputStream stream { request.url, true };   // POST with an empty body
        stream.withConnectionTimeout (UpdateNotice::connectionTimeoutMs)
              .withNumRedirectsToFollow (maximumRedirects);

        if (! request.attach (stream))
            return fallback;

        WebVersionSource source { stream };
        const auto published = kestrine::readPublishedVersion (source);
        request.detach();

        // Bytes that are not UTF-8 text are no version; they count as a failed fetch.
        if (! published.has_value()
            || ! juce::CharPointer_UTF8::isValidString (published->data(), static_cast<int> (published->size())))
            return fallback;

        return *published;
    }

    void runCheck (const std::shared_ptr<UpdateNotice::Request>& request, const std::string& builtLabel)
    {
        const auto label = kestrine::versionLabel (builtLabel, fetchPublishedVersion (*request));
        request->post (request, fromUtf8 (label));
        request->finished = true;
    }

    /** Threads of checks whose owner went away before they ended. They have been cancelled
        and end within about a second; each is joined once it has finished, when another is
        handed over, and at the latest when the module is unloaded, so that no thread is left
        running the plug-in's code after it has gone. Message thread only. */
    class LeftoverChecks
    {
    public:
        static LeftoverChecks& instance()
        {
            static LeftoverChecks leftovers;
            return leftovers;
        }

        void adopt (std::thread thread, std::shared_ptr<UpdateNotice::Request> request)
        {
            const auto joinIfFinished = [] (Entry& entry)
            {
                if (! entry.request->finished)
                    return false;

                entry.thread.join();
                return true;
            };

            entries.erase (std::remove_if (entries.begin(), entries.end(), joinIfFinished), entries.end());
            entries.push_back ({ std::move (thread), std::move (request) });
        }

        ~LeftoverChecks()
        {
            for (auto& entry : entries)
                entry.thread.join();
        }

    private:
        LeftoverChecks() = default;

        struct Entry
        {
            std::thread thread;
            std::shared_ptr<UpdateNotice::Request> request;
        };

        std::vector<Entry> entries;
    };
}

//==============================================================================
UpdateNotice::UpdateNotice (Receiver receiverToCall, const juce::String& versionUrl)
    : receiver (std::move (receiverToCall)),
      request (std::make_shared<Request> (versionUrl))
{
    JUCE_ASSERT_MESSAGE_THREAD
    request->owner = this;

    try
    {
        worker = std::thread (runCheck, request, builtLabel().toStdString());
        startTimer (requestDeadlineMs);
    }
    catch (const std::system_error&)
    {
        // No thread to spare: there is no check, and the label keeps its built text.
    }
}

UpdateNotice::~UpdateNotice()
{
    JUCE_ASSERT_MESSAGE_THREAD
    stopTimer();
    request->owner = nullptr;
    request->abandon();

    if (! worker.joinable())
        return;

    if (request->finished)
        worker.join();
    else
        LeftoverChecks::instance().adopt (std::move (worker), request);
}

juce::String UpdateNotice::builtLabel()
{
    return fromUtf8 (kestrine::builtVersionLabel (platformWord()));
}

juce::String UpdateNotice::defaultVersionUrl()
{
    return juce::String (buildTimeVersionUrl.data(), buildTimeVersionUrl.size());
}

void UpdateNotice::timerCallback()
{
    stopTimer();
    request->cancel();
}

void UpdateNotice::deliver (const juce::String& labelText)
{
    stopTimer();

    if (receiver != nullptr)
        receiver (labelText);
}
