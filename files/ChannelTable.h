#pragma once
// Channel index by 32-bit identifier, for logs whose identifiers come from the file and may be
// chosen to collide. An open-addressing table whose hash is keyed with a random number of the
// process, so that nobody can choose identifiers that share slots without knowing the key, and
// whose probe is bounded: every identifier sits within MaxProbe slots of its home slot, so a
// look-up compares at most MaxProbe keys whatever the identifiers are. An identifier that finds
// no free slot within the bound makes the table larger, or (when it is already far larger than
// its identifiers need) draws a new key.
#include <bit>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

class ChannelTable {
public:
    static constexpr uint32_t None = UINT32_MAX;
    // Slots compared at most by a look-up: 512 bytes, a few cache lines. At a load of at most
    // one half, a random key keeps the longest run of a million identifiers well below it.
    static constexpr size_t MaxProbe = 64;

    // Identifier 0 is never held (it marks a free slot: in format 2 it is the time stamp).
    explicit ChannelTable(uint64_t key = ProcessKey()) : Key(key), Slots(MinSlots) {}

    // The index added for id, or None.
    [[nodiscard]] uint32_t Find(uint32_t id) const
    {
        const size_t mask = Slots.size() - 1;
        size_t slot = Home(id);
        for (size_t probe = 0; probe < MaxProbe; ++probe, slot = (slot + 1) & mask) {
            const Entry entry = Slots[slot];
            if (entry.Id == id)
                return entry.Index;
            if (entry.Id == 0)
                return None;
        }
        return None;
    }

    // Adds an identifier that is not held yet (and is not 0).
    void Add(uint32_t id, uint32_t index)
    {
        if (2 * (Used + 1) > Slots.size())
            Rebuild(Slots.size() * 2, Key);
        while (!Put(Slots, Entry{id, index}))
            Rebuild(Slots.size(), Key);
        ++Used;
    }

    [[nodiscard]] size_t Size() const { return Used; }
    [[nodiscard]] size_t SlotCount() const { return Slots.size(); }
    [[nodiscard]] uint64_t HashKey() const { return Key; }
    // Home slot of an identifier under a key in a table of slotCount slots (a power of two):
    // the top bits of the mixed identifier, so a slot of a smaller table is a prefix of it.
    [[nodiscard]] static size_t HomeSlot(uint64_t key, uint32_t id, size_t slotCount)
    {
        return static_cast<size_t>(Mix(id ^ key) >> (64 - std::countr_zero(slotCount)));
    }

    // A random number drawn once per process.
    static uint64_t ProcessKey()
    {
        static const uint64_t key = [] {
            std::random_device device;
            uint64_t drawn = (static_cast<uint64_t>(device()) << 32) ^ device();
            // Where the device is weak, the clock still differs from run to run.
            drawn ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            return Mix(drawn);
        }();
        return key;
    }

private:
    struct Entry {
        uint32_t Id = 0;
        uint32_t Index = None;
    };
    static constexpr size_t MinSlots = 64;

    // The finaliser of MurmurHash3: every input bit changes every output bit with probability
    // about one half, so the key reaches all of the slot number.
    static uint64_t Mix(uint64_t x)
    {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDull;
        x ^= x >> 33;
        x *= 0xC4CEB9FE1A85EC53ull;
        x ^= x >> 33;
        return x;
    }

    [[nodiscard]] size_t Home(uint32_t id) const { return HomeSlot(Key, id, Slots.size()); }

    // False when no slot within MaxProbe of the home slot is free.
    bool Put(std::vector<Entry>& slots, Entry entry) const
    {
        const size_t mask = slots.size() - 1;
        size_t slot = Home(entry.Id);
        for (size_t probe = 0; probe < MaxProbe; ++probe, slot = (slot + 1) & mask) {
            if (slots[slot].Id == 0) {
                slots[slot] = entry;
                return true;
            }
        }
        return false;
    }

    // Puts every identifier again into `slotCount` slots. A table that is already far larger
    // than its identifiers need draws a new key instead of growing further, so memory stays
    // within a few times the identifiers whatever happens.
    void Rebuild(size_t slotCount, uint64_t key)
    {
        std::vector<Entry> old;
        old.swap(Slots);
        for (;;) {
            if (slotCount > 16 * (Used + 1) && slotCount > MinSlots) {
                slotCount /= 2;
                key = Mix(key + 0x9E3779B97F4A7C15ull);
            } else if (slotCount == old.size() && key == Key) {
                slotCount *= 2;
            }
            Key = key;
            Slots.assign(slotCount, Entry{});
            bool placed = true;
            for (const Entry& entry : old)
                if (entry.Id != 0 && !(placed = Put(Slots, entry)))
                    break;
            if (placed)
                return;
            slotCount *= 2;
        }
    }

    uint64_t Key;
    std::vector<Entry> Slots;
    size_t Used = 0;
};
