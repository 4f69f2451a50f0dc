#include "redblack.h"

#include "arrays.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <new>
#include <utility>

namespace {

using KeyCompare = int (*)(const char *, const char *);

std::uint64_t big_endian_word(const unsigned char *p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
    return w;
}

std::uint32_t big_endian_half(const unsigned char *p) {
    std::uint32_t w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap32(w);
    return w;
}

// A key's text (the array's copy; the caller's own while a lookup or an
// insert is under way), its length, and its first 16 bytes padded with zeros
// as two big-endian words, which settle most byte-wise comparisons without
// touching the text. An insert walks the tree once with the caller's text
// and then points the new entry at the copy.
struct Key {
    Key() = default;
    explicit Key(const char *text) : Key(text, std::strlen(text)) {}
    Key(const char *text, size_t length) : s(text), n(length) {
        const auto *bytes = reinterpret_cast<const unsigned char *>(text);
        if (length >= 16) {
            hi = big_endian_word(bytes);
            lo = big_endian_word(bytes + 8);
            return;
        }
        // Shorter texts are read as overlapping words, kept in registers: a
        // copy into a padded buffer read back at once stalls on the store.
        lo = 0;
        if (length >= 8) {
            hi = big_endian_word(bytes);
            if (length > 8) lo = big_endian_word(bytes + length - 8) << 8 * (16 - length);
        } else if (length >= 4) {
            hi = std::uint64_t{big_endian_half(bytes)} << 32 | std::uint64_t{big_endian_half(bytes + length - 4)}
                                                                   << 8 * (8 - length);
        } else {
            hi = 0;
            for (size_t i = 0; i < length; ++i) hi |= std::uint64_t{bytes[i]} << (56 - 8 * i);
        }
    }
    mutable const char *s;
    size_t n;
    std::uint64_t hi, lo;
};

// A key's n bytes, its NUL included: keys are short, and two overlapping
// moves of a fixed width cost less than the call.
void copy_key(char *dst, const char *src, size_t n) {
    auto two = [dst, src, n](auto word) {
        decltype(word) last;
        std::memcpy(&word, src, sizeof word);
        std::memcpy(&last, src + n - sizeof last, sizeof last);
        std::memcpy(dst, &word, sizeof word);
        std::memcpy(dst + n - sizeof last, &last, sizeof last);
    };
    if (n >= 8 && n <= 16) two(std::uint64_t{});
    else if (n >= 4 && n < 8) two(std::uint32_t{});
    else std::memcpy(dst, src, n);
}

// The order of strcmp on unsigned bytes. Texts hold no NUL, so when the
// padded heads agree and one text is at most 16 bytes long, both are equal.
bool bytewise_less(const Key &a, const Key &b) {
    if (a.hi != b.hi) return a.hi < b.hi;
    if (a.lo != b.lo) return a.lo < b.lo;
    if (a.n <= 16 || b.n <= 16) return a.n < b.n;
    const int c = std::memcmp(a.s + 16, b.s + 16, std::min(a.n, b.n) - 16);
    return c != 0 ? c < 0 : a.n < b.n;
}

// Whether the n bytes at a and b are the same: as copy_key reads them.
bool same_bytes(const char *a, const char *b, size_t n) {
    auto two = [a, b, n](auto word) {
        decltype(word) a_first, a_last, b_first, b_last;
        std::memcpy(&a_first, a, sizeof word);
        std::memcpy(&a_last, a + n - sizeof word, sizeof word);
        std::memcpy(&b_first, b, sizeof word);
        std::memcpy(&b_last, b + n - sizeof word, sizeof word);
        return ((a_first ^ b_first) | (a_last ^ b_last)) == 0;
    };
    if (n >= 8 && n <= 16) return two(std::uint64_t{});
    if (n >= 4 && n < 8) return two(std::uint32_t{});
    return std::memcmp(a, b, n) == 0;
}

struct KeyLess {
    KeyCompare cmp;  // NULL: byte-wise
    bool operator()(const Key &a, const Key &b) const { return cmp ? cmp(a.s, b.s) < 0 : bytewise_less(a, b); }
};

// Keys are never removed one by one, so the nodes and the key copies come
// from one pool released with the array, its first buffer inside the array:
// a small array costs a single malloc.
class Pool {
public:
    Pool() = default;
    Pool(const Pool &) = delete;
    Pool &operator=(const Pool &) = delete;
    ~Pool() {
        while (chunks_) {
            Chunk *next = chunks_->next;
            std::free(chunks_);
            chunks_ = next;
        }
    }
    void *take(size_t size, size_t align) {
        if (spare_ && size == spare_size_) return std::exchange(spare_, nullptr);
        const size_t at = (used_ + align - 1) & ~(align - 1);
        if (at <= capacity_ && size <= capacity_ - at) {
            used_ = at + size;
            return base_ + at;
        }
        return grow(size);
    }
    // size bytes without alignment from the current chunk, or NULL when it
    // has no room for them.
    void *take_if_room(size_t size) {
        if (size > capacity_ - used_) return nullptr;
        return base_ + std::exchange(used_, used_ + size);
    }
    // Keeps one block handed back (a node made for a key already present) for
    // the next request of its size.
    void give_back(void *p, size_t size) {
        if (spare_) return;
        spare_ = p;
        spare_size_ = size;
    }

private:
    struct alignas(std::max_align_t) Chunk {
        Chunk *next;
    };
    void *grow(size_t size) {
        const size_t capacity = std::max(2 * capacity_, size);
        if (capacity > SIZE_MAX - sizeof(Chunk)) throw std::bad_alloc();
        auto *chunk = static_cast<Chunk *>(std::malloc(sizeof(Chunk) + capacity));
        if (!chunk) throw std::bad_alloc();
        chunk->next = chunks_;
        chunks_ = chunk;
        base_ = reinterpret_cast<unsigned char *>(chunk + 1);
        capacity_ = capacity;
        used_ = size;
        return base_;
    }

    alignas(std::max_align_t) unsigned char first_[224];
    unsigned char *base_ = first_;
    size_t capacity_ = sizeof first_;
    size_t used_ = 0;
    Chunk *chunks_ = nullptr;
    void *spare_ = nullptr;
    size_t spare_size_ = 0;
};

template <typename T>
struct PoolAllocator {
    using value_type = T;
    explicit PoolAllocator(Pool *p) : pool(p) {}
    template <typename U>
    PoolAllocator(const PoolAllocator<U> &other) : pool(other.pool) {}
    T *allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        return static_cast<T *>(pool->take(n * sizeof(T), alignof(T)));
    }
    void deallocate(T *p, size_t n) { pool->give_back(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const PoolAllocator<U> &other) const {
        return pool == other.pool;
    }
    Pool *pool;
};

using Entries = std::map<Key, void *, KeyLess, PoolAllocator<std::pair<const Key, void *>>>;

struct Entry {
    Key key;
    void *value;
};

// A few keys are kept in order in a flat array inside the array object,
// found by binary search and inserted by moving the later ones up; past that
// many they move into the tree, which then holds them all. The capacities
// keep a new array within 1 KiB, which malloc serves from its fastest cache.
constexpr int flat_capacity = 16;

}  // namespace

struct Arr {
    explicit Arr(KeyCompare cmp) : less{cmp}, entries(less, PoolAllocator<Entries::value_type>(&pool)) {}

    // The index of the first flat entry not less than key.
    int lower_bound(const Key &key) const {
        int low = 0, high = flat_n;
        while (low < high) {
            const int middle = (low + high) / 2;
            if (less(flat[middle].key, key)) low = middle + 1;
            else high = middle;
        }
        return low;
    }
    // Out of line, so that the lookup of the key just stored stays short.
    [[gnu::noinline]] void *find(const Key &probe) const {
        if (!in_tree) {
            const int at = lower_bound(probe);
            return at < flat_n && !less(probe, flat[at].key) ? flat[at].value : nullptr;
        }
        auto it = entries.find(probe);
        return it == entries.end() ? nullptr : it->second;
    }
    void move_to_tree() {
        try {
            for (int i = 0; i < flat_n; ++i) entries.emplace_hint(entries.end(), flat[i].key, flat[i].value);
        } catch (...) {
            entries.clear();
            throw;
        }
        in_tree = true;
    }

    KeyLess less;
    Pool pool;  // declared before entries: outlives it
    bool in_tree = false;
    // The entry stored last, for a lookup of its key right after (a caller
    // that checks what it stored): its key's copy and length, and its
    // value's slot, each read without first reading another.
    const char *last_text = nullptr;
    size_t last_n = 0;
    void **last_value = nullptr;
    int flat_n = 0;
    Entry flat[flat_capacity];
    Entries entries;  // a red-black tree
};

static_assert(sizeof(Arr) <= 1024, "a new array fits the allocator's fastest cache");

namespace {

// Everything but a key that goes at the end of the flat entries; at is
// where the key belongs among them, while they are flat.
[[gnu::noinline]] void *store(Arr *a, const Key &probe, const char *key, void *value, int at) {
    a->last_text = nullptr;
    auto stored = [a](const Key &k, void *&slot) {
        a->last_text = k.s;
        a->last_n = k.n;
        a->last_value = &slot;
    };
    try {
        if (!a->in_tree) {
            if (at < a->flat_n && !a->less(probe, a->flat[at].key)) {
                void *old = a->flat[at].value;
                a->flat[at].value = value;
                stored(a->flat[at].key, a->flat[at].value);
                return old;
            }
            if (a->flat_n < flat_capacity) {
                auto *copy = static_cast<char *>(a->pool.take(probe.n + 1, 1));
                copy_key(copy, key, probe.n + 1);
                if (at < a->flat_n)
                    std::memmove(&a->flat[at + 1], &a->flat[at], static_cast<size_t>(a->flat_n - at) * sizeof(Entry));
                a->flat[at] = Entry{probe, value};
                a->flat[at].key.s = copy;
                ++a->flat_n;
                stored(a->flat[at].key, a->flat[at].value);
                return nullptr;
            }
            a->move_to_tree();
        }
        const bool last = !a->entries.empty() && a->less(std::prev(a->entries.end())->first, probe);
        auto [it, inserted] = last ? std::pair{a->entries.emplace_hint(a->entries.end(), probe, value), true}
                                   : a->entries.emplace(probe, value);
        if (!inserted) {
            void *old = it->second;
            it->second = value;
            stored(it->first, it->second);
            return old;
        }
        char *copy;
        try {
            copy = static_cast<char *>(a->pool.take(probe.n + 1, 1));
        } catch (const std::bad_alloc &) {
            a->entries.erase(it);  // it must not keep the caller's buffer
            throw;
        }
        copy_key(copy, key, probe.n + 1);
        it->first.s = copy;
        stored(it->first, it->second);
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

}  // namespace

extern "C" {

Arr *newarr(int (*cmp)(const char *, const char *)) { return new (std::nothrow) Arr(cmp); }

void *setarr(Arr *a, const char *key, void *value) {
    if (!a || !key) return nullptr;
    const Key probe(key);
    if (a->in_tree) return store(a, probe, key, value, -1);
    // Keys that come in order go at the end without a search: the common
    // case, kept short.
    const int at = a->flat_n && !a->less(a->flat[a->flat_n - 1].key, probe) ? a->lower_bound(probe) : a->flat_n;
    if (at == a->flat_n && at < flat_capacity) {
        if (auto *copy = static_cast<char *>(a->pool.take_if_room(probe.n + 1))) {
            copy_key(copy, key, probe.n + 1);
            Entry &e = a->flat[a->flat_n++];
            e = Entry{probe, value};
            e.key.s = copy;
            a->last_text = copy;
            a->last_n = probe.n;
            a->last_value = &e.value;
            return nullptr;
        }
    }
    return store(a, probe, key, value, at);
}

void *getarr(Arr *a, const char *key) {
    if (!a || !key) return nullptr;
    const size_t n = std::strlen(key);
    if (a->last_n == n && a->last_text && same_bytes(key, a->last_text, n)) return *a->last_value;
    return a->find(Key(key, n));
}

int cntarr(Arr *a) {
    if (!a) return 0;
    return a->in_tree ? static_cast<int>(a->entries.size()) : a->flat_n;
}

Tbl *keysarr(Arr *a) {
    Tbl *keys = newtbl(cntarr(a));
    if (!keys || !a) return keys;
    auto add = [keys](const Key &key) {
        if (settbl(keys, -1, const_cast<char *>(key.s)) >= 0) return true;
        freetbl(keys, nullptr);
        return false;
    };
    if (!a->in_tree) {
        for (int i = 0; i < a->flat_n; ++i)
            if (!add(a->flat[i].key)) return nullptr;
        return keys;
    }
    for (auto &entry : a->entries)
        if (!add(entry.first)) return nullptr;
    return keys;
}

void freearr(Arr *a, void (*free_fn)(void *)) {
    if (!a) return;
    if (free_fn && !a->in_tree)
        for (int i = 0; i < a->flat_n; ++i) free_fn(a->flat[i].value);
    if (free_fn && a->in_tree)
        for (auto &entry : a->entries) free_fn(entry.second);
    delete a;
}

}  // extern "C"
