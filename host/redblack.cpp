#include "redblack.h"

#include "arrays.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
        unsigned char head[16] = {};
        std::memcpy(head, bytes, length);
        hi = big_endian_word(head);
        lo = big_endian_word(head + 8);
    }
    mutable const char *s;
    size_t n;
    std::uint64_t hi, lo;
};

// The order of strcmp on unsigned bytes. Texts hold no NUL, so when the
// padded heads agree and one text is at most 16 bytes long, both are equal.
bool bytewise_less(const Key &a, const Key &b) {
    if (a.hi != b.hi) return a.hi < b.hi;
    if (a.lo != b.lo) return a.lo < b.lo;
    if (a.n <= 16 || b.n <= 16) return a.n < b.n;
    const int c = std::memcmp(a.s + 16, b.s + 16, std::min(a.n, b.n) - 16);
    return c != 0 ? c < 0 : a.n < b.n;
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

    alignas(std::max_align_t) unsigned char first_[256];
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
    bool operator==(const PoolAllocator<U> &other) const { return pool == other.pool; }
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

// A stamp for a set of keys: arrays that carry the same stamp hold the same
// keys under the same order. A new array and every key added take a fresh
// one; an array made from a model's keys takes the model's.
std::uint64_t fresh_keyset() {
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1, std::memory_order_relaxed);
}

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
    std::uint64_t keyset = fresh_keyset();
    Pool pool;  // declared before entries: outlives it
    bool in_tree = false;
    int flat_n = 0;
    Entry flat[flat_capacity];
    Entries entries;  // a red-black tree
};

extern "C" {

Arr *newarr(int (*cmp)(const char *, const char *)) {
    return new (std::nothrow) Arr(cmp);
}

void *setarr(Arr *a, const char *key, void *value) {
    if (!a || !key) return nullptr;
    try {
        const Key probe(key);
        if (!a->in_tree) {
            const int at = a->lower_bound(probe);
            if (at < a->flat_n && !a->less(probe, a->flat[at].key)) {
                void *old = a->flat[at].value;
                a->flat[at].value = value;
                return old;
            }
            if (a->flat_n < flat_capacity) {
                auto *copy = static_cast<char *>(a->pool.take(probe.n + 1, 1));
                std::memcpy(copy, key, probe.n + 1);
                std::memmove(&a->flat[at + 1], &a->flat[at], static_cast<size_t>(a->flat_n - at) * sizeof(Entry));
                a->flat[at] = Entry{probe, value};
                a->flat[at].key.s = copy;
                ++a->flat_n;
                a->keyset = fresh_keyset();
                return nullptr;
            }
            a->move_to_tree();
        }
        auto [it, inserted] = a->entries.emplace(probe, value);
        if (!inserted) {
            void *old = it->second;
            it->second = value;
            return old;
        }
        char *copy;
        try {
            copy = static_cast<char *>(a->pool.take(probe.n + 1, 1));
        } catch (const std::bad_alloc &) {
            a->entries.erase(it);  // it must not keep the caller's buffer
            throw;
        }
        std::memcpy(copy, key, probe.n + 1);
        it->first.s = copy;
        a->keyset = fresh_keyset();
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

Arr *newarr_keys(Arr *model, void *const *values) {
    if (!model) return nullptr;
    Arr *a = new (std::nothrow) Arr(model->less.cmp);
    if (!a) return nullptr;
    a->keyset = model->keyset;
    // The model's keys are already in order with their heads worked out:
    // only the texts are copied, and the tree is filled from its end.
    auto copy_of = [a](const Key &key) {
        Key k = key;
        const size_t n = key.n + 1;
        auto *text = static_cast<char *>(a->pool.take(n, 1));
        // Most keys are short: two overlapping word moves, without a call.
        if (n >= 8 && n <= 16) {
            std::uint64_t first, last;
            std::memcpy(&first, key.s, 8);
            std::memcpy(&last, key.s + n - 8, 8);
            std::memcpy(text, &first, 8);
            std::memcpy(text + n - 8, &last, 8);
        } else {
            std::memcpy(text, key.s, n);
        }
        k.s = text;
        return k;
    };
    try {
        if (!model->in_tree) {
            for (int i = 0; i < model->flat_n; ++i) a->flat[i] = Entry{copy_of(model->flat[i].key), values[i]};
            a->flat_n = model->flat_n;
        } else {
            a->in_tree = true;
            size_t i = 0;
            for (const auto &entry : model->entries)
                a->entries.emplace_hint(a->entries.end(), copy_of(entry.first), values[i++]);
        }
    } catch (const std::bad_alloc &) {
        delete a;
        return nullptr;
    }
    return a;
}

void *getarr(Arr *a, const char *key) {
    if (!a || !key) return nullptr;
    const Key probe(key);
    if (!a->in_tree) {
        const int at = a->lower_bound(probe);
        return at < a->flat_n && !a->less(probe, a->flat[at].key) ? a->flat[at].value : nullptr;
    }
    auto it = a->entries.find(probe);
    return it == a->entries.end() ? nullptr : it->second;
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

int samekeysarr(Arr *a, Arr *b) { return a && b && a->keyset == b->keyset; }

void swapvaluesarr(Arr *a, void **values) {
    if (!a) return;
    if (!a->in_tree)
        for (int i = 0; i < a->flat_n; ++i) std::swap(a->flat[i].value, *values++);
    else
        for (auto &entry : a->entries) std::swap(entry.second, *values++);
}

void takearr(Arr *a, void **values) {
    if (!a) return;
    if (!a->in_tree)
        for (int i = 0; i < a->flat_n; ++i) *values++ = a->flat[i].value;
    else
        for (auto &entry : a->entries) *values++ = entry.second;
    delete a;
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
