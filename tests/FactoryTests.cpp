// Walks the bundle's VST3 factory through the interface headers that JUCE ships, the way a
// host's scanner does, without JUCE's hosting layer in between.
#include "Vst3Module.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstunits.h>
#include <pluginterfaces/gui/iplugview.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

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
    std::memset (&info, 0x5A, sizeof (info));   // every unused byte must be overwritten with zero
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
        std::memset (&c, 0x5A, sizeof (c));
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

    uint32 hashedParameterId (const char* id)
    {
        uint32 hash = 0;
        for (auto* c = id; *c != 0; ++c)
            hash = hash * 31 + static_cast<uint32> (static_cast<unsigned char> (*c));
        return hash & 0x7fffffff;
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
                EXPECT_EQ (info.id, hashedParameterId (ids[i])) << ids[i];
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
