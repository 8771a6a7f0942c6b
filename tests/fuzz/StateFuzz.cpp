// libFuzzer target: arbitrary bytes into setStateInformation of one long-lived processor.
//
// Each input starts from the same known state (every parameter away from its default). A block
// that the header alone rules out must change nothing; any block that changes something must
// leave a "PARAMETERS" tree (any letter case) with an entry for every parameter and every
// parameter finite and inside its range, and saving that state and restoring it again must
// give the same values. A broken rule aborts, which libFuzzer reports as a finding.

#include "PluginProcessor.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace
{
    constexpr std::uint8_t magicBytes[] { 0x56, 0x43, 0x32, 0x21 };
    constexpr int headerBytes = 8;

    struct Snapshot
    {
        std::array<float, ParameterIds::all.size()> values {};
        juce::String tree;

        bool operator== (const Snapshot& other) const
        {
            // Compared bit for bit, so that a NaN that crept in is a difference too.
            return std::memcmp (values.data(), other.values.data(), sizeof (values)) == 0 && tree == other.tree;
        }
    };

    Snapshot snapshotOf (CompressorAudioProcessor& processor)
    {
        Snapshot snapshot;
        snapshot.tree = processor.parameters.state.toXmlString();

        for (size_t i = 0; i < snapshot.values.size(); ++i)
            snapshot.values[i] = processor.parameters.getRawParameterValue (ParameterIds::all[i])->load();

        return snapshot;
    }

    [[noreturn]] void fail (const char* what)
    {
        std::fprintf (stderr, "kestrine-state-fuzz: %s\n", what);
        std::abort();
    }

    /** Refused by the header alone: too short, wrong magic number, N zero or negative, or a text
        that starts with the zero byte. Written apart from the plug-in's own reader on purpose. */
    bool headerRefuses (const std::uint8_t* data, size_t size)
    {
        if (size < static_cast<size_t> (headerBytes + 1) || std::memcmp (data, magicBytes, 4) != 0)
            return true;

        const auto n = static_cast<std::int32_t> (static_cast<std::uint32_t> (data[4])
                                                  | static_cast<std::uint32_t> (data[5]) << 8
                                                  | static_cast<std::uint32_t> (data[6]) << 16
                                                  | static_cast<std::uint32_t> (data[7]) << 24);
        return n <= 0 || data[headerBytes] == 0;
    }

    void checkAccepted (CompressorAudioProcessor& processor)
    {
        const auto& tree = processor.parameters.state;

        if (! tree.getType().toString().equalsIgnoreCase ("PARAMETERS"))
            fail ("a changed tree whose root is not PARAMETERS");

        for (const auto* id : ParameterIds::all)
        {
            const auto value = processor.parameters.getRawParameterValue (id)->load();
            const auto range = processor.parameters.getParameterRange (id);

            if (! std::isfinite (value) || value < range.start || value > range.end)
                fail ("a parameter left non-finite or outside its range");

            if (! tree.getChildWithProperty ("id", juce::String (id)).isValid())
                fail ("a parameter left without an entry in the tree");
        }

        // What was taken must survive a save and a restore unchanged.
        const auto before = snapshotOf (processor).values;
        juce::MemoryBlock block;
        processor.getStateInformation (block);
        processor.setStateInformation (block.getData(), static_cast<int> (block.getSize()));

        if (snapshotOf (processor).values != before)
            fail ("a restored state did not survive a save and a restore");
    }

    struct Harness
    {
        Harness()
        {
            // A known state with every parameter away from its default.
            for (auto* parameter : processor.getParameters())
                parameter->setValueNotifyingHost (0.37f);

            knownState = processor.parameters.copyState();
            knownSnapshot = snapshotOf (processor);
        }

        void reset()
        {
            processor.parameters.replaceState (knownState.createCopy());

            if (! (snapshotOf (processor) == knownSnapshot))
                fail ("the known state could not be put back");
        }

        CompressorAudioProcessor processor;
        juce::ValueTree knownState;
        Snapshot knownSnapshot;
    };

    std::unique_ptr<Harness>& harness()
    {
        static std::unique_ptr<Harness> instance;
        return instance;
    }
}

// The entry points that libFuzzer's driver calls.
extern "C" int LLVMFuzzerInitialize (int*, char***);
extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size);

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    // The runtime is shut down by hand at exit, after the harness and before the framework's
    // own statics (made while the harness was built) are destroyed: a static initialiser
    // object would outlive the list of objects it deletes.
    juce::initialiseJuce_GUI();
    harness() = std::make_unique<Harness>();
    std::atexit ([]
    {
        harness().reset();
        juce::shutdownJuce_GUI();
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, size_t size)
{
    if (size > static_cast<size_t> (std::numeric_limits<int>::max()))
        return -1;

    auto& h = *harness();
    h.reset();

    h.processor.setStateInformation (data, static_cast<int> (size));

    if (snapshotOf (h.processor) == h.knownSnapshot)
        return 0;

    if (headerRefuses (data, size))
        fail ("a block with a refused header changed the state");

    checkAccepted (h.processor);
    return 0;
}
