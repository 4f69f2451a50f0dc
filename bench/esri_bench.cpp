// A real shapefile and its dBase table (North Carolina counties) decoded from
// memory: ours against shapelib reading every object (SHPReadObject) and
// every attribute (DBFRead*Attribute) of the same bytes through memory hooks.
// Each side releases what it was handed before the next pass.
#include "bench_files.hpp"
#include "bench_ratio.hpp"

#include "esri.h"

#include "arrays.h"
#include "redblack.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#ifdef VORPIX_HAVE_SHAPELIB
#include <shapefil.h>
#endif

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes &file(const std::string &name) {
    static std::vector<std::pair<std::string, Bytes>> cache;
    for (const auto &[n, b] : cache)
        if (n == name) return b;
    cache.emplace_back(name,
                       vorpix::bench::read_or_exit(std::string(VORPIX_SOURCE_DIR) + "/tests/fixtures/esri/" + name));
    return cache.back().second;
}

void BM_VorpixShapefile(benchmark::State &state) {
    const Bytes &shp = file("nc.shp");
    for (auto _ : state) {
        ESRISHPStr f{};
        if (esri_decode_shapefile_sized(&f, shp.data(), static_cast<long>(shp.size())) < 0)
            state.SkipWithError("decode");
        benchmark::DoNotOptimize(cnttbl(f.records));
        esri_release_shapefile(&f);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(shp.size()));
}
BENCHMARK(BM_VorpixShapefile);

void BM_VorpixDbase(benchmark::State &state) {
    const Bytes &dbf = file("nc.dbf");
    for (auto _ : state) {
        ESRIDBASEStr d{};
        if (esri_decode_dbase_file_sized(&d, dbf.data(), static_cast<long>(dbf.size())) < 0)
            state.SkipWithError("decode");
        Arr *fields = nullptr;
        for (int r = 0; r < d.hdr.numrecs; ++r) {
            esri_get_dbase_fields(&d, r, &fields);
            benchmark::DoNotOptimize(fields);
        }
        freearr(fields, std::free);
        esri_release_dbase_file(&d);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(dbf.size()));
}
BENCHMARK(BM_VorpixDbase);

#ifdef VORPIX_HAVE_SHAPELIB
// shapelib's file operations over the bytes in memory, so that neither side
// touches the disk.
struct MemoryFile {
    const Bytes *bytes;
    size_t at;
};

SAFile memory_open(const char *name, const char *) {
    const std::string n = name;
    const std::string ext = n.substr(n.size() - 4);
    const Bytes *b = ext == ".shp"   ? &file("nc.shp")
                     : ext == ".shx" ? &file("nc.shx")
                     : ext == ".dbf" ? &file("nc.dbf")
                                     : nullptr;
    if (!b) return nullptr;
    return reinterpret_cast<SAFile>(new MemoryFile{b, 0});
}
SAOffset memory_read(void *p, SAOffset size, SAOffset count, SAFile f) {
    auto *m = reinterpret_cast<MemoryFile *>(f);
    const size_t want = static_cast<size_t>(size * count);
    const size_t n = std::min(want, m->bytes->size() - m->at);
    std::memcpy(p, m->bytes->data() + m->at, n);
    m->at += n;
    return size ? n / size : 0;
}
SAOffset memory_write(void *, SAOffset, SAOffset, SAFile) { return 0; }
SAOffset memory_seek(SAFile f, SAOffset offset, int whence) {
    auto *m = reinterpret_cast<MemoryFile *>(f);
    const size_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->bytes->size();
    m->at = std::min(base + static_cast<size_t>(offset), m->bytes->size());
    return 0;
}
SAOffset memory_tell(SAFile f) { return reinterpret_cast<MemoryFile *>(f)->at; }
int memory_flush(SAFile) { return 0; }
int memory_close(SAFile f) {
    delete reinterpret_cast<MemoryFile *>(f);
    return 0;
}

SAHooks memory_hooks() {
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.FOpen = memory_open;
    hooks.FRead = memory_read;
    hooks.FWrite = memory_write;
    hooks.FSeek = memory_seek;
    hooks.FTell = memory_tell;
    hooks.FFlush = memory_flush;
    hooks.FClose = memory_close;
    return hooks;
}

// Every object read through shapelib. held: all of them are kept until the
// file has been read and released together, as our decoder hands back the
// whole file; otherwise each is released as soon as it has been read, which
// lets the allocator hand the same blocks back for the next one.
void shapelib_shapefile_pass(benchmark::State &state, bool held) {
    SAHooks hooks = memory_hooks();
    std::vector<SHPObject *> objects;
    for (auto _ : state) {
        SHPHandle h = SHPOpenLL("nc.shp", "rb", &hooks);
        if (!h) {
            state.SkipWithError("SHPOpenLL");
            break;
        }
        int count, type;
        SHPGetInfo(h, &count, &type, nullptr, nullptr);
        if (held) objects.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            SHPObject *o = SHPReadObject(h, i);
            benchmark::DoNotOptimize(o->nVertices);
            if (held) objects.push_back(o);
            else SHPDestroyObject(o);
        }
        for (SHPObject *o : objects) SHPDestroyObject(o);
        objects.clear();
        SHPClose(h);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(file("nc.shp").size()));
}

void BM_ShapelibShapefile(benchmark::State &state) { shapelib_shapefile_pass(state, false); }
BENCHMARK(BM_ShapelibShapefile);

void BM_ShapelibShapefileHeld(benchmark::State &state) { shapelib_shapefile_pass(state, true); }
BENCHMARK(BM_ShapelibShapefileHeld);

// nc.dbf opened through shapelib (from memory) on each iteration, handed to
// read with its field and record counts, and closed.
template <typename Read>
void with_shapelib_dbase(benchmark::State &state, Read &&read) {
    SAHooks hooks = memory_hooks();
    for (auto _ : state) {
        DBFHandle h = DBFOpenLL("nc.dbf", "rb", &hooks);
        if (!h) {
            state.SkipWithError("DBFOpenLL");
            break;
        }
        read(h, DBFGetFieldCount(h), DBFGetRecordCount(h));
        DBFClose(h);
    }
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) * static_cast<long long>(file("nc.dbf").size()));
}

// Every field of every record through shapelib: by default each with the
// reader its type calls for (DBFReadIntegerAttribute, DBFReadDoubleAttribute,
// DBFReadStringAttribute, ...), as shapelib's users read attributes; as_text
// reads every field with DBFReadStringAttribute instead.
void shapelib_dbase_pass(benchmark::State &state, bool as_text) {
    with_shapelib_dbase(state, [as_text](DBFHandle h, int fields, int records) {
        std::vector<DBFFieldType> types;
        for (int f = 0; f < fields; ++f) types.push_back(DBFGetFieldInfo(h, f, nullptr, nullptr, nullptr));
        for (int r = 0; r < records; ++r)
            for (int f = 0; f < fields; ++f) {
                switch (as_text ? FTString : types[static_cast<size_t>(f)]) {
                case FTInteger: benchmark::DoNotOptimize(DBFReadIntegerAttribute(h, r, f)); break;
                case FTDouble: benchmark::DoNotOptimize(DBFReadDoubleAttribute(h, r, f)); break;
                case FTLogical: benchmark::DoNotOptimize(DBFReadLogicalAttribute(h, r, f)); break;
                default: benchmark::DoNotOptimize(DBFReadStringAttribute(h, r, f));
                }
            }
    });
}

void BM_ShapelibDbase(benchmark::State &state) { shapelib_dbase_pass(state, false); }
BENCHMARK(BM_ShapelibDbase);

// Every field as text, trimmed, which is all that our side hands out: less
// work for shapelib than its typed reads, since it converts no number, and it
// hands out a pointer into its own buffer where ours makes each value a block
// of its own in an array keyed by field name.
void BM_ShapelibDbaseText(benchmark::State &state) { shapelib_dbase_pass(state, true); }
BENCHMARK(BM_ShapelibDbaseText);

// Every field as text, each value held under its field's name until the next
// record's replace it, as our side holds a record's values: the map and its
// strings are kept from record to record, so that once the first record has
// been read a value is stored without an allocation unless it outgrows the
// one before.
void BM_ShapelibDbaseTextHeld(benchmark::State &state) {
    std::map<std::string, std::string> row;
    with_shapelib_dbase(state, [&row](DBFHandle h, int fields, int records) {
        std::vector<std::string *> values;
        for (int f = 0; f < fields; ++f) {
            char name[XBASE_FLDNAME_LEN_READ + 1];
            DBFGetFieldInfo(h, f, name, nullptr, nullptr);
            values.push_back(&row[name]);
        }
        for (int r = 0; r < records; ++r) {
            for (int f = 0; f < fields; ++f) *values[static_cast<size_t>(f)] = DBFReadStringAttribute(h, r, f);
            benchmark::DoNotOptimize(row);
        }
    });
}
BENCHMARK(BM_ShapelibDbaseTextHeld);
#endif

}  // namespace

int main(int argc, char **argv) {
    return vorpix::bench::run_with_ratios(argc, argv,
                                          {{"BM_VorpixShapefile", "BM_ShapelibShapefileHeld"},
                                           {"BM_VorpixShapefile", "BM_ShapelibShapefile"},
                                           {"BM_VorpixDbase", "BM_ShapelibDbase"},
                                           {"BM_VorpixDbase", "BM_ShapelibDbaseText"},
                                           {"BM_VorpixDbase", "BM_ShapelibDbaseTextHeld"}});
}
