// The standalone application: the framework's standalone window (the editor, its Options menu
// with the audio settings, the state files) around one plug-in instance, as the framework's own
// standalone application makes it, and a clean quit when the system asks for one with SIGTERM.
// Compiled into the standalone application only.

#include <juce_core/system/juce_TargetPlatform.h>
#include <juce_audio_plugin_client/utility/juce_CheckSettingMacros.h>
#include <juce_audio_plugin_client/utility/juce_IncludeSystemHeaders.h>
#include <juce_audio_plugin_client/utility/juce_IncludeModuleHeaders.h>

#include <juce_audio_devices/juce_audio_devices.h>
#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_extra/juce_gui_extra.h>

#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

#if JUCE_LINUX || JUCE_BSD
 #include <atomic>
 #include <csignal>
 #include <fcntl.h>
 #include <unistd.h>
#endif

namespace
{
   #if JUCE_LINUX || JUCE_BSD
    /** Platform spot (Linux): turns SIGTERM into a quit request on the message thread. The
        handler only writes a byte into a pipe, which is safe inside a signal handler; the
        message loop watches the pipe and asks the application to quit, as closing its window
        does. While one exists, SIGTERM is handled; afterwards it has its default action again. */
    class TerminationRequests
    {
    public:
        explicit TerminationRequests (std::function<void()> onRequest)
        {
            if (::pipe2 (pipeEnds.data(), O_CLOEXEC | O_NONBLOCK) != 0)
                return;

            writeEnd = pipeEnds[1];
            juce::LinuxEventLoop::registerFdCallback (pipeEnds[0], [onRequest = std::move (onRequest)] (int fd)
            {
                char drained[16];
                while (::read (fd, drained, sizeof (drained)) > 0) {}
                onRequest();
            });

            struct sigaction action {};
            action.sa_handler = handleSignal;
            sigemptyset (&action.sa_mask);
            action.sa_flags = SA_RESTART;
            ::sigaction (SIGTERM, &action, &previous);
        }

        ~TerminationRequests()
        {
            if (pipeEnds[0] < 0)
                return;

            ::sigaction (SIGTERM, &previous, nullptr);
            writeEnd = -1;
            juce::LinuxEventLoop::unregisterFdCallback (pipeEnds[0]);
            ::close (pipeEnds[0]);
            ::close (pipeEnds[1]);
        }

    private:
        static void handleSignal (int)
        {
            const char request = 1;
            [[maybe_unused]] const auto written = ::write (writeEnd.load(), &request, 1);
        }

        // The pipe's write end: set on the message thread, read by the signal handler on
        // whichever thread the signal arrives. Lock-free, so the handler may read it.
        static inline std::atomic<int> writeEnd { -1 };
        static_assert (std::atomic<int>::is_always_lock_free);

        std::array<int, 2> pipeEnds { -1, -1 };
        struct sigaction previous {};

        JUCE_DECLARE_NON_COPYABLE (TerminationRequests)
    };
   #endif

    class KestrineStandaloneApp  : public juce::JUCEApplication
    {
    public:
        KestrineStandaloneApp()
        {
            juce::PropertiesFile::Options options;
            options.applicationName     = getApplicationName();
            options.filenameSuffix      = ".settings";
            options.osxLibrarySubFolder = "Application Support";
           #if JUCE_LINUX || JUCE_BSD
            options.folderName          = "~/.config";
           #endif
            properties.setStorageParameters (options);
        }

        const juce::String getApplicationName() override           { return JucePlugin_Name; }
        const juce::String getApplicationVersion() override        { return JucePlugin_VersionString; }
        bool moreThanOneInstanceAllowed() override                 { return true; }
        void anotherInstanceStarted (const juce::String&) override {}

        void initialise (const juce::String&) override
        {
            window = std::make_unique<juce::StandaloneFilterWindow> (
                getApplicationName(),
                juce::LookAndFeel::getDefaultLookAndFeel().findColour (juce::ResizableWindow::backgroundColourId),
                properties.getUserSettings(), false);
            window->setVisible (true);

           #if JUCE_LINUX || JUCE_BSD
            termination = std::make_unique<TerminationRequests> ([this] { systemRequestedQuit(); });
           #endif
        }

        void shutdown() override
        {
           #if JUCE_LINUX || JUCE_BSD
            termination.reset();
           #endif
            window.reset();
            properties.saveIfNeeded();
        }

        /** A quit asked for by the system (SIGTERM, the session ending): keep the plug-in's
            state as closing the window does, close any open dialog, then quit. */
        void systemRequestedQuit() override
        {
            if (window != nullptr)
                window->pluginHolder->savePluginState();

            if (juce::ModalComponentManager::getInstance()->cancelAllModalComponents())
            {
                constexpr int retryMs = 100;   // the dialogs close on the message loop first
                juce::Timer::callAfterDelay (retryMs, []
                {
                    if (auto* app = juce::JUCEApplicationBase::getInstance())
                        app->systemRequestedQuit();
                });
                return;
            }

            quit();
        }

    private:
        juce::ApplicationProperties properties;
        std::unique_ptr<juce::StandaloneFilterWindow> window;
       #if JUCE_LINUX || JUCE_BSD
        std::unique_ptr<TerminationRequests> termination;
       #endif
    };
}

START_JUCE_APPLICATION (KestrineStandaloneApp)
