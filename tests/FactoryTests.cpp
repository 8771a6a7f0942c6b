// Walks the bundle's VST3 factory through the interface headers that JUCE ships, the way a
// host's scanner does, without JUCE's hosting layer in between.
#include "Vst3Module.h"
#include "Vst3ParameterId.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <pluginterfaces/gui/iplugview.h>

#include "X11TestWindow.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace kestrine::test;

namespace
{
    using namespace Steinberg;

    template <size_t N>
    void expectPaddedText (const char (&field)[N], const char* expected, const char* what)
    {
        const auto length = std::strlen (expected);
        ASSERT_LT (length, N);
        EXPECT_EQ (std::string (field, length), expected) << what;

        for (size_t i = length; i < N; ++i)
            ASSERT_EQ (field[i], 0) << what << " byte " << i;
    }

    bool sameId (const TUID id, const std::array<unsigned char, 16>& expected)
    {
        return std::memcmp (id, expected.data(), 16) == 0;
    }
}

TEST (Factory, ModuleExportsItsEntryPoints)
{
    Module module;
    ASSERT_NE (module.handle, nullptr) << dlerror();
    EXPECT_TRUE (module.entered);
    EXPECT_NE (module.getFactory, nullptr);
}

TEST (Factory, InformationAndClassesAreTheIdentity)
{
    Module module;
    ASSERT_NE (module.getFactory, nullptr);
    IPluginFactory* factory = module.getFactory();
    ASSERT_NE (factory, nullptr);

    PFactoryInfo info {};
    std::memset (static_cast<void*> (&info), 0x5A, sizeof (info));   // every unused byte must be overwritten with zero
    ASSERT_EQ (factory->getFactoryInfo (&info), kResultOk);
    expectPaddedText (info.vendor, "Morvane Audio", "vendor");
    expectPaddedText (info.url, "https://www.morvane-audio.com", "url");
    expectPaddedText (info.email, "support@morvane-audio.com", "email");
    EXPECT_EQ (info.flags, 16);

    ASSERT_EQ (factory->countClasses(), 2);

    auto* factory2 = query<IPluginFactory2> (factory);
    auto* factory3 = query<IPluginFactory3> (factory);
    ASSERT_NE (factory2, nullptr);
    ASSERT_NE (factory3, nullptr);

    const char* categories[] = { "Audio Module Class", "Component Controller Class" };
    const std::array<unsigned char, 16>* ids[] = { &componentId, &controllerId };

    for (int32 i = 0; i < 2; ++i)
    {
        PClassInfo2 c {};
        std::memset (static_cast<void*> (&c), 0x5A, sizeof (c));
        ASSERT_EQ (factory2->getClassInfo2 (i, &c), kResultOk);

        EXPECT_TRUE (sameId (c.cid, *ids[i])) << "class " << i;
        EXPECT_EQ (c.cardinality, 2147483647);
        expectPaddedText (c.category, categories[i], "category");
        expectPaddedText (c.name, "Kestrine", "name");
        EXPECT_EQ (c.classFlags, 0u);
        expectPaddedText (c.subCategories, "Fx|Dynamics", "subCategories");
        expectPaddedText (c.vendor, "Morvane Audio", "class vendor");
        expectPaddedText (c.version, "2.5.0", "version");
        expectPaddedText (c.sdkVersion, "VST 3.7.2", "sdkVersion");

        PClassInfo plain {};
        ASSERT_EQ (factory->getClassInfo (i, &plain), kResultOk);
        EXPECT_TRUE (sameId (plain.cid, *ids[i]));
        EXPECT_STREQ (plain.category, categories[i]);
        EXPECT_STREQ (plain.name, "Kestrine");

        PClassInfoW wide {};
        ASSERT_EQ (factory3->getClassInfoUnicode (i, &wide), kResultOk);
        EXPECT_TRUE (sameId (wide.cid, *ids[i]));
        EXPECT_EQ (wide.name[0], u'K');
        EXPECT_EQ (wide.name[8], 0);
    }

    factory2->release();
    factory3->release();
    factory->release();
}

TEST (Factory, ReturnsTheSameFactoryWithOneMoreReference)
{
    Module module;
    ASSERT_NE (module.getFactory, nullptr);

    IPluginFactory* first = module.getFactory();
    const auto countAfterFirst = first->addRef() - 1;
    first->release();

    IPluginFactory* second = module.getFactory();
    EXPECT_EQ (first, second);
    const auto countAfterSecond = second->addRef() - 1;
    second->release();

    EXPECT_EQ (countAfterSecond, countAfterFirst + 1);

    second->release();
    first->release();
}

TEST (Factory, ComponentHasNoEventBusesRefusesDoublesAndNamesItsController)
{
    Module module;
    ASSERT_NE (module.getFactory, nullptr);
    IPluginFactory* factory = module.getFactory();

    void* object = nullptr;
    ASSERT_EQ (factory->createInstance (reinterpret_cast<FIDString> (componentId.data()),
                                        Vst::IComponent::iid, &object), kResultOk);
    auto* component = static_cast<Vst::IComponent*> (object);
    ASSERT_EQ (component->initialize (nullptr), kResultOk);

    EXPECT_EQ (component->getBusCount (Vst::kEvent, Vst::kInput), 0);
    EXPECT_EQ (component->getBusCount (Vst::kEvent, Vst::kOutput), 0);
    EXPECT_EQ (component->getBusCount (Vst::kAudio, Vst::kInput), 1);
    EXPECT_EQ (component->getBusCount (Vst::kAudio, Vst::kOutput), 1);

    TUID controller {};
    ASSERT_EQ (component->getControllerClassId (controller), kResultOk);
    EXPECT_TRUE (sameId (controller, controllerId));

    auto* processor = query<Vst::IAudioProcessor> (component);
    ASSERT_NE (processor, nullptr);
    EXPECT_EQ (processor->canProcessSampleSize (Vst::kSample32), kResultOk);
    EXPECT_NE (processor->canProcessSampleSize (Vst::kSample64), kResultOk);
    processor->release();

    component->terminate();
    component->release();
    factory->release();
}

namespace
{
    std::u16string text (const Vst::TChar* chars)
    {
        return std::u16string (reinterpret_cast<const char16_t*> (chars));
    }

    constexpr int32 fourCharCode (const char (&code)[5])
    {
        return static_cast<int32> ((static_cast<uint32> (code[0]) << 24) | (static_cast<uint32> (code[1]) << 16)
                                   | (static_cast<uint32> (code[2]) << 8) | static_cast<uint32> (code[3]));
    }
}

TEST (Factory, ControllerOffersFourteenParametersOneUnitAndOneProgram)
{
    Module module;
    ASSERT_NE (module.getFactory, nullptr);
    IPluginFactory* factory = module.getFactory();
    {
        ConnectedPlugin plugin (*factory);
        ASSERT_NE (plugin.controller, nullptr);
        auto* controller = plugin.controller;

        const char* ids[] = { "amplitude1", "frequency1", "wavelength1", "amplitude2", "frequency2", "wavelength2",
                              "amplitude3", "frequency3", "wavelength3", "velocity", "distortion", "drywet", "backColor" };

        ASSERT_EQ (controller->getParameterCount(), 14);

        for (int32 i = 0; i < 14; ++i)
        {
            Vst::ParameterInfo info {};
            ASSERT_EQ (controller->getParameterInfo (i, info), kResultOk);
            EXPECT_EQ (info.flags & Vst::ParameterInfo::kIsProgramChange, 0);

            if (i < 13)
            {
                EXPECT_EQ (info.id, kestrine::vst3ParameterId (ids[i])) << ids[i];
                EXPECT_NE (info.flags & Vst::ParameterInfo::kCanAutomate, 0) << ids[i];
            }
            else
            {
                EXPECT_EQ (info.id, 1652125811u);
                EXPECT_EQ (text (info.title), u"Bypass");
                EXPECT_NE (info.flags & Vst::ParameterInfo::kIsBypass, 0);
                EXPECT_EQ (info.stepCount, 1);
                EXPECT_EQ (info.defaultNormalizedValue, 0.0);
            }
        }

        auto* units = query<Vst::IUnitInfo> (controller);
        ASSERT_NE (units, nullptr);
        ASSERT_EQ (units->getUnitCount(), 1);

        Vst::UnitInfo unit {};
        ASSERT_EQ (units->getUnitInfo (0, unit), kResultOk);
        EXPECT_EQ (unit.id, Vst::kRootUnitId);
        EXPECT_EQ (unit.parentUnitId, Vst::kNoParentUnitId);
        EXPECT_EQ (text (unit.name), u"Root Unit");
        EXPECT_EQ (unit.programListId, fourCharCode ("prst"));
        EXPECT_EQ (fourCharCode ("prst"), 1886548852);

        ASSERT_EQ (units->getProgramListCount(), 1);
        Vst::ProgramListInfo list {};
        ASSERT_EQ (units->getProgramListInfo (0, list), kResultOk);
        EXPECT_EQ (list.id, 1886548852);
        EXPECT_EQ (text (list.name), u"Factory Presets");
        EXPECT_EQ (list.programCount, 1);

        Vst::String128 name {};
        ASSERT_EQ (units->getProgramName (list.id, 0, name), kResultOk);
        EXPECT_EQ (text (name), u"Default");
        units->release();

        if (auto* view = controller->createView (Vst::ViewType::kEditor))
        {
            EXPECT_EQ (view->canResize(), kResultFalse);
            view->release();
        }
        else
        {
            ADD_FAILURE() << "no editor view";
        }
    }
    factory->release();
}

//==============================================================================
namespace
{
    /** The host's side of parameter edits: records beginEdit, performEdit and endEdit in order. */
    class EditRecorder  : public Vst::IComponentHandler
    {
    public:
        tresult PLUGIN_API beginEdit (Vst::ParamID id) override                    { return record ('b', id); }
        tresult PLUGIN_API performEdit (Vst::ParamID id, Vst::ParamValue) override  { return record ('p', id); }
        tresult PLUGIN_API endEdit (Vst::ParamID id) override                      { return record ('e', id); }
        tresult PLUGIN_API restartComponent (int32) override                       { return kResultOk; }

        tresult PLUGIN_API queryInterface (const TUID requested, void** object) override
        {
            if (FUnknownPrivate::iidEqual (requested, FUnknown::iid) || FUnknownPrivate::iidEqual (requested, Vst::IComponentHandler::iid))
            {
                *object = this;
                return kResultOk;
            }

            *object = nullptr;
            return kNoInterface;
        }

        uint32 PLUGIN_API addRef() override   { return 1; }
        uint32 PLUGIN_API release() override  { return 1; }

        /** The edits of one parameter, in order: "b", "p" and "e". */
        std::string edits (Vst::ParamID id) const
        {
            const std::lock_guard<std::mutex> lock (mutex);
            std::string kinds;
            for (const auto& [kind, editedId] : events)
                if (editedId == id)
                    kinds += kind;
            return kinds;
        }

        std::vector<Vst::ParamID> editedIds() const
        {
            const std::lock_guard<std::mutex> lock (mutex);
            std::vector<Vst::ParamID> ids;
            for (const auto& event : events)
                ids.push_back (event.second);
            return ids;
        }

    private:
        tresult record (char kind, Vst::ParamID id)
        {
            const std::lock_guard<std::mutex> lock (mutex);
            events.emplace_back (kind, id);
            return kResultOk;
        }

        mutable std::mutex mutex;   // the plug-in may call from its own message thread before the view is attached
        std::vector<std::pair<char, Vst::ParamID>> events;
    };

    /** The host's window frame and run loop for an embedded view: the plug-in registers its file
        descriptors and timers, and pump() serves them on the calling thread, which so becomes
        the plug-in's message thread. */
    class HostFrame  : public IPlugFrame,
                       public Linux::IRunLoop
    {
    public:
        tresult PLUGIN_API resizeView (IPlugView* view, ViewRect* newSize) override
        {
            return view != nullptr && newSize != nullptr ? view->onSize (newSize) : kInvalidArgument;
        }

        tresult PLUGIN_API registerEventHandler (Linux::IEventHandler* handler, Linux::FileDescriptor fd) override
        {
            handlers.push_back ({ handler, fd });
            return kResultOk;
        }

        tresult PLUGIN_API unregisterEventHandler (Linux::IEventHandler* handler) override
        {
            handlers.erase (std::remove_if (handlers.begin(), handlers.end(), [handler] (const auto& h) { return h.first == handler; }),
                            handlers.end());
            return kResultOk;
        }

        tresult PLUGIN_API registerTimer (Linux::ITimerHandler* handler, Linux::TimerInterval milliseconds) override
        {
            timers.push_back ({ handler, std::chrono::milliseconds (milliseconds), Clock::now() + std::chrono::milliseconds (milliseconds) });
            return kResultOk;
        }

        tresult PLUGIN_API unregisterTimer (Linux::ITimerHandler* handler) override
        {
            timers.erase (std::remove_if (timers.begin(), timers.end(), [handler] (const auto& t) { return t.handler == handler; }),
                          timers.end());
            return kResultOk;
        }

        tresult PLUGIN_API queryInterface (const TUID requested, void** object) override
        {
            if (FUnknownPrivate::iidEqual (requested, FUnknown::iid) || FUnknownPrivate::iidEqual (requested, IPlugFrame::iid))
            {
                *object = static_cast<IPlugFrame*> (this);
                return kResultOk;
            }

            if (FUnknownPrivate::iidEqual (requested, Linux::IRunLoop::iid))
            {
                *object = static_cast<Linux::IRunLoop*> (this);
                return kResultOk;
            }

            *object = nullptr;
            return kNoInterface;
        }

        uint32 PLUGIN_API addRef() override   { return 1; }
        uint32 PLUGIN_API release() override  { return 1; }

        /** Serves whatever is due: readable descriptors (waiting at most a few milliseconds)
            and timers. Handlers may register and unregister while they run. */
        void pump()
        {
            std::vector<pollfd> fds;
            for (const auto& h : handlers)
                fds.push_back ({ h.second, POLLIN, 0 });

            if (poll (fds.data(), static_cast<nfds_t> (fds.size()), 2) > 0)
                for (const auto& fd : fds)
                    if ((fd.revents & POLLIN) != 0)
                        for (const auto& h : std::vector<Handler> (handlers))
                            if (h.second == fd.fd && isRegistered (h))
                                h.first->onFDIsSet (fd.fd);

            const auto now = Clock::now();
            for (size_t i = 0; i < timers.size(); ++i)
            {
                if (timers[i].due > now)
                    continue;

                timers[i].due = now + timers[i].interval;
                timers[i].handler->onTimer();
            }
        }

    private:
        using Clock = std::chrono::steady_clock;
        using Handler = std::pair<Linux::IEventHandler*, Linux::FileDescriptor>;

        struct Timer
        {
            Linux::ITimerHandler* handler;
            std::chrono::milliseconds interval;
            Clock::time_point due;
        };

        bool isRegistered (const Handler& h) const
        {
            return std::find (handlers.begin(), handlers.end(), h) != handlers.end();
        }

        std::vector<Handler> handlers;
        std::vector<Timer> timers;
    };

    /** Stereo blocks of a sine through the component's process call, as a host's audio thread
        would send them. */
    class AudioFeed
    {
    public:
        explicit AudioFeed (Vst::IAudioProcessor& p) : processor (p)
        {
            Vst::ProcessSetup setup { Vst::kRealtime, Vst::kSample32, blockSize, 48000.0 };
            ok = processor.setupProcessing (setup) == kResultOk;
        }

        bool process()
        {
            for (int i = 0; i < blockSize; ++i, phase += 0.05)
                for (auto& channel : input)
                    channel[static_cast<size_t> (i)] = static_cast<float> (0.5 * std::sin (phase));

            std::array<float*, 2> in { input[0].data(), input[1].data() };
            std::array<float*, 2> out { output[0].data(), output[1].data() };
            Vst::AudioBusBuffers inputBus {}, outputBus {};
            inputBus.numChannels = 2;
            inputBus.channelBuffers32 = in.data();
            outputBus.numChannels = 2;
            outputBus.channelBuffers32 = out.data();

            Vst::ProcessData data {};
            data.processMode = Vst::kRealtime;
            data.symbolicSampleSize = Vst::kSample32;
            data.numSamples = blockSize;
            data.numInputs = 1;
            data.numOutputs = 1;
            data.inputs = &inputBus;
            data.outputs = &outputBus;
            return processor.process (data) == kResultOk;
        }

        static constexpr int32 blockSize = 512;
        bool ok = false;

    private:
        Vst::IAudioProcessor& processor;
        std::array<std::array<float, blockSize>, 2> input {}, output {};
        double phase = 0.0;
    };
}

// A drag of handle 2 in the real editor, through the real VST3 wrapper: the view is embedded in
// an X11 window, the X server moves and presses the mouse, and the host's component handler
// sees one beginEdit and one endEdit for each of "frequency2" and "amplitude2", with every
// performEdit between them. Audio runs throughout, as the handles take the mouse only then.
// Needs a display; CTest runs it under xvfb-run.
TEST (Factory, AHandleDragIsOneEditOfEachOfItsParametersThroughTheWrapper)
{
    if (std::getenv ("DISPLAY") == nullptr)
        GTEST_SKIP() << "needs a display: run under xvfb-run -a";

    kestrine::test::X11TestWindow window (840, 520);
    ASSERT_TRUE (window.valid()) << "no X display or no XTest extension";

    Module module;
    ASSERT_NE (module.getFactory, nullptr);
    IPluginFactory* factory = module.getFactory();
    {
        ConnectedPlugin plugin (*factory);
        ASSERT_NE (plugin.controller, nullptr);

        EditRecorder host;
        ASSERT_EQ (plugin.controller->setComponentHandler (&host), kResultOk);

        auto* audioProcessor = query<Vst::IAudioProcessor> (plugin.component);
        ASSERT_NE (audioProcessor, nullptr);
        AudioFeed audio (*audioProcessor);
        ASSERT_TRUE (audio.ok);
        plugin.component->setActive (true);
        audioProcessor->setProcessing (true);

        IPlugView* view = plugin.controller->createView (Vst::ViewType::kEditor);
        ASSERT_NE (view, nullptr);
        HostFrame frame;
        view->setFrame (&frame);
        ASSERT_EQ (view->attached (reinterpret_cast<void*> (window.windowId()), kPlatformTypeX11EmbedWindowID), kResultOk);

        // Runs the plug-in's events and one audio block per round until the condition holds;
        // the limit only ends a wait that would otherwise never end.
        const auto pumpUntil = [&] (const std::function<bool()>& condition)
        {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds (10);
            while (! condition())
            {
                if (std::chrono::steady_clock::now() > limit)
                    return false;
                frame.pump();
                audio.process();
            }
            return true;
        };

        const auto frequency2 = kestrine::vst3ParameterId ("frequency2");
        const auto amplitude2 = kestrine::vst3ParameterId ("amplitude2");
        const auto performs = [&] (Vst::ParamID id)
        {
            const auto edits = host.edits (id);
            return std::count (edits.begin(), edits.end(), 'p');
        };

        ASSERT_TRUE (pumpUntil ([&] { return window.childIsViewable(); }));
        int rounds = 0;
        pumpUntil ([&] { return ++rounds > 20; });   // the editor's first repaints

        // Handle 2 rests at position 400, amplitude 0: its 14-pixel circle's centre is at (421, 280).
        window.moveMouseTo (421, 280);
        window.pressLeftButton();
        ASSERT_TRUE (pumpUntil ([&] { return host.edits (frequency2).find ('b') != std::string::npos; })) << "no beginEdit after the press on handle 2";

        for (const auto& [x, y] : { std::pair (431, 275), std::pair (441, 270), std::pair (451, 260) })
        {
            const auto before = performs (frequency2);
            window.moveMouseTo (x, y);
            ASSERT_TRUE (pumpUntil ([&] { return performs (frequency2) > before; })) << x << ", " << y;
        }

        window.moveMouseTo (456, 257);
        window.releaseLeftButton();
        ASSERT_TRUE (pumpUntil ([&] { return host.edits (amplitude2).find ('e') != std::string::npos; }));

        // A few more repaints: whatever the handle pass writes after the mouse-up would show here.
        rounds = 0;
        pumpUntil ([&] { return ++rounds > 30; });

        for (const auto id : { frequency2, amplitude2 })
        {
            const auto edits = host.edits (id);
            SCOPED_TRACE (edits);
            ASSERT_GE (edits.size(), 3u);
            EXPECT_EQ (edits.front(), 'b');
            EXPECT_EQ (edits.back(), 'e');
            EXPECT_EQ (edits.substr (1, edits.size() - 2).find_first_not_of ('p'), std::string::npos);
        }

        for (const auto id : host.editedIds())
            EXPECT_TRUE (id == frequency2 || id == amplitude2) << "edit of parameter " << id;

        view->removed();
        view->setFrame (nullptr);
        view->release();
        audioProcessor->setProcessing (false);
        plugin.component->setActive (false);
        audioProcessor->release();
        plugin.controller->setComponentHandler (nullptr);
    }
    factory->release();
}
