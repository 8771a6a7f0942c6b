// A process that opens and closes the editor and then ends at once, as a host does that quits
// right after its window was closed. The exit tests start it many times and look only at how
// it ended: a crash or a hang during exit is a fault.
//
// Usage: kestrine-exit-child OPEN_US DELAY_US return|exit [VERSION_URL | bundle]
//   OPEN_US      microseconds the window stays open, with the message loop running
//   DELAY_US     microseconds between closing the plug-in and ending the process
//   return       shut the framework down and return from main (a host that unloads the plug-in)
//   exit         call std::exit with the framework still up (a host that just quits)
//   VERSION_URL  also open and close a bare update notice on this address, so that a check is
//                still mid-request when the process ends
//   bundle       open the editor of the built Kestrine.vst3, loaded through the framework's VST3
//                hosting as a DAW loads it, instead of the linked-in plug-in; with return, the
//                module is unloaded when the framework shuts down

#include "PluginHost.h"
#include "PluginProcessor.h"
#include "UpdateNotice.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

int main (int argc, char** argv)
{
    // The crashes this process exists to show need no core files.
    const rlimit noCoreFiles { 0, 0 };
    setrlimit (RLIMIT_CORE, &noCoreFiles);

    if (argc < 4 || (std::strcmp (argv[3], "return") != 0 && std::strcmp (argv[3], "exit") != 0))
    {
        std::cerr << "usage: kestrine-exit-child OPEN_US DELAY_US return|exit [VERSION_URL | bundle]\n";
        return 2;
    }

    const auto openTime = std::chrono::microseconds (std::atol (argv[1]));
    const auto delay = std::chrono::microseconds (std::atol (argv[2]));
    const bool viaExit = std::strcmp (argv[3], "exit") == 0;
    const bool fromBundle = argc > 4 && std::strcmp (argv[4], "bundle") == 0;

    std::optional<juce::ScopedJuceInitialiser_GUI> framework;
    framework.emplace();

    {
        std::unique_ptr<juce::AudioProcessor> processor;

        if (fromBundle)
            processor = kestrine::test::loadBuiltPlugin();
        else
            processor = std::make_unique<CompressorAudioProcessor>();

        if (processor == nullptr)
        {
            std::cerr << "kestrine-exit-child: the built bundle did not load\n";
            return 1;
        }

        std::unique_ptr<juce::AudioProcessorEditor> editor (processor->createEditorIfNeeded());
        std::optional<UpdateNotice> notice;

        if (argc > 4 && ! fromBundle)
            notice.emplace ([] (const juce::String&) {}, juce::String (argv[4]));

        const auto closing = std::chrono::steady_clock::now() + openTime;

        while (std::chrono::steady_clock::now() < closing)
            juce::MessageManager::getInstance()->runDispatchLoopUntil (1);

        notice.reset();
        editor.reset();
    }

    std::this_thread::sleep_for (delay);

    if (viaExit)
        std::exit (0);

    framework.reset();
    return 0;
}
