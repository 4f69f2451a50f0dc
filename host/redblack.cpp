#include "redblack.h"

#include "arrays.h"

#include <cstring>
#include <map>
#include <new>
#include <string>

namespace {

using KeyCompare = int (*)(const char *, const char *);

int bytewise_compare(const char *a, const char *b) {
    return std::strcmp(a, b);  // strcmp compares as unsigned char
}

struct KeyLess {
    KeyCompare cmp;
    bool operator()(const std::string &a, const std::string &b) const {
        return cmp(a.c_str(), b.c_str()) < 0;
    }
};

}  // namespace

struct Arr {
    explicit Arr(KeyCompare cmp) : entries(KeyLess{cmp}) {}
    std::map<std::string, void *, KeyLess> entries;  // a red-black tree
};

extern "C" {

Arr *newarr(int (*cmp)(const char *, const char *)) {
    return new (std::nothrow) Arr(cmp ? cmp : bytewise_compare);
}

void *setarr(Arr *a, const char *key, void *value) {
    if (!a || !key) return nullptr;
    try {
        auto [it, inserted] = a->entries.try_emplace(key, value);
        if (inserted) return nullptr;
        void *old = it->second;
        it->second = value;
        return old;
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
        if (settbl(keys, -1, const_cast<char *>(entry.first.c_str())) < 0) {
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
