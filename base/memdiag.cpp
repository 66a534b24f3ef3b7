#include "base/memdiag.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#if defined(VEXEL_ASAN) || defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define VEXEL_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define VEXEL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
static constexpr std::uint64_t kRedZone = 32;
#else
#define VEXEL_POISON(p, n) ((void)(p), (void)(n))
#define VEXEL_UNPOISON(p, n) ((void)(p), (void)(n))
static constexpr std::uint64_t kRedZone = 0;
#endif

namespace vexel {

namespace {

constexpr std::uint64_t kAlign = 16;
// A free block is split only when the rest is at least this large.
constexpr std::uint64_t kMinSplit = 64 + 2 * kRedZone;
// Freed bytes above an arena's top stay mapped up to this much, so a frame
// loop that frees and takes its buffers again does not fault its pages in
// anew every frame; beyond it they are handed back to the kernel.
constexpr std::uint64_t kRetainedTail = 64ull << 20;
constexpr std::uint64_t kMaxTableEntries = 1u << 22;

std::uint64_t pageSize() {
    static const std::uint64_t size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::uint64_t roundUp(std::uint64_t v, std::uint64_t step) { return (v + step - 1) / step * step; }

std::uint64_t physicalMemory() {
    long pages = sysconf(_SC_PHYS_PAGES);
    if (pages <= 0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(pages) * pageSize();
}

void* mapAnonymous(std::uint64_t bytes) {
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}

std::uint8_t* asBytes(std::uint64_t address) { return reinterpret_cast<std::uint8_t*>(address); }

} // namespace

// An arena: one mapping for the blocks and one for this record and its table.
struct TMemoryBlocks::Arena {
    std::uint8_t* base = nullptr;
    std::uint64_t size = 0;      // bytes of the block mapping
    std::uint64_t used = 0;      // bytes cut from the start
    std::uint64_t highWater = 0; // bytes below this may hold old data
    std::uint64_t recordBytes = 0;
    BlockEntry* table = nullptr;
    std::uint32_t count = 0;
    std::uint32_t capacity = 0;
    std::uint32_t freeCount = 0;
    Arena* next = nullptr;

    std::uint64_t begin() const { return reinterpret_cast<std::uint64_t>(base); }
    std::uint64_t top() const { return begin() + used; }
};

std::recursive_mutex& globalLock() {
    // Never destroyed: threads may still release strings while the process
    // ends. It lives in static storage, so that taking it needs no memory
    // (the start-up check must be reached in the tightest address space).
    alignas(std::recursive_mutex) static unsigned char storage[sizeof(std::recursive_mutex)];
    static std::recursive_mutex* lock = new (storage) std::recursive_mutex;
    return *lock;
}

TMemoryBlocks::TMemoryBlocks(std::recursive_mutex& lock, std::uint64_t arenaSize)
    : lock_(lock), arenaSize_(roundUp(std::max<std::uint64_t>(arenaSize, pageSize()), pageSize())) {}

TMemoryBlocks::~TMemoryBlocks() { releaseAll(); }

TMemoryBlocks::Arena* TMemoryBlocks::makeArena(std::uint64_t need) {
    std::uint64_t physical = physicalMemory();
    if (need > physical) return nullptr;
    const std::uint64_t smallest = std::max(roundUp(need, pageSize()), std::min(arenaSize_, kMinArenaSize));
    std::uint64_t size = std::max(std::min(arenaSize_, roundUp(physical, pageSize())), smallest);
    // Halved while the system refuses it, down to the smallest that serves the request.
    for (;;) {
        if (Arena* arena = mapArena(size)) return arena;
        if (size <= smallest) return nullptr;
        size = std::max(roundUp(size / 2, pageSize()), smallest);
    }
}

TMemoryBlocks::Arena* TMemoryBlocks::mapArena(std::uint64_t size) {
    std::uint64_t capacity = std::min<std::uint64_t>(size / 112, kMaxTableEntries) + 100;
    std::uint64_t recordBytes = roundUp(sizeof(Arena) + kAlign + capacity * sizeof(BlockEntry), pageSize());
    if (addressSpaceForTest_ && mapped_ + recordBytes + size > addressSpaceForTest_) return nullptr;
    void* recordMemory = mapAnonymous(recordBytes);
    if (!recordMemory) return nullptr;
    void* blocks = mapAnonymous(size);
    if (!blocks) {
        munmap(recordMemory, recordBytes);
        return nullptr;
    }
    mapped_ += recordBytes + size;
    // Large pages make the first touch of big frame buffers far cheaper.
    if (size >= (8u << 20)) madvise(blocks, size, MADV_HUGEPAGE);
    Arena* arena = new (recordMemory) Arena;
    arena->base = static_cast<std::uint8_t*>(blocks);
    arena->size = size;
    arena->recordBytes = recordBytes;
    arena->table = reinterpret_cast<BlockEntry*>(roundUp(reinterpret_cast<std::uint64_t>(arena + 1), kAlign));
    arena->capacity = static_cast<std::uint32_t>(capacity);

    Arena** link = &first_;
    while (*link) link = &(*link)->next;
    *link = arena;
    return arena;
}

void TMemoryBlocks::dropArena(Arena* arena) {
    Arena** link = &first_;
    while (*link && *link != arena) link = &(*link)->next;
    if (*link) *link = arena->next;
    VEXEL_UNPOISON(arena->base, arena->size);
    munmap(arena->base, arena->size);
    std::uint64_t recordBytes = arena->recordBytes;
    mapped_ -= recordBytes + arena->size;
    arena->~Arena();
    munmap(arena, recordBytes);
}

void TMemoryBlocks::releaseAll() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    while (first_) dropArena(first_);
    liveBytes_ = 0;
    liveBlocks_ = 0;
}

TMemoryBlocks::Arena* TMemoryBlocks::findArena(std::uint64_t address) {
    for (Arena* a = first_; a; a = a->next)
        if (address >= a->begin() && address < a->begin() + a->size) return a;
    return nullptr;
}

TMemoryBlocks::BlockEntry* TMemoryBlocks::findEntry(Arena* arena, std::uint64_t start, std::uint32_t* index) {
    // The table is in address order: a binary search finds the entry.
    BlockEntry* first = arena->table;
    BlockEntry* last = arena->table + arena->count;
    BlockEntry* it = std::lower_bound(first, last, start,
                                      [](const BlockEntry& e, std::uint64_t s) { return e.start < s; });
    if (it == last || it->start != start) return nullptr;
    *index = static_cast<std::uint32_t>(it - first);
    return it;
}

bool TMemoryBlocks::insertEntry(Arena* arena, std::uint32_t index, const BlockEntry& entry) {
    if (arena->count >= arena->capacity || index > arena->count) return false;
    std::memmove(arena->table + index + 1, arena->table + index, (arena->count - index) * sizeof(BlockEntry));
    arena->table[index] = entry;
    ++arena->count;
    return true;
}

void TMemoryBlocks::eraseEntries(Arena* arena, std::uint32_t index, std::uint32_t n) {
    std::memmove(arena->table + index, arena->table + index + n, (arena->count - index - n) * sizeof(BlockEntry));
    arena->count -= n;
}

void* TMemoryBlocks::handOut(Arena* arena, BlockEntry& entry, std::size_t n, std::uint32_t elementSize) {
    entry.elementSize = elementSize;
    entry.requested = n;
    ++liveBlocks_;
    liveBytes_ += n;
    std::uint8_t* user = asBytes(entry.start + kRedZone);
    // The red zones and the padding after the asked size stay poisoned.
    VEXEL_POISON(asBytes(entry.start), entry.end - entry.start);
    VEXEL_UNPOISON(user, n);
    // Bytes never touched since the mapping was made (or handed back) are zero already.
    std::uint64_t userStart = entry.start + kRedZone;
    std::uint64_t dirtyEnd = arena->begin() + arena->highWater;
    if (userStart < dirtyEnd) std::memset(user, 0, std::min<std::uint64_t>(n, dirtyEnd - userStart));
    arena->highWater = std::max(arena->highWater, entry.end - arena->begin());
    return user;
}

void* TMemoryBlocks::reuse(std::uint64_t need, std::size_t n, std::uint32_t elementSize) {
    for (Arena* arena = first_; arena; arena = arena->next) {
        if (arena->freeCount == 0) continue;
        // Newest first, so an exact fit among the newest entries wins at once.
        std::int64_t best = -1;
        std::uint64_t bestSize = 0;
        for (std::int64_t i = static_cast<std::int64_t>(arena->count) - 1; i >= 0; --i) {
            const BlockEntry& e = arena->table[i];
            if (e.elementSize != 0) continue;
            std::uint64_t size = e.end - e.start;
            if (size < need || (best >= 0 && size >= bestSize)) continue;
            best = i;
            bestSize = size;
            if (size == need) break;
        }
        if (best < 0) continue;
        std::uint32_t index = static_cast<std::uint32_t>(best);
        BlockEntry& entry = arena->table[index];
        if (bestSize - need >= kMinSplit) {
            BlockEntry rest{entry.start + need, entry.end, 0, 0, 0};
            if (insertEntry(arena, index + 1, rest)) {
                arena->table[index].end = arena->table[index].start + need;
                ++arena->freeCount;
            }
        }
        --arena->freeCount;
        return handOut(arena, arena->table[index], n, elementSize);
    }
    return nullptr;
}

void* TMemoryBlocks::cut(std::uint64_t need, std::size_t n, std::uint32_t elementSize) {
    Arena* arena = first_;
    while (arena && (arena->size - arena->used < need || arena->count >= arena->capacity)) arena = arena->next;
    if (!arena) arena = makeArena(need);
    if (!arena) return nullptr;
    BlockEntry entry{arena->top(), arena->top() + need, 0, 0, 0};
    // New blocks are cut at the top, so appending keeps the table in address order.
    if (!insertEntry(arena, arena->count, entry)) return nullptr;
    arena->used += need;
    return handOut(arena, arena->table[arena->count - 1], n, elementSize);
}

void* TMemoryBlocks::allocate(std::size_t n, std::uint32_t elementSize) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (n == 0 || nesting_ >= kNestingLimit) return nullptr;
    if (n > std::numeric_limits<std::uint64_t>::max() / 2) return nullptr;
    ++nesting_;
    std::uint64_t need = roundUp(n, kAlign) + 2 * kRedZone;
    if (elementSize == 0) elementSize = 1;
    void* p = reuse(need, n, elementSize);
    if (!p) p = cut(need, n, elementSize);
    --nesting_;
    return p;
}

void TMemoryBlocks::trimTop(Arena* arena) {
    if (arena->count > 0) {
        BlockEntry& last = arena->table[arena->count - 1];
        if (last.elementSize == 0 && last.end == arena->top()) {
            arena->used = last.start - arena->begin();
            --arena->count;
            --arena->freeCount;
        }
    }
    // Give large trimmed ranges back to the kernel; they read as zero afterwards.
    std::uint64_t keep = roundUp(arena->used + kRetainedTail, pageSize());
    if (arena->highWater > keep) {
        madvise(arena->base + keep, arena->highWater - keep, MADV_DONTNEED);
        arena->highWater = keep;
    }
}

void TMemoryBlocks::free(void* p) {
    if (!p) return;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::uint64_t start = reinterpret_cast<std::uint64_t>(p) - kRedZone;
    Arena* arena = findArena(start);
    if (!arena) return;
    std::uint32_t index = 0;
    BlockEntry* entry = findEntry(arena, start, &index);
    if (!entry || entry->elementSize == 0) return;

    liveBytes_ -= entry->requested;
    --liveBlocks_;
    entry->elementSize = 0;
    entry->requested = 0;
    ++arena->freeCount;
    VEXEL_POISON(asBytes(entry->start), entry->end - entry->start);

    // Merge with free neighbours so freed bytes can serve requests of any size.
    if (index + 1 < arena->count) {
        BlockEntry& next = arena->table[index + 1];
        if (next.elementSize == 0 && next.start == entry->end) {
            entry->end = next.end;
            eraseEntries(arena, index + 1, 1);
            --arena->freeCount;
        }
    }
    if (index > 0) {
        BlockEntry& prev = arena->table[index - 1];
        if (prev.elementSize == 0 && prev.end == entry->start) {
            prev.end = entry->end;
            eraseEntries(arena, index, 1);
            --arena->freeCount;
        }
    }
    trimTop(arena);
    if (arena->count == 0 && arena != first_) dropArena(arena);
}

std::size_t TMemoryBlocks::blockSize(const void* p) {
    if (!p) return 0;
    std::lock_guard<std::recursive_mutex> guard(lock_);
    std::uint64_t start = reinterpret_cast<std::uint64_t>(p) - kRedZone;
    Arena* arena = findArena(start);
    if (!arena) return 0;
    std::uint32_t index = 0;
    BlockEntry* entry = findEntry(arena, start, &index);
    return entry && entry->elementSize != 0 ? entry->requested : 0;
}

AllocatorStats TMemoryBlocks::stats() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    AllocatorStats s;
    s.liveBytes = liveBytes_;
    s.liveBlocks = liveBlocks_;
    for (Arena* a = first_; a; a = a->next) {
        s.arenaBytes += a->used;
        s.reservedBytes += a->size;
        ++s.arenas;
    }
    return s;
}

TMemoryBlocks& processAllocator() {
    // In static storage and never destroyed, as the lock.
    alignas(TMemoryBlocks) static unsigned char storage[sizeof(TMemoryBlocks)];
    static TMemoryBlocks* allocator = new (storage) TMemoryBlocks(globalLock());
    return *allocator;
}

void* memAllocate(std::size_t n, std::uint32_t elementSize) { return processAllocator().allocate(n, elementSize); }

void memFree(void* p) { processAllocator().free(p); }

AllocatorStats memStats() { return processAllocator().stats(); }

namespace {
int memdiagUnitCount = 0;
}

void memdiagInitialize() {
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    if (memdiagUnitCount++ == 0) processAllocator();
}

void memdiagFinalize() {
    std::lock_guard<std::recursive_mutex> guard(globalLock());
    if (memdiagUnitCount > 0 && --memdiagUnitCount == 0) processAllocator().releaseAll();
}

} // namespace vexel
