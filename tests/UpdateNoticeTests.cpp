#include "UpdateNotice.h"
#include "VersionText.h"
#include "TestHelpers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace
{
    using Clock = std::chrono::steady_clock;

    double secondsSince (Clock::time_point start)
    {
        return std::chrono::duration<double> (Clock::now() - start).count();
    }

    const std::string builtLabel = kestrine::builtVersionLabel ("Linux");

    //==============================================================================
    /** A stream that hands out a fixed body in chunks, and checks that no read asks for more
        than the declared length or the buffer leaves room for. */
    class ScriptedSource final  : public kestrine::VersionSource
    {
    public:
        struct Script
        {
            bool connects = true;
            std::int64_t declaredLength = -1;
            std::string body;
            int chunkSize = 7;
            std::size_t errorAfterBytes = std::string::npos;   // the stream reports an error from here on
            bool endsWithNegativeRead = false;
        };

        explicit ScriptedSource (Script s) : script (std::move (s)) {}

        bool connect() override                 { return script.connects; }
        std::int64_t totalLength() override     { return script.declaredLength; }
        bool hasFailed() const override         { return delivered >= script.errorAfterBytes; }

        int read (char* destination, int maximumBytes) override
        {
            const auto requested = static_cast<std::int64_t> (maximumBytes);
            EXPECT_GT (requested, 0);
            EXPECT_LE (requested, kestrine::receiveBufferSize - static_cast<std::int64_t> (delivered));

            if (script.declaredLength >= 0)
            {
                EXPECT_LE (requested, script.declaredLength - static_cast<std::int64_t> (delivered));
            }

            const auto remaining = script.body.size() - delivered;

            if (remaining == 0)
                return script.endsWithNegativeRead ? -1 : 0;

            const auto count = std::min ({ remaining, static_cast<std::size_t> (maximumBytes),
                                           static_cast<std::size_t> (script.chunkSize) });
            std::copy_n (script.body.data() + delivered, count, destination);
            delivered += count;
            return static_cast<int> (count);
        }

    private:
        Script script;
        std::size_t delivered = 0;
    };

    //==============================================================================
    /** A one-connection-at-a-time HTTP server on 127.0.0.1 and an ephemeral port. It reads each
        request and then sends the given raw response and closes, or trickles it out a byte at a
        time, or stays silent: keeps the connection open without a word until it is destroyed.
        It stops by itself after a while. */
    class LoopbackServer
    {
    public:
        enum class Manner { answer, trickle, silent };

        static constexpr auto lifetime = 20s;
        static constexpr auto tricklePause = 5ms;   // 200 bytes a second: above the stall limit

        explicit LoopbackServer (std::string rawResponse, Manner mannerToUse = Manner::answer)
            : response (std::move (rawResponse)), manner (mannerToUse)
        {
            listener = ::socket (AF_INET, SOCK_STREAM, 0);
            sockaddr_in address = loopback (0);

            if (listener < 0
                || ::bind (listener, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0
                || ::listen (listener, 8) != 0)
                return;

            port = boundPort (listener);
            thread = std::thread ([this] { serve(); });
        }

        ~LoopbackServer()
        {
            stopping = true;

            if (thread.joinable())
                thread.join();

            if (listener >= 0)
                ::close (listener);
        }

        juce::String url() const
        {
            return "http://127.0.0.1:" + juce::String (port) + "/kestrine/version.txt";
        }

        std::string firstRequestLine() const
        {
            const std::scoped_lock hold { lock };
            return requestLine;
        }

        /** A port on which nothing listens: bound once, then released. */
        static int unusedPort()
        {
            const auto probe = ::socket (AF_INET, SOCK_STREAM, 0);
            sockaddr_in address = loopback (0);
            ::bind (probe, reinterpret_cast<sockaddr*> (&address), sizeof (address));
            const auto freePort = boundPort (probe);
            ::close (probe);
            return freePort;
        }

    private:
        static sockaddr_in loopback (int portNumber)
        {
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_port = htons (static_cast<std::uint16_t> (portNumber));
            address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
            return address;
        }

        static int boundPort (int socketHandle)
        {
            sockaddr_in address {};
            socklen_t size = sizeof (address);
            ::getsockname (socketHandle, reinterpret_cast<sockaddr*> (&address), &size);
            return ntohs (address.sin_port);
        }

        static bool readable (int socketHandle, int timeoutMs)
        {
            pollfd entry { socketHandle, POLLIN, 0 };
            return ::poll (&entry, 1, timeoutMs) > 0;
        }

        bool expired() const { return stopping || Clock::now() - started > lifetime; }

        void serve()
        {
            while (! expired())
            {
                if (! readable (listener, 20))
                    continue;

                const auto connection = ::accept (listener, nullptr, nullptr);

                if (connection < 0)
                    continue;

                answer (connection);
                ::close (connection);
            }
        }

        void answer (int connection)
        {
            const auto head = readRequestHead (connection);

            {
                const std::scoped_lock hold { lock };
                requestLine = head.substr (0, head.find ("\r\n"));
            }

            if (manner == Manner::silent)
            {
                while (! expired())
                    std::this_thread::sleep_for (10ms);

                return;
            }

            const auto trickles = manner == Manner::trickle;

            for (std::size_t sent = 0; sent < response.size() && ! expired();)
            {
                const auto count = ::send (connection, response.data() + sent,
                                           trickles ? 1 : response.size() - sent, MSG_NOSIGNAL);

                if (count <= 0)
                    break;   // the client stopped reading, as it should past its buffer

                sent += static_cast<std::size_t> (count);

                if (trickles)
                    std::this_thread::sleep_for (tricklePause);
            }

            ::shutdown (connection, SHUT_WR);

            // Let the client finish before closing, so that no reset overtakes the data.
            for (auto waited = 0ms; waited < 2000ms && readable (connection, 10); waited += 10ms)
            {
                char discard[256];
                if (::recv (connection, discard, sizeof (discard), 0) <= 0)
                    break;
            }
        }

        /** Reads up to the blank line and any declared body; bounded in time. */
        std::string readRequestHead (int connection) const
        {
            std::string received;
            const auto deadline = Clock::now() + 2s;

            while (Clock::now() < deadline && ! expired())
            {
                const auto headEnd = received.find ("\r\n\r\n");

                if (headEnd != std::string::npos)
                {
                    const auto lengthAt = juce::String (received.substr (0, headEnd)).toLowerCase().indexOf ("content-length:");
                    const auto bodyLength = lengthAt < 0 ? 0 : juce::String (received.substr (static_cast<std::size_t> (lengthAt) + 15)).getIntValue();

                    if (received.size() >= headEnd + 4 + static_cast<std::size_t> (std::max (0, bodyLength)))
                        break;
                }

                if (! readable (connection, 10))
                    continue;

                char chunk[1024];
                const auto count = ::recv (connection, chunk, sizeof (chunk), 0);

                if (count <= 0)
                    break;

                received.append (chunk, static_cast<std::size_t> (count));
            }

            return received;
        }

        const std::string response;
        const Manner manner;
        const Clock::time_point started = Clock::now();
        int listener = -1;
        int port = 0;
        std::atomic<bool> stopping { false };
        mutable std::mutex lock;
        std::string requestLine;   // written by the server thread, read by the test, under lock
        std::thread thread;
    };

    std::string httpResponse (const std::string& body, const std::string& status = "200 OK")
    {
        return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: "
             + std::to_string (body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }

    /** Runs one check against the address and waits for its label. */
    std::optional<juce::String> labelFrom (const juce::String& url, std::chrono::milliseconds limit = 10s)
    {
        std::optional<juce::String> label;
        const UpdateNotice notice { [&] (const juce::String& text) { label = text; }, url };
        kestrine::test::runMessageLoopUntil ([&] { return label.has_value(); }, limit);
        return label;
    }
}

//==============================================================================
TEST (VersionText, VersionNumbersDropTheDotsAndReadTheLeadingInteger)
{
    constexpr auto saturated = std::numeric_limits<std::int64_t>::max();

    const std::vector<std::pair<std::string, std::int64_t>> cases {
        { "2.5.0", 250 }, { "2.6.0", 260 }, { "2.6.0\n", 260 }, { "2.10.0", 2100 }, { "3.0", 30 },
        { "1.0.0", 100 }, { "<html><body>Moved</body></html>", 0 }, { "404 Not Found", 404 }, { "", 0 },
        { " \t\r\n2.6", 26 }, { "-1.0", -10 }, { "+2.6.0", 260 }, { ".2.6", 26 }, { "v2.6.0", 0 },
        { "2 .6", 2 }, { "2.6.0-beta", 260 }, { "- 5", 0 }, { "99999999999999999999999", saturated },
    };

    for (const auto& [text, number] : cases)
        EXPECT_EQ (kestrine::versionNumber (text), number) << '"' << text << '"';
}

TEST (VersionText, LabelTurnsIntoTheNoticeOnlyForALargerNumber)
{
    const std::vector<std::pair<std::string, std::string>> cases {
        { "2.6.0", "New version available 2.6.0" },
        { "2.6.0\n", "New version available 2.6.0\n" },      // the published text stays unchanged
        { "2.5.0", builtLabel },
        { "2.10.0", "New version available 2.10.0" },
        { "3.0", builtLabel },                               // fewer digits compare as smaller
        { "<!DOCTYPE html><html></html>", builtLabel },
        { "404 Not Found", "New version available 404 Not Found" },
        { "", builtLabel },
        { std::string (kestrine::fallbackVersion), builtLabel },
    };

    for (const auto& [published, label] : cases)
        EXPECT_EQ (kestrine::versionLabel (builtLabel, published), label) << '"' << published << '"';
}

TEST (VersionText, BuiltLabelNamesTheVersionAndThePlatform)
{
    EXPECT_EQ (kestrine::platformWordFor ("Mac OSX 13.4.1"), "Mac");
    EXPECT_EQ (kestrine::platformWordFor ("Linux"), "Linux");
    EXPECT_EQ (kestrine::platformWordFor ("Windows 10"), "Win");
    EXPECT_EQ (kestrine::platformWordFor (""), "Win");
    EXPECT_EQ (kestrine::builtVersionLabel ("Mac"), "Version 2.5.0 Mac");

   #if JUCE_LINUX
    EXPECT_EQ (UpdateNotice::builtLabel(), "Version 2.5.0 Linux");
   #elif JUCE_MAC
    EXPECT_EQ (UpdateNotice::builtLabel(), "Version 2.5.0 Mac");
   #elif JUCE_WINDOWS
    EXPECT_EQ (UpdateNotice::builtLabel(), "Version 2.5.0 Win");
   #endif
}

TEST (VersionText, ReadingFollowsTheStopAndSuccessRules)
{
    using Script = ScriptedSource::Script;
    const std::string overBuffer (40000, '9');

    struct Case
    {
        const char* name;
        Script script;
        std::optional<std::string> expected;
    };

    const std::vector<Case> cases {
        { "connection fails",            { false, -1, "2.6.0" },                   std::nullopt },
        { "no declared length",          { true, -1, "2.6.0\n" },                  "2.6.0\n" },
        { "declared length met",         { true, 6, "2.6.0\n" },                   "2.6.0\n" },
        { "read one byte at a time",     { true, 6, "2.6.0\n", 1 },                "2.6.0\n" },
        { "stops at the declared length", { true, 3, "2.6.0" },                    "2.6" },
        { "declared zero",               { true, 0, "2.6.0" },                     "" },
        { "body shorter than declared",  { true, 100, "2.6.0" },                   std::nullopt },
        { "declared above the buffer",   { true, 40000, overBuffer, 4096 },        std::nullopt },
        { "undeclared, fills the buffer", { true, -1, overBuffer, 4096 },          overBuffer.substr (0, 32768) },
        { "stream error midway",         { true, -1, "2.6.0", 2, 4 },              std::nullopt },
        { "stream error at once",        { true, 5, "2.6.0", 7, 0 },               std::nullopt },
        { "negative read, undeclared",   { true, -1, "2.6", 7, std::string::npos, true }, "2.6" },
        { "negative read, declared",     { true, 5, "2.6", 7, std::string::npos, true }, std::nullopt },
        { "ends at a zero byte",         { true, -1, "2.6.0\0garbage"s },          "2.6.0" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ScriptedSource source { c.script };
        EXPECT_EQ (kestrine::readPublishedVersion (source), c.expected);
    }
}

//==============================================================================
TEST (UpdateNotice, LabelForEachAnswerOfTheServer)
{
    struct Case
    {
        const char* name;
        std::string response;
        std::string label;
    };

    const auto notice = [] (const std::string& version) { return "New version available " + version; };

    const std::vector<Case> cases {
        { "newer",                        httpResponse ("2.6.0"),          notice ("2.6.0") },
        { "newer with a line break",      httpResponse ("2.6.0\n"),        notice ("2.6.0\n") },
        { "same version",                 httpResponse ("2.5.0"),          builtLabel },
        { "two-digit minor",              httpResponse ("2.10.0"),         notice ("2.10.0") },
        { "fewer digits",                 httpResponse ("3.0"),            builtLabel },
        { "mark-up page",                 httpResponse ("<html><body>Kestrine</body></html>"), builtLabel },
        { "error page with digits",       httpResponse ("404 Not Found", "404 Not Found"), notice ("404 Not Found") },
        { "empty body",                   httpResponse (""),               builtLabel },
        { "no declared length",           "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n2.6.0", notice ("2.6.0") },
        { "declared length above buffer", httpResponse (std::string (40000, '9')), builtLabel },
        { "body shorter than declared",   "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n2.6.0", builtLabel },
        { "not UTF-8",                    httpResponse ("2.6.0 \xff\xfe"), builtLabel },
        { "zero byte ends the text",      httpResponse ("2.6.0\0tail"s),   notice ("2.6.0") },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const LoopbackServer server { c.response };
        const auto label = labelFrom (server.url());

        ASSERT_TRUE (label.has_value());
        EXPECT_EQ (label->toStdString(), c.label);
        EXPECT_EQ (juce::String (server.firstRequestLine()).upToFirstOccurrenceOf (" ", false, false), "POST");
    }
}

TEST (UpdateNotice, RefusedConnectionKeepsTheBuiltLabel)
{
    const auto label = labelFrom ("http://127.0.0.1:" + juce::String (LoopbackServer::unusedPort()) + "/version.txt");

    ASSERT_TRUE (label.has_value());
    EXPECT_EQ (*label, UpdateNotice::builtLabel());
}

TEST (UpdateNotice, SilentServerNeitherBlocksTheConstructorNorHoldsTheLabelForLong)
{
    const LoopbackServer server { {}, LoopbackServer::Manner::silent };
    std::optional<juce::String> label;

    const auto start = Clock::now();
    const UpdateNotice notice { [&] (const juce::String& text) { label = text; }, server.url() };
    const auto constructionSeconds = secondsSince (start);

    kestrine::test::runMessageLoopUntil ([&] { return label.has_value(); }, 15s);
    const auto answerSeconds = secondsSince (start);

    EXPECT_LT (constructionSeconds, 0.25);   // does not wait for the network
    ASSERT_TRUE (label.has_value());
    EXPECT_EQ (*label, UpdateNotice::builtLabel());
    EXPECT_LT (answerSeconds, (UpdateNotice::requestDeadlineMs + 3000) / 1000.0);   // bounded, not the system's minutes

    std::cout << "[ timing   ] construction " << constructionSeconds * 1000.0 << " ms, silent server given up after "
              << answerSeconds << " s" << std::endl;
}

// Fast enough never to count as stalled, far too slow to finish: only the request's own
// deadline ends it (at 200 bytes a second the whole body would take over two minutes).
TEST (UpdateNotice, TricklingServerIsCutOffAtTheDeadline)
{
    const LoopbackServer server { httpResponse ("9." + std::string (30000, '9')), LoopbackServer::Manner::trickle };
    std::optional<juce::String> label;

    const auto start = Clock::now();
    const UpdateNotice notice { [&] (const juce::String& text) { label = text; }, server.url() };
    kestrine::test::runMessageLoopUntil ([&] { return label.has_value(); }, 15s);
    const auto answerSeconds = secondsSince (start);

    ASSERT_TRUE (label.has_value());
    EXPECT_EQ (*label, UpdateNotice::builtLabel());
    EXPECT_LT (answerSeconds, (UpdateNotice::requestDeadlineMs + 3000) / 1000.0);

    std::cout << "[ timing   ] trickling server cut off after " << answerSeconds << " s" << std::endl;
}

// A delivery after destruction would run the destroyed notice's receiver: under
// AddressSanitizer a reported use after free, in any build a wrong count.
TEST (UpdateNotice, DestroyedMidRequestReturnsAtOnceAndNeverDelivers)
{
    const LoopbackServer server { {}, LoopbackServer::Manner::silent };
    auto calls = std::make_unique<int> (0);
    double longestDestruction = 0.0;

    for (int round = 0; round < 5; ++round)
    {
        auto notice = std::make_unique<UpdateNotice> ([counter = calls.get()] (const juce::String&) { ++*counter; },
                                                      server.url());
        kestrine::test::runMessageLoopFor (std::chrono::milliseconds (50 * round));   // at various stages of the request

        const auto start = Clock::now();
        notice.reset();
        longestDestruction = std::max (longestDestruction, secondsSince (start));
    }

    kestrine::test::runMessageLoopFor (1500ms);

    EXPECT_EQ (*calls, 0);
    EXPECT_LT (longestDestruction, 0.5);

    std::cout << "[ timing   ] longest destruction mid-request " << longestDestruction * 1000.0 << " ms" << std::endl;
}

TEST (UpdateNotice, DestroyedWithTheAnswerStillQueuedNeverDelivers)
{
    const LoopbackServer server { httpResponse ("2.6.0") };
    auto calls = std::make_unique<int> (0);

    {
        const UpdateNotice notice { [counter = calls.get()] (const juce::String&) { ++*counter; }, server.url() };

        // The answer arrives and is queued for the message thread, which is kept busy here.
        const auto deadline = Clock::now() + 3s;
        while (server.firstRequestLine().empty() && Clock::now() < deadline)
            std::this_thread::sleep_for (10ms);

        std::this_thread::sleep_for (300ms);
    }

    kestrine::test::runMessageLoopFor (500ms);
    EXPECT_EQ (*calls, 0);
}

//==============================================================================
namespace
{
    /** A port that takes connections into its backlog and never accepts them: a request to it
        stays mid-way until it is cancelled. */
    class NeverAnsweringPort
    {
    public:
        NeverAnsweringPort()
        {
            sockaddr_in address {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
            socklen_t size = sizeof (address);

            if (::bind (listener, reinterpret_cast<sockaddr*> (&address), size) == 0 && ::listen (listener, 1) == 0)
                ::getsockname (listener, reinterpret_cast<sockaddr*> (&address), &size);

            port = ntohs (address.sin_port);
        }

        ~NeverAnsweringPort()   { ::close (listener); }

        std::string url() const { return "http://127.0.0.1:" + std::to_string (port) + "/kestrine/version.txt"; }

    private:
        const int listener = ::socket (AF_INET, SOCK_STREAM, 0);
        int port = 0;
    };

    /** Runs the exit child with each argument list, a few at a time, and describes every run
        that did not end with status 0: killed by a signal, a non-zero status, or hung. */
    std::vector<std::string> runExitChildren (const std::vector<std::vector<std::string>>& argumentLists)
    {
        constexpr std::size_t inFlight = 4;
        constexpr auto hangLimit = 60s;   // exit waits for a check a few seconds at most

        struct Running
        {
            pid_t pid;
            std::string description;
            Clock::time_point started;
        };

        std::vector<std::string> faults;
        std::vector<Running> running;
        std::size_t next = 0;

        const auto start = [&] (const std::vector<std::string>& arguments)
        {
            std::vector<std::string> line { KESTRINE_EXIT_CHILD_PATH };
            line.insert (line.end(), arguments.begin(), arguments.end());

            std::vector<char*> argv;
            for (auto& argument : line)
                argv.push_back (argument.data());
            argv.push_back (nullptr);

            std::string description;
            for (const auto& argument : arguments)
                description += argument + " ";

            pid_t pid = 0;

            if (posix_spawn (&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
                faults.push_back (description + ": could not be started");
            else
                running.push_back ({ pid, description, Clock::now() });
        };

        while (next < argumentLists.size() || ! running.empty())
        {
            while (running.size() < inFlight && next < argumentLists.size())
                start (argumentLists[next++]);

            for (auto child = running.begin(); child != running.end();)
            {
                int status = 0;
                const auto ended = ::waitpid (child->pid, &status, WNOHANG);

                if (ended == 0 && Clock::now() - child->started > hangLimit)
                {
                    ::kill (child->pid, SIGKILL);
                    ::waitpid (child->pid, &status, 0);
                    faults.push_back (child->description + ": hung at exit");
                }
                else if (ended == 0)
                {
                    ++child;
                    continue;
                }
                else if (WIFSIGNALED (status))
                    faults.push_back (child->description + ": killed by signal " + std::to_string (WTERMSIG (status)));
                else if (! WIFEXITED (status) || WEXITSTATUS (status) != 0)
                    faults.push_back (child->description + ": exit status " + std::to_string (WEXITSTATUS (status)));

                child = running.erase (child);
            }

            std::this_thread::sleep_for (2ms);
        }

        return faults;
    }
}

// A host that closes the window and quits or unloads the plug-in at once must not crash: the
// check's thread may not run library code once the process has begun to end, nor the plug-in's
// code once its module is unloaded. Each run is a child process that opens the editor, closes
// it 0, 10 or 20 ms later and ends 0 to 5 ms after that, while its check is still starting up
// or under way. A third of the runs also leave a check mid-request on a port that never
// answers; a third open the editor of the built bundle, whose module is unloaded as they end.
// 50 runs of each of the six variants: 300 children.
TEST (UpdateNoticeExit, ProcessEndingRightAfterTheEditorClosedNeverCrashes)
{
    const NeverAnsweringPort port;
    constexpr int runsPerVariant = 50;

    std::vector<std::vector<std::string>> runs;

    for (const auto* ending : { "return", "exit" })
        for (const auto& extra : { std::string(), port.url(), std::string ("bundle") })
            for (int run = 0; run < runsPerVariant; ++run)
            {
                std::vector<std::string> arguments { std::to_string ((run % 3) * 10000),
                                                     std::to_string ((run % 6) * 1000), ending };

                if (! extra.empty())
                    arguments.push_back (extra);

                runs.push_back (arguments);
            }

    const auto faults = runExitChildren (runs);

    for (const auto& fault : faults)
        ADD_FAILURE() << fault;

    std::cout << "[ exits    ] " << runs.size() << " runs, " << faults.size() << " did not end cleanly" << std::endl;
}
