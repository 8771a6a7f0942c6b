#pragma once

// The built bundle's VST3 module, loaded through the interface headers that JUCE ships, the way
// a host loads it, without JUCE's hosting layer in between.
#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstmessage.h>

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrine::test
{
    using namespace Steinberg;

    // Linux is the one platform-specific spot here: the module is a shared object with
    // ModuleEntry/ModuleExit, where macOS has a bundle with bundleEntry/bundleExit.
    inline const std::string moduleBinary = std::string (KESTRINE_BUNDLE_PATH) + "/Contents/x86_64-linux/Kestrine.so";

    class Module
    {
    public:
        Module()
        {
            handle = dlopen (moduleBinary.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr)
                return;

            using EntryFn = bool (*) (void*);
            auto* entry = reinterpret_cast<EntryFn> (dlsym (handle, "ModuleEntry"));
            entered = entry != nullptr && entry (handle);
            getFactory = reinterpret_cast<GetFactoryProc> (dlsym (handle, "GetPluginFactory"));
        }

        ~Module()
        {
            if (handle == nullptr)
                return;

            using ExitFn = bool (*)();
            if (auto* exit = reinterpret_cast<ExitFn> (dlsym (handle, "ModuleExit")); entered && exit != nullptr)
                exit();

            dlclose (handle);
        }

        void* handle = nullptr;
        bool entered = false;
        GetFactoryProc getFactory = nullptr;
    };

    // The class IDs are four 32-bit words, each stored most significant byte first. On Linux
    // (as on macOS) the VST3 headers lay a TUID out in exactly this order; only Windows'
    // COM-compatible layout swaps the bytes of the first three fields.
    constexpr std::array<unsigned char, 16> componentId { 0xAB, 0xCD, 0xEF, 0x01, 0x91, 0x82, 0xFA, 0xEB,
                                                          'M', 'R', 'V', 'N', 'K', 'S', 'T', 'R' };
    constexpr std::array<unsigned char, 16> controllerId { 0xAB, 0xCD, 0xEF, 0x01, 0x12, 0x34, 0xAB, 0xCD,
                                                           'M', 'R', 'V', 'N', 'K', 'S', 'T', 'R' };

    template <typename Interface>
    Interface* query (FUnknown* object)
    {
        void* result = nullptr;
        if (object->queryInterface (Interface::iid, &result) != kResultOk)
            return nullptr;
        return static_cast<Interface*> (result);
    }

    /** A component and its controller, connected as a host connects them. */
    struct ConnectedPlugin
    {
        explicit ConnectedPlugin (IPluginFactory& f) : factory (f)
        {
            void* object = nullptr;
            if (factory.createInstance (reinterpret_cast<FIDString> (componentId.data()), Vst::IComponent::iid, &object) != kResultOk)
                return;
            component = static_cast<Vst::IComponent*> (object);
            component->initialize (nullptr);

            if (factory.createInstance (reinterpret_cast<FIDString> (controllerId.data()), Vst::IEditController::iid, &object) != kResultOk)
                return;
            controller = static_cast<Vst::IEditController*> (object);
            controller->initialize (nullptr);

            componentPoint = query<Vst::IConnectionPoint> (component);
            controllerPoint = query<Vst::IConnectionPoint> (controller);
            if (componentPoint != nullptr && controllerPoint != nullptr)
            {
                componentPoint->connect (controllerPoint);
                controllerPoint->connect (componentPoint);
            }
        }

        ~ConnectedPlugin()
        {
            if (componentPoint != nullptr && controllerPoint != nullptr)
            {
                controllerPoint->disconnect (componentPoint);
                componentPoint->disconnect (controllerPoint);
            }
            for (auto* point : { componentPoint, controllerPoint })
                if (point != nullptr)
                    point->release();
            if (controller != nullptr)
            {
                controller->terminate();
                controller->release();
            }
            if (component != nullptr)
            {
                component->terminate();
                component->release();
            }
        }

        IPluginFactory& factory;
        Vst::IComponent* component = nullptr;
        Vst::IEditController* controller = nullptr;
        Vst::IConnectionPoint* componentPoint = nullptr;
        Vst::IConnectionPoint* controllerPoint = nullptr;
    };

    /** A stream over bytes in memory, as a host hands a state to a component or takes one
        from it. Lives on the stack: reference counting is kept but never deletes. */
    class BytesStream final  : public IBStream
    {
    public:
        BytesStream() = default;
        explicit BytesStream (std::vector<std::uint8_t> initial) : bytes (std::move (initial)) {}

        const std::vector<std::uint8_t>& data() const noexcept { return bytes; }

        tresult PLUGIN_API queryInterface (const TUID wanted, void** object) override
        {
            if (FUnknownPrivate::iidEqual (wanted, IBStream::iid) || FUnknownPrivate::iidEqual (wanted, FUnknown::iid))
            {
                addRef();
                *object = this;
                return kResultOk;
            }

            *object = nullptr;
            return kNoInterface;
        }

        uint32 PLUGIN_API addRef() override  { return ++references; }
        uint32 PLUGIN_API release() override { return --references; }

        tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
        {
            const auto available = static_cast<int64> (bytes.size()) - position;
            const auto count = static_cast<int32> (std::clamp<int64> (numBytes, 0, std::max<int64> (0, available)));

            if (count > 0)
                std::memcpy (buffer, bytes.data() + position, static_cast<size_t> (count));

            position += count;

            if (numBytesRead != nullptr)
                *numBytesRead = count;

            return kResultTrue;
        }

        tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override
        {
            if (numBytes < 0)
                return kInvalidArgument;

            const auto end = static_cast<size_t> (position) + static_cast<size_t> (numBytes);
            bytes.resize (std::max (bytes.size(), end));

            if (numBytes > 0)
                std::memcpy (bytes.data() + position, buffer, static_cast<size_t> (numBytes));
            position = static_cast<int64> (end);

            if (numBytesWritten != nullptr)
                *numBytesWritten = numBytes;

            return kResultTrue;
        }

        tresult PLUGIN_API seek (int64 offset, int32 mode, int64* result) override
        {
            const auto base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? position : static_cast<int64> (bytes.size());
            const auto target = base + offset;

            if (target < 0)
                return kInvalidArgument;

            position = target;

            if (result != nullptr)
                *result = position;

            return kResultTrue;
        }

        tresult PLUGIN_API tell (int64* result) override
        {
            if (result == nullptr)
                return kInvalidArgument;

            *result = position;
            return kResultTrue;
        }

    private:
        std::vector<std::uint8_t> bytes;
        int64 position = 0;
        uint32 references = 1;
    };
}
