// Proves that processBlock allocates nothing and takes no lock. The test binary's global
// operator new and delete count the calls made on a thread while that thread has armed the
// counter, and pthread_mutex_lock (through which std::mutex and the framework's critical
// sections lock) is wrapped the same way.

#include "EngineTestSupport.h"
#include "PluginProcessor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <random>
#include <vector>

namespace
{
    thread_local bool counting = false;
    std::atomic<long> allocations { 0 };
    std::atomic<long> deallocations { 0 };
    std::atomic<long> locks { 0 };

    void* allocate (std::size_t size)
    {
        if (counting)
            ++allocations;

        if (void* p = std::malloc (size == 0 ? 1 : size))
            return p;

        throw std::bad_alloc();
    }

    void* allocateAligned (std::size_t size, std::align_val_t alignment)
    {
        if (counting)
            ++allocations;

        const auto align = static_cast<std::size_t> (alignment);
        if (void* p = std::aligned_alloc (align, (size + align - 1) / align * align))
            return p;

        throw std::bad_alloc();
    }

    void release (void* p) noexcept
    {
        if (counting && p != nullptr)
            ++deallocations;

        std::free (p);
    }

    /** Counts on this thread for as long as it lives. */
    struct CountingScope
    {
        CountingScope() noexcept    { counting = true; }
        ~CountingScope()            { counting = false; }
    };
}

// <new> declares the sized forms only where sized deallocation is on, which clang leaves off.
#if ! defined (__cpp_sized_deallocation)
void operator delete (void* p, std::size_t) noexcept;
void operator delete[] (void* p, std::size_t) noexcept;
void operator delete (void* p, std::size_t, std::align_val_t) noexcept;
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept;
#endif

void* operator new (std::size_t size)                                          { return allocate (size); }
void* operator new[] (std::size_t size)                                        { return allocate (size); }
void* operator new (std::size_t size, const std::nothrow_t&) noexcept          { try { return allocate (size); } catch (...) { return nullptr; } }
void* operator new[] (std::size_t size, const std::nothrow_t&) noexcept        { try { return allocate (size); } catch (...) { return nullptr; } }
void* operator new (std::size_t size, std::align_val_t a)                      { return allocateAligned (size, a); }
void* operator new[] (std::size_t size, std::align_val_t a)                    { return allocateAligned (size, a); }
void operator delete (void* p) noexcept                                        { release (p); }
void operator delete[] (void* p) noexcept                                      { release (p); }
void operator delete (void* p, std::size_t) noexcept                           { release (p); }
void operator delete[] (void* p, std::size_t) noexcept                         { release (p); }
void operator delete (void* p, std::align_val_t) noexcept                      { release (p); }
void operator delete[] (void* p, std::align_val_t) noexcept                    { release (p); }
void operator delete (void* p, std::size_t, std::align_val_t) noexcept         { release (p); }
void operator delete[] (void* p, std::size_t, std::align_val_t) noexcept       { release (p); }

// The sanitizers bring their own pthread_mutex_lock; the lock count is taken in the plain builds.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
 #define KESTRINE_COUNTS_LOCKS 0
#elif defined(__has_feature)
 #if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
  #define KESTRINE_COUNTS_LOCKS 0
 #endif
#endif
#ifndef KESTRINE_COUNTS_LOCKS
 #define KESTRINE_COUNTS_LOCKS 1
#endif

#if KESTRINE_COUNTS_LOCKS
// glibc's own entry point under its other name. It is exported only as a non-default
// version, so the reference names that version (Linux x86-64; the one platform spot here).
extern "C" int kestrineRealMutexLock (pthread_mutex_t*);
__asm__ (".symver kestrineRealMutexLock, __pthread_mutex_lock@GLIBC_2.2.5");

extern "C" int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    if (counting)
        ++locks;

    return kestrineRealMutexLock (mutex);
}
#endif

namespace
{
    /** Many blocks of signals that capture at almost every period, in every mode. */
    void processManyBlocks (CompressorAudioProcessor& processor, int numChannels, bool bypassed)
    {
        const int blockSize = 480;
        juce::AudioBuffer<float> buffer (numChannels, blockSize);
        juce::MidiBuffer midi;
        const auto shortPeriod = kestrine::test::sine (12.0, blockSize * 200);
        const auto longPeriod = kestrine::test::sine (731.0, blockSize * 200);
        std::mt19937 random (1);
        std::uniform_real_distribution<float> noise (-1.0f, 1.0f);

        for (int block = 0; block < 400; ++block)
        {
            const auto& source = (block / 50) % 2 == 0 ? shortPeriod : longPeriod;
            for (int c = 0; c < numChannels; ++c)
                for (int i = 0; i < blockSize; ++i)
                    buffer.setSample (c, i, block % 7 == 6 ? noise (random) : source[(size_t) ((block % 200) * blockSize + i)]);

            const CountingScope scope;
            if (bypassed)
                processor.processBlockBypassed (buffer, midi);
            else
                processor.processBlock (buffer, midi);
        }
    }
}

TEST (RealTime, ProcessBlockNeitherAllocatesNorLocks)
{
    CompressorAudioProcessor processor;
    for (auto& bump : processor.bumps)
        bump.amplitude = 0.3f;
    processor.distortion.target = 0.5f;
    processor.updateParameters (false);

    {
        // The counters work: an allocation and a lock made while counting are seen.
        const CountingScope scope;
        auto* probe = new int (1);
        delete probe;
        std::mutex mutex;
        mutex.lock();
        mutex.unlock();
    }
    ASSERT_GE (allocations.load(), 1);
#if KESTRINE_COUNTS_LOCKS
    ASSERT_GE (locks.load(), 1);
#endif
    allocations = 0;
    deallocations = 0;
    locks = 0;

    struct Case { int channels; bool bypassed; };
    for (const auto& c : { Case { 2, false }, Case { 1, false }, Case { 2, true } })
    {
        SCOPED_TRACE (testing::Message() << c.channels << " channels" << (c.bypassed ? ", bypassed" : ""));
        processor.setPlayConfigDetails (c.channels, c.channels, 48000.0, 480);
        processManyBlocks (processor, c.channels, c.bypassed);

        EXPECT_EQ (allocations.load(), 0);
        EXPECT_EQ (deallocations.load(), 0);
        EXPECT_EQ (locks.load(), 0);
    }

    // The signal did capture.
    EXPECT_GT (processor.engine.capture.periodLength, 0);
}

// The processor's parameter listener runs on the audio thread when the host automates: it too
// neither allocates nor locks (the framework's own calls around it are the framework's).
TEST (RealTime, TheParameterListenerNeitherAllocatesNorLocks)
{
    CompressorAudioProcessor processor;
    std::vector<juce::String> ids;
    for (const auto* id : ParameterIds::all)
        ids.emplace_back (id);

    allocations = 0;
    deallocations = 0;
    locks = 0;

    for (int round = 0; round < 100; ++round)
    {
        const CountingScope scope;
        for (const auto& id : ids)
            processor.parameterChanged (id, 0.0f);
    }

    EXPECT_EQ (allocations.load(), 0);
    EXPECT_EQ (deallocations.load(), 0);
    EXPECT_EQ (locks.load(), 0);
}
