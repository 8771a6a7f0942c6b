#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace kestrine
{
    /** Hands complete values from one writer thread to one reader thread without locks.

        The writer fills the back slot and publishes it in one atomic exchange; the reader
        takes the newest published slot in one atomic exchange. Neither side ever waits,
        and the reader never sees a slot the writer is still filling. A reader that finds
        nothing new keeps the slot it read last.
    */
    template <typename Value>
    class TripleBuffer
    {
    public:
        TripleBuffer() = default;

        /** Writer side: the slot to fill. It stays the writer's until publish(). */
        Value& back() noexcept                 { return slots[backIndex]; }

        /** Writer side: makes the back slot the newest value. */
        void publish() noexcept
        {
            backIndex = static_cast<std::uint8_t> (middle.exchange (static_cast<std::uint8_t> (backIndex | freshBit),
                                                                    std::memory_order_acq_rel) & indexMask);
        }

        /** Reader side: takes the newest published value, if any; returns true when it changed. */
        bool fetch() noexcept
        {
            if ((middle.load (std::memory_order_relaxed) & freshBit) == 0)
                return false;

            frontIndex = static_cast<std::uint8_t> (middle.exchange (frontIndex, std::memory_order_acq_rel) & indexMask);
            return true;
        }

        /** Reader side: the value taken by the last fetch(). */
        const Value& front() const noexcept    { return slots[frontIndex]; }

        /** Fills every slot; only while no other thread uses the buffer. */
        void fill (const Value& value) noexcept
        {
            for (auto& slot : slots)
                slot = value;
        }

    private:
        static constexpr std::uint8_t freshBit  = 0x4;
        static constexpr std::uint8_t indexMask = 0x3;

        std::array<Value, 3> slots {};
        std::uint8_t backIndex = 0;           // writer only
        std::uint8_t frontIndex = 1;          // reader only
        std::atomic<std::uint8_t> middle { 2 }; // exchanged by both; freshBit marks an unread value
    };
}
