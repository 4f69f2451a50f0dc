#include "arrays.h"

#include <cstdlib>
#include <new>
#include <vector>

struct Tbl {
    std::vector<void *> items;
};

extern "C" {

Tbl *newtbl(int n) {
    try {
        auto *t = new Tbl;
        if (n > 0 && n < (1 << 20)) t->items.reserve(static_cast<size_t>(n));
        return t;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int settbl(Tbl *t, int i, void *p) {
    if (!t) return -1;
    const auto count = static_cast<int>(t->items.size());
    if (i == -1) i = count;
    if (i < 0 || i > count) return -1;
    try {
        if (i == count) t->items.push_back(p);
        else t->items[static_cast<size_t>(i)] = p;
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return i;
}

void *gettbl(Tbl *t, int i) {
    if (!t || i < 0 || static_cast<size_t>(i) >= t->items.size()) return nullptr;
    return t->items[static_cast<size_t>(i)];
}

int cnttbl(Tbl *t) { return t ? static_cast<int>(t->items.size()) : 0; }

void clrtbl(Tbl *t, void (*free_fn)(void *)) {
    if (!t) return;
    if (free_fn)
        for (void *p : t->items) free_fn(p);
    t->items.clear();
}

void freetbl(Tbl *t, void (*free_fn)(void *)) {
    clrtbl(t, free_fn);
    delete t;
}

}  // extern "C"
