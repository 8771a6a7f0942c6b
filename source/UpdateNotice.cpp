#include "UpdateNotice.h"

#include "VersionText.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

// Platform spot: how the module keeps itself loaded (see keepModuleLoaded).
#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <dlfcn.h>
#endif

// Platform spot: on Linux and the BSDs the framework's web streams are libcurl's.
#if (JUCE_LINUX || JUCE_BSD) && JUCE_USE_CURL && ! JUCE_LOAD_CURL_SYMBOLS_LAZILY
 #include <curl/curl.h>
#endif

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

    /** Registers the open stream so that a cancel can reach it; false once cancelled. */
    bool attach (juce::WebInputStream& openStream)
    {
        const std::scoped_lock hold { lock };
        stream = cancelled ? nullptr : &openStream;
        return stream != nullptr;
    }

    /** Called before the stream is destroyed: waits for a cancel under way, so that no cancel
        reaches the stream after it. */
    void detach()
    {
        const std::scoped_lock holdStream { streamLock };
        const std::scoped_lock hold { lock };
        stream = nullptr;
    }

    /** Makes a running connect or read return promptly, and stops one that has not begun.
        Returns at once: cancelling the stream can wait for a name lookup under way (the
        framework's curl streams wait for the lookup's thread), so that is done on a thread of
        its own, the canceller. Message thread only. */
    void cancel (const std::shared_ptr<Request>& self)
    {
        const std::scoped_lock hold { lock };

        if (std::exchange (cancelled, true) || stream == nullptr)
            return;

        try
        {
            canceller = std::thread ([self] { self->cancelStream(); });
        }
        catch (const std::system_error&)
        {
            stream->cancel();   // no thread to spare: cancel here; the lock keeps the stream alive
        }
    }

    /** The owner is going: cancel, and post nothing from now on. Message thread only. */
    void abandon (const std::shared_ptr<Request>& self)
    {
        {
            const std::scoped_lock hold { lock };
            abandoned = true;
        }

        cancel (self);
    }

    /** Hands the canceller's thread, if one was started, to whoever joins the check's thread.
        Message thread only; no canceller is started after abandon. */
    std::thread takeCanceller()
    {
        const std::scoped_lock hold { lock };
        return std::move (canceller);
    }

    /** The check's thread's last step: after it, the thread only returns. */
    void markFinished()
    {
        {
            const std::scoped_lock hold { lock };
            finished = true;
        }

        ended.notify_all();
    }

    /** Waits for markFinished, at most until the deadline; true once the thread has finished. */
    bool waitUntilFinished (std::chrono::steady_clock::time_point deadline)
    {
        std::unique_lock hold { lock };
        return ended.wait_until (hold, deadline, [this] { return finished.load(); });
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

    // Set by the check's thread as its very last step (markFinished); read by whoever joins
    // that thread, on the message thread or at exit.
    std::atomic<bool> finished { false };

private:
    /** The canceller's work: cancels the stream if it is still attached. Holding streamLock
        keeps the check's thread from destroying the stream meanwhile. */
    void cancelStream()
    {
        const std::scoped_lock holdStream { streamLock };
        juce::WebInputStream* target = nullptr;

        {
            const std::scoped_lock hold { lock };
            target = stream;
        }

        if (target != nullptr)
            target->cancel();
    }

    // Held by the canceller while it cancels the stream and by the check's thread while it
    // detaches the stream; never taken on the message thread, so a slow cancel cannot block it.
    // Always taken before lock.
    std::mutex streamLock;

    // Guards the members below and the setting of finished: written by the check's thread
    // (attach, detach, markFinished), the owner on the message thread (cancel, abandon,
    // takeCanceller) and the canceller (reading stream); held only for short calls that do not
    // block, and released while waitUntilFinished waits.
    std::mutex lock;
    std::condition_variable ended;
    juce::WebInputStream* stream = nullptr;
    bool cancelled = false;
    bool abandoned = false;
    std::thread canceller;
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
        request->markFinished();
    }

    /** Keeps this module, and so the libraries it uses, loaded for the rest of the process,
        whatever the host unloads. Platform spot. */
    void keepModuleLoaded()
    {
        static const char anchor = 0;   // any address inside this module

       #if JUCE_WINDOWS
        HMODULE module = nullptr;
        GetModuleHandleExW (GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCWSTR> (&anchor), &module);
       #else
        Dl_info info {};

        if (dladdr (&anchor, &info) != 0 && info.dli_fname != nullptr)
            dlopen (info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);   // a reference never given back
       #endif
    }

    /** Threads of checks whose owner went away before they ended. They have been cancelled,
        and a cancelled check ends within about a second, the longest that one step of the
        request waits, unless its cancel waits for a name lookup. Each is joined, with its
        canceller, once it has finished: when another is handed over, when
        the framework shuts down (in a plug-in, before its module can be unloaded) and at the
        latest at static destruction (process exit). So no such thread runs the plug-in's code
        or the libraries' after they have gone.

        The list is made after the libraries' one-time set-up (see networkingReady), so its
        destructor runs before the exit handlers that set-up registered.

        A thread still running after finishLimit is stuck in a call that cancelling cannot
        reach, such as a name lookup waiting for its time-out. Waiting on would freeze the
        host's quit or unload for as long as that call lasts; unloading the code under the
        thread would crash the host. So the thread is left to end on its own: at framework
        shutdown the module first pins itself, so its code and libraries stay loaded for the
        rest of the process; at exit the process ends around it (the thread is cancelled and
        past the libraries' set-up, and nothing is unloaded at exit).

        Message thread only, but for the destructor, which runs when nothing else does. */
    class LeftoverChecks
    {
    public:
        static constexpr auto finishLimit = std::chrono::milliseconds (2000);

        enum class IfStuck { pinModule, leaveRunning };

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

                entry.join();
                return true;
            };

            entries.erase (std::remove_if (entries.begin(), entries.end(), joinIfFinished), entries.end());
            auto canceller = request->takeCanceller();
            entries.push_back ({ std::move (thread), std::move (canceller), std::move (request) });
            ShutdownWait::expect();
        }

        /** Waits up to finishLimit for every leftover and joins those that end in time. */
        void finish (IfStuck ifStuck)
        {
            const auto deadline = std::chrono::steady_clock::now() + finishLimit;

            for (auto& entry : entries)
            {
                if (entry.request->waitUntilFinished (deadline))
                {
                    entry.join();
                }
                else if (entry.thread.joinable())
                {
                    if (ifStuck == IfStuck::pinModule)
                        keepModuleLoaded();

                    entry.detach();
                }
            }

            // A detached thread that is still running stays listed, so that exit waits for it too.
            entries.erase (std::remove_if (entries.begin(), entries.end(),
                                           [] (const Entry& entry) { return entry.request->finished.load(); }),
                           entries.end());
        }

        ~LeftoverChecks()
        {
            finish (IfStuck::leaveRunning);
        }

    private:
        LeftoverChecks() = default;

        /** Finishes the leftovers when the framework shuts down. Made again after each shutdown,
            as a host may start the framework again. */
        class ShutdownWait final  : private juce::DeletedAtShutdown
        {
        public:
            static void expect()
            {
                if (current == nullptr)
                    current = new ShutdownWait();   // owned by the framework from here on
            }

            ~ShutdownWait() override
            {
                current = nullptr;
                instance().finish (IfStuck::pinModule);
            }

        private:
            ShutdownWait() = default;

            static inline ShutdownWait* current = nullptr;   // message thread only
        };

        /** A check's thread, the thread cancelling its stream if one was started, and what
            they share. Once the check's thread has finished, the canceller has too, or is about
            to find no stream. */
        struct Entry
        {
            void join()
            {
                for (auto* t : { &thread, &canceller })
                    if (t->joinable())
                        t->join();
            }

            void detach()
            {
                for (auto* t : { &thread, &canceller })
                    if (t->joinable())
                        t->detach();
            }

            std::thread thread;
            std::thread canceller;
            std::shared_ptr<UpdateNotice::Request> request;
        };

        std::vector<Entry> entries;
    };

    /** The HTTP and TLS libraries' one-time set-up, done once on the message thread before the
        first check's thread starts; false when it failed, and no check may run. Left to a
        check's thread, it would run inside the first request and register the libraries' exit
        handlers after the leftover list, so at exit they would free what a check still starting
        up is using. The framework's own first-use state of its web streams is made here too, by
        a stream that never connects. */
    bool networkingReady()
    {
        static const bool ready = []
        {
           #if (JUCE_LINUX || JUCE_BSD) && JUCE_USE_CURL && ! JUCE_LOAD_CURL_SYMBOLS_LAZILY
            // Platform spot: libcurl's global set-up, which sets up its TLS and SSH libraries
            // too. Never undone: the framework's streams may use the libraries to the end.
            if (curl_global_init (CURL_GLOBAL_DEFAULT) != CURLE_OK)
                return false;
           #endif

            {
                const juce::WebInputStream unopened { juce::URL ("http://127.0.0.1/"), true };
            }

            LeftoverChecks::instance();
            return true;
        }();

        return ready;
    }
}

//==============================================================================
UpdateNotice::UpdateNotice (Receiver receiverToCall, const juce::String& versionUrl)
    : receiver (std::move (receiverToCall)),
      request (std::make_shared<Request> (versionUrl))
{
    JUCE_ASSERT_MESSAGE_THREAD
    request->owner = this;

    if (! networkingReady())
        return;   // no check: the label keeps its built text

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
    request->abandon (request);

    if (! worker.joinable())
        return;

    if (request->finished)
    {
        worker.join();

        if (auto canceller = request->takeCanceller(); canceller.joinable())
            canceller.join();   // it has found the stream gone, or is about to
    }
    else
    {
        LeftoverChecks::instance().adopt (std::move (worker), request);
    }
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
    request->cancel (request);
}

void UpdateNotice::deliver (const juce::String& labelText)
{
    stopTimer();

    if (receiver != nullptr)
        receiver (labelText);
}
