// Tracked allocator: every dynamic block of the program comes from here.
//
// Blocks are cut from large arenas (anonymous mappings, committed lazily by
// the kernel) from low to high addresses. Each arena keeps a block table
// sorted by address: start, end, element size (0 marks a free block) and the
// size the caller asked for. Freed blocks are merged with free neighbours;
// a free block at the top of an arena gives its bytes back to the arena.
// A request first looks for a free block of exactly its size among the 100
// newest entries, then for the smallest free block that holds it (split when
// the rest is worth keeping), and only then cuts fresh bytes, walking the
// chain of arenas and making a new one (sized for the request when it is
// larger than an arena) when none has room.
//
// An arena is as large as the arena size (limited to the physical memory)
// when the system grants that much address space. When it does not - a
// small machine, an address-space limit - the size is halved until it is
// granted, down to kMinArenaSize or the request, whichever is larger: the
// program starts and works on what it can have, and only a request that
// not even such an arena can serve fails.
//
// Every block is zero-filled and 16-byte aligned. Failures give null: a
// request of 0 bytes, nesting deeper than 100, an arena that cannot be had.
//
// One recursive lock guards the allocator; the strings share it, so the same
// thread may allocate while it holds the lock for a reference count.
//
// In the sanitizer build every block is framed by poisoned red zones and a
// freed block is poisoned, so an overflow inside an arena is still caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <new>

namespace vexel {

// The process-wide lock of the allocator and of every string reference count.
std::recursive_mutex& globalLock();

struct AllocatorStats {
    std::uint64_t liveBytes = 0;     // bytes asked for by blocks in use
    std::uint64_t liveBlocks = 0;    // blocks in use
    std::uint64_t arenaBytes = 0;    // bytes cut from arenas (in use or free, below each top)
    std::uint64_t reservedBytes = 0; // bytes of address space held in arenas
    std::uint32_t arenas = 0;
};

// An allocator over a chain of arenas. The program uses one process-wide
// instance (memAllocate / memFree); tests make their own with small arenas.
class TMemoryBlocks {
public:
    static constexpr std::uint64_t kDefaultArenaSize = 0x10000000; // 256 MiB
    // The smallest arena tried when a larger one cannot be had (or the
    // arena size itself when that is smaller).
    static constexpr std::uint64_t kMinArenaSize = 4u << 20;
    static constexpr int kNestingLimit = 100;
    static constexpr int kReuseWindow = 100;

    // arenaSize: bytes of one ordinary arena (limited to physical memory).
    TMemoryBlocks(std::recursive_mutex& lock, std::uint64_t arenaSize = kDefaultArenaSize);
    ~TMemoryBlocks();
    TMemoryBlocks(const TMemoryBlocks&) = delete;
    TMemoryBlocks& operator=(const TMemoryBlocks&) = delete;

    // A zero-filled block of n bytes, or null.
    void* allocate(std::size_t n, std::uint32_t elementSize = 1);
    // Gives a block back; null, unknown addresses and second frees do nothing.
    void free(void* p);
    // The size a block was asked with, or 0 for an address that is not a live block.
    std::size_t blockSize(const void* p);
    // Decommits every arena. Blocks still in use are lost.
    void releaseAll();

    AllocatorStats stats();
    std::recursive_mutex& lock() { return lock_; }

    // Test hook: a nesting level as if that many allocations were in progress.
    void setNestingForTest(int level) { nesting_ = level; }
    // Test hook: the system grants no more than this many bytes of address
    // space to this allocator's arenas (0: no limit but the system's own).
    void setAddressSpaceForTest(std::uint64_t bytes) { addressSpaceForTest_ = bytes; }

    // One entry of an arena's block table.
    struct BlockEntry {
        std::uint64_t start;       // first byte of the block (red zone included)
        std::uint64_t end;         // one past its last byte
        std::uint64_t requested;   // bytes the caller asked for
        std::uint32_t elementSize; // 0: free
        std::uint32_t reserved;
    };

private:
    struct Arena;
    Arena* findArena(std::uint64_t address);
    Arena* makeArena(std::uint64_t need);
    Arena* mapArena(std::uint64_t size);
    void dropArena(Arena* arena);
    BlockEntry* findEntry(Arena* arena, std::uint64_t start, std::uint32_t* index);
    bool insertEntry(Arena* arena, std::uint32_t index, const BlockEntry& entry);
    void eraseEntries(Arena* arena, std::uint32_t index, std::uint32_t n);
    void* reuse(std::uint64_t need, std::size_t n, std::uint32_t elementSize);
    void* cut(std::uint64_t need, std::size_t n, std::uint32_t elementSize);
    void* handOut(Arena* arena, BlockEntry& entry, std::size_t n, std::uint32_t elementSize);
    void trimTop(Arena* arena);

    std::recursive_mutex& lock_;
    std::uint64_t arenaSize_;
    std::uint64_t addressSpaceForTest_ = 0;
    std::uint64_t mapped_ = 0; // bytes of the arenas' mappings, records included
    Arena* first_ = nullptr;
    int nesting_ = 0;
    std::uint64_t liveBytes_ = 0;
    std::uint64_t liveBlocks_ = 0;
};

// The process-wide allocator.
TMemoryBlocks& processAllocator();

// A zero-filled block of n bytes from the process-wide allocator, or null.
void* memAllocate(std::size_t n, std::uint32_t elementSize = 1);
// Gives a block back to the process-wide allocator.
void memFree(void* p);
// Live bytes and blocks of the process-wide allocator (for leak checks).
AllocatorStats memStats();

// Unit entry points: the first initialisation prepares the allocator, the
// last finalisation decommits every arena.
void memdiagInitialize();
void memdiagFinalize();

// A typed block that owns its memory and frees it when it goes out of scope.
// No exceptions: allocate() reports failure with false.
template <class T>
class TrackedBuffer {
public:
    TrackedBuffer() = default;
    explicit TrackedBuffer(std::size_t n) { allocate(n); }
    ~TrackedBuffer() { reset(); }
    TrackedBuffer(const TrackedBuffer&) = delete;
    TrackedBuffer& operator=(const TrackedBuffer&) = delete;
    TrackedBuffer(TrackedBuffer&& o) noexcept : data_(o.data_), size_(o.size_) { o.data_ = nullptr; o.size_ = 0; }
    TrackedBuffer& operator=(TrackedBuffer&& o) noexcept {
        if (this != &o) { reset(); data_ = o.data_; size_ = o.size_; o.data_ = nullptr; o.size_ = 0; }
        return *this;
    }

    // Replaces the content with n zeroed elements; false (and empty) when
    // the memory cannot be had or n * sizeof(T) overflows.
    bool allocate(std::size_t n) {
        reset();
        if (n == 0) return true;
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) return false;
        data_ = static_cast<T*>(memAllocate(n * sizeof(T), static_cast<std::uint32_t>(sizeof(T))));
        if (!data_) return false;
        size_ = n;
        return true;
    }
    void reset() { if (data_) memFree(data_); data_ = nullptr; size_ = 0; }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }
    T* begin() { return data_; }
    T* end() { return data_ + size_; }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

// Standard-library allocator over the process-wide allocator, so containers
// can draw from it. Like every standard allocator it throws std::bad_alloc
// when memory cannot be had.
template <class T>
struct TrackedAllocator {
    using value_type = T;
    TrackedAllocator() noexcept = default;
    template <class U> TrackedAllocator(const TrackedAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        void* p = memAllocate(n * sizeof(T), static_cast<std::uint32_t>(sizeof(T)));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { memFree(p); }
    template <class U> bool operator==(const TrackedAllocator<U>&) const noexcept { return true; }
};

} // namespace vexel
