// Any bytes as a dBase file: decode, read every record's fields, list.
// Wherever the sized decoder succeeds, the plain one decodes the same; the
// fields trim alike on the vector and the portable paths.
#include "fuzz_input.hpp"
#include "arrays.h"
#include "esri.h"
#include "esri_release.hpp"
#include "redblack.h"
#include "words.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using vorpix::fuzz::require;

// Records read: a header can claim two billion of them in a few bytes.
constexpr int most_records = 4096;

// The fields of the first records, under the descriptors' names, in one string.
std::string fields_of(ESRIDBASEStr &dbf) {
    std::string out;
    Arr *fields = nullptr;
    for (int r = 0; r < dbf.hdr.numrecs && r < most_records; ++r) {
        if (esri_get_dbase_fields(&dbf, r, &fields) < 0) {
            out += "(failed)";
            continue;
        }
        for (int k = 0; k < cnttbl(dbf.field_descriptors); ++k) {
            const auto *d = static_cast<const ESRIDBASEFIELDDESCRStr *>(gettbl(dbf.field_descriptors, k));
            char name[sizeof d->name + 1] = {};
            std::memcpy(name, d->name, sizeof d->name);
            const auto *value = fields ? static_cast<const char *>(getarr(fields, strtrim(name))) : nullptr;
            out += value ? value : "(none)";
            out += '\0';
        }
    }
    if (fields) freearr(fields, std::free);
    return out;
}

std::string listing_of(ESRIDBASEStr &dbf) {
    char prefix[] = "";
    return vorpix::fuzz::printed([&] { esri_print_dbase_file(prefix, &dbf); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vorpix::fuzz::silence();
    auto bytes = vorpix::fuzz::exact_copy(data, size);
    ESRIDBASEStr dbf{}, plain{};
    if (esri_decode_dbase_file_sized(&dbf, bytes.data(), static_cast<long>(bytes.size())) == 0) {
        const auto [vector, portable] = vorpix::on_both_paths([&] { return fields_of(dbf); });
        require(vector == portable, "the vector and portable paths trim the fields otherwise");
        // The plain decoder trusts the data to hold the last record slot
        // whole; the sized one takes a missing last byte (the end-of-file
        // marker's place) as zero, which the plain one is given.
        auto whole = bytes;
        whole.push_back(0);
        unsigned char *stream = whole.data();
        require(esri_decode_dbase_file(&plain, whole.data(), &stream) == 0, "the plain decoder fails");
        // The listing has a line per record slot, even of no width.
        if (dbf.hdr.numrecs <= most_records)
            require(listing_of(dbf) == listing_of(plain), "the plain decoder decodes otherwise");
        require(fields_of(plain) == portable, "the plain decoder's fields differ");
    }
    vorpix::esri::release_dbase_file(&dbf);
    vorpix::esri::release_dbase_file(&plain);
    return 0;
}
