#include "redblack.h"

#include "arrays.h"

#include <cstring>
#include <map>
#include <memory_resource>
#include <new>

namespace {

using KeyCompare = int (*)(const char *, const char *);

int bytewise_compare(const char *a, const char *b) {
    return std::strcmp(a, b);  // strcmp compares as unsigned char
}

struct KeyLess {
    KeyCompare cmp;
    bool operator()(const char *a, const char *b) const { return cmp(a, b) < 0; }
};

// Keys are never removed one by one, so the nodes and the key copies come
// from one pool released with the array: an insert rarely calls malloc, and a
// lookup compares the caller's key in place without copying it.
constexpr size_t first_pool_bytes = 512;

}  // namespace

struct Arr {
    explicit Arr(KeyCompare cmp) : entries(KeyLess{cmp}, &pool) {}
    std::pmr::monotonic_buffer_resource pool{first_pool_bytes};  // declared first: outlives entries
    std::pmr::map<const char *, void *, KeyLess> entries;         // a red-black tree
};

extern "C" {

Arr *newarr(int (*cmp)(const char *, const char *)) {
    return new (std::nothrow) Arr(cmp ? cmp : bytewise_compare);
}

void *setarr(Arr *a, const char *key, void *value) {
    if (!a || !key) return nullptr;
    try {
        auto it = a->entries.lower_bound(key);
        if (it != a->entries.end() && !a->entries.key_comp()(key, it->first)) {
            void *old = it->second;
            it->second = value;
            return old;
        }
        const size_t size = std::strlen(key) + 1;
        auto *copy = static_cast<char *>(a->pool.allocate(size, 1));
        std::memcpy(copy, key, size);
        a->entries.emplace_hint(it, copy, value);
        return nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void *getarr(Arr *a, const char *key) {
    if (!a || !key) return nullptr;
    try {
        auto it = a->entries.find(key);
        return it == a->entries.end() ? nullptr : it->second;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int cntarr(Arr *a) { return a ? static_cast<int>(a->entries.size()) : 0; }

Tbl *keysarr(Arr *a) {
    Tbl *keys = newtbl(cntarr(a));
    if (!keys || !a) return keys;
    for (auto &entry : a->entries) {
        if (settbl(keys, -1, const_cast<char *>(entry.first)) < 0) {
            freetbl(keys, nullptr);
            return nullptr;
        }
    }
    return keys;
}

void freearr(Arr *a, void (*free_fn)(void *)) {
    if (!a) return;
    if (free_fn)
        for (auto &entry : a->entries) free_fn(entry.second);
    delete a;
}

}  // extern "C"
