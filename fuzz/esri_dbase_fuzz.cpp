// Any bytes as a dBase file: decode, read every record's fields, list.
// Wherever the sized decoder succeeds, the plain one decodes the same; the
// fields trim alike on the vector and the portable paths. The header
// decoder for readers of a record at a time reads the same bytes, and the
// typed values of each record it finds are read within the record.
#include "fuzz_input.hpp"
#include "arrays.h"
#include "esri.h"
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
    esri_release_dbase_file(&dbf);
    esri_release_dbase_file(&plain);

    ESRIDBASEStr header{};
    if (esri_decode_dbase_header_sized(&header, bytes.data(), static_cast<long>(bytes.size())) == 0) {
        const size_t start = static_cast<unsigned short>(header.hdr.numbyteshdr);
        const size_t width = static_cast<unsigned short>(header.hdr.numbytesrec);
        std::vector<ESRIDBASEVALUEStr> values(static_cast<size_t>(cnttbl(header.field_descriptors)));
        for (size_t at = start, r = 0; at + width <= bytes.size() && r < most_records; at += width, ++r) {
            const int deleted = esri_get_dbase_values(&header, bytes.data() + at, static_cast<long>(width),
                                                      values.data(), static_cast<int>(values.size()));
            require(deleted == (bytes[at] == '*'), "the deletion flag reads otherwise");
            for (const ESRIDBASEVALUEStr &v : values)
                if (v.type == ESRI_VALUE_TEXT)
                    require(v.text >= bytes.data() + at && v.text + v.length <= bytes.data() + at + width,
                            "a value's text lies outside its record");
        }
    }
    esri_release_dbase_file(&header);
    return 0;
}
