#include "netcdf.h"

#include "byte_writer.hpp"
#include "log_capture.hpp"
#include "redblack.h"
#include "test_files.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

using namespace vorpix::test;

namespace {

using Bytes = std::vector<unsigned char>;

Bytes fixture(const std::string &name) { return read_file(fixture_path("netcdf/" + name)); }

struct Header {
    NETCDFHdr *hdr = nullptr;
    ~Header() {
        netcdf_clear_header(hdr);
        std::free(hdr);
    }
};

// Through the sized entry point, or the plain one (leaving *end after the header).
int decode(const Bytes &bytes, Header &h, bool sized = true, long *end = nullptr) {
    if (sized) return netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &h.hdr);
    Bytes copy = bytes;
    unsigned char *cursor = copy.data();
    const int r = netcdf_unstuff_header(&cursor, &h.hdr);
    if (end) *end = cursor - copy.data();
    return r;
}

std::string listing(NETCDFHdr *hdr) {
    return printed([&] { netcdf_print_header(hdr, stdout); });
}

// A name as the header stores it: its length, its bytes, padding to 4.
void put_name(Bytes &b, const std::string &s) {
    put_be32(b, static_cast<std::uint32_t>(s.size()));
    b.insert(b.end(), s.begin(), s.end());
    while (b.size() % 4) b.push_back(0);
}

// Header words and names in file order.
template <typename... Parts>
void put(Bytes &b, const Parts &...parts) {
    const auto one = [&b](const auto &part) {
        if constexpr (std::is_integral_v<std::decay_t<decltype(part)>>) {
            put_be32(b, static_cast<std::uint32_t>(part));
        } else {
            put_name(b, part);
        }
    };
    (one(parts), ...);
}

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::string item;
    std::istringstream in(s);
    while (std::getline(in, item, sep)) out.push_back(item);
    if (!s.empty() && s.back() == sep) out.push_back("");
    return out;
}

std::vector<std::string> value_texts(const NETCDFValues &v) {
    if (v.type == NETCDF_CHAR) return {static_cast<char *>(v.values)};
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(std::max(v.n, 0)));
    for (int i = 0; i < v.n; ++i) out.push_back(netcdf_value2str(v.type, i, v.values));
    return out;
}

const NETCDFAttr *find_attr(const NETCDFAttr *attrs, int n, const std::string &name) {
    for (int i = 0; i < n; ++i)
        if (name == attrs[i].name) return &attrs[i];
    return nullptr;
}

// Facts about types.nc from two independent readers (make_fixtures.py):
// scipy's (types.facts) and ncdump -h (types.dump.facts, no data values). The
// same facts must come out of our decoder, values in the listing's texts.
class NetcdfOracle : public ::testing::TestWithParam<const char *> {};

TEST_P(NetcdfOracle, DecodesWhatAnIndependentReaderFinds) {
    const Bytes bytes = fixture("types.nc");
    Header h;
    ASSERT_EQ(decode(bytes, h), 0);
    std::ifstream facts(fixture_path(std::string("netcdf/") + GetParam()));
    ASSERT_TRUE(facts);
    std::string line;
    int dims = 0, gattrs = 0, vars = 0;
    while (std::getline(facts, line)) {
        const auto tab = line.find('\t');
        const auto words = split(line.substr(0, tab), ' ');
        const auto values = tab == std::string::npos ? std::vector<std::string>{} : split(line.substr(tab + 1), '\t');
        SCOPED_TRACE(line);
        if (words[0] == "numrecs") {
            EXPECT_EQ(h.hdr->numrecs, std::stoi(words[1]));
        } else if (words[0] == "dim") {
            ASSERT_LT(dims, h.hdr->dims_n);
            EXPECT_STREQ(h.hdr->dims[dims].name, words[1].c_str());
            EXPECT_EQ(h.hdr->dims[dims].value, std::stoi(words[2]));
            ++dims;
        } else if (words[0] == "gattr" || words[0] == "vattr") {
            const bool global = words[0] == "gattr";
            const NETCDFVar *var = global ? nullptr
                                          : static_cast<NETCDFVar *>(getarr(h.hdr->vars_array, words[1].c_str()));
            ASSERT_TRUE(global || var);
            const size_t at = global ? 1 : 2;
            const NETCDFAttr *a = global ? find_attr(h.hdr->attrs, h.hdr->attrs_n, words[at])
                                         : find_attr(var->attrs, var->nattrs, words[at]);
            ASSERT_NE(a, nullptr);
            EXPECT_EQ(a->values.type, std::stoi(words[at + 1]));
            if (a->values.type == NETCDF_CHAR) {
                // scipy drops trailing NULs: ncgen writes "" as one NUL.
                EXPECT_GE(a->values.n, std::stoi(words[at + 2]));
                EXPECT_EQ(value_texts(a->values)[0], values.empty() ? "" : values[0]);
            } else {
                EXPECT_EQ(a->values.n, std::stoi(words[at + 2]));
                EXPECT_EQ(value_texts(a->values), values);
            }
            gattrs += global;
        } else if (words[0] == "var") {
            auto *var = static_cast<NETCDFVar *>(getarr(h.hdr->vars_array, words[1].c_str()));
            ASSERT_NE(var, nullptr);
            EXPECT_EQ(var, &h.hdr->vars[vars]);
            EXPECT_EQ(var->type, std::stoi(words[2]));
            ASSERT_EQ(var->ndims, std::stoi(words[3]));
            bool record = false;
            for (int j = 0; j < var->ndims; ++j) {
                EXPECT_STREQ(var->dims[j]->name, words[4 + j].c_str());
                record |= var->dims[j]->value == 0;
            }
            EXPECT_EQ(var->fixed, record ? 0 : 1);
            if (values[0] != "-") {
                // The first value at begin, in the file's byte order.
                const size_t size = std::vector<size_t>{0, 1, 1, 2, 4, 4, 8}.at(static_cast<size_t>(var->type));
                ASSERT_LE(var->begin + size, bytes.size());
                unsigned char host[8];
                for (size_t k = 0; k < size; ++k) host[k] = bytes[var->begin + size - 1 - k];
                EXPECT_EQ(netcdf_value2str(var->type, 0, host), values[0]);
            }
            ++vars;
        }
    }
    EXPECT_EQ(dims, h.hdr->dims_n);
    EXPECT_EQ(gattrs, h.hdr->attrs_n);
    EXPECT_EQ(vars, h.hdr->vars_n);
    EXPECT_EQ(h.hdr->stream, bytes.data());
}

INSTANTIATE_TEST_SUITE_P(Readers, NetcdfOracle, ::testing::Values("types.facts", "types.dump.facts"),
                         [](const auto &info) { return std::string(info.index ? "Ncdump" : "Scipy"); });

// Headers no writer makes: a record dimension in second place, a variable
// without dimensions, and a name given twice (the index holds the later).
TEST(NetcdfHeader, RecordDimensionAnywhereAndRepeatedNames) {
    Bytes b = {'C', 'D', 'F', 1};
    put(b, 0, NETCDF_DIMENSION, 2, "x", 4, "t", 0, 0, 0, NETCDF_VARIABLE, 3);
    put(b, "late", 2, 0, 1, 0, 0, NETCDF_INT, 16, 200);
    for (int begin : {300, 400}) put(b, "twin", 0, 0, 0, NETCDF_INT, 4, begin);
    unsigned char *cursor = b.data();
    Header h;
    ASSERT_EQ(netcdf_unstuff_header(&cursor, &h.hdr), 0);
    EXPECT_EQ(cursor - b.data(), static_cast<long>(b.size()));
    ASSERT_EQ(h.hdr->vars_n, 3);
    EXPECT_EQ(h.hdr->vars[0].fixed, 0);
    EXPECT_EQ(h.hdr->vars[0].dims[1], &h.hdr->dims[1]);
    EXPECT_EQ(h.hdr->vars[1].fixed, 1);
    EXPECT_EQ(h.hdr->vars[1].ndims, 0);
    EXPECT_EQ(getarr(h.hdr->vars_array, "twin"), &h.hdr->vars[2]);
}

// Where a name lies in a file: its length word, then its bytes.
size_t name_at(const Bytes &bytes, const std::string &name) {
    Bytes word;
    put_name(word, name);
    word.resize(4 + name.size());
    return static_cast<size_t>(std::search(bytes.begin(), bytes.end(), word.begin(), word.end()) - bytes.begin());
}

// A header of vars variables over one dimension, names at least
// name_length long, each with attrs int attributes of one to four values.
Bytes many_variables(int vars, size_t name_length, int attrs) {
    Bytes b = {'C', 'D', 'F', 1};
    put(b, 0, NETCDF_DIMENSION, 1, "x", 3, 0, 0, NETCDF_VARIABLE, vars);
    for (int i = 0; i < vars; ++i) {
        std::string name = "v" + std::to_string(i) + "_";
        name.resize(std::max(name.size(), name_length), static_cast<char>('a' + i % 26));
        put(b, name, 1, 0, attrs ? NETCDF_ATTRIBUTE : 0, attrs);
        for (int k = 0; k < attrs; ++k) {
            const int n = (i + k) % 4 + 1;
            put(b, "attribute_" + std::to_string(k), NETCDF_INT, n);
            for (int j = 0; j < n; ++j) put(b, i * 7 + k * 3 + j);
        }
        put(b, NETCDF_INT, 12, 0);
    }
    return b;
}

// One header record decoded into again and again, with contents small and
// large, gives each time what a fresh record gives; a failure half way leaves
// the variables it did not reach empty and the ones it read (the failing one
// too) in the index, a file of another version leaves the record alone, and
// the record still takes a file after either.
TEST(NetcdfHeader, OneRecordDecodedAgainHoldsOnlyTheLatestFile) {
    const Bytes types = fixture("types.nc"), example = fixture("example.nc");
    const std::vector<Bytes> files = {types,
                                      many_variables(400, 40, 6),
                                      example,
                                      many_variables(2000, 70, 3),
                                      many_variables(50, 20, 12),
                                      fixture("absent.nc"),
                                      many_variables(400, 40, 6),
                                      types};
    const std::string empty = "numrecs  =  0\ndims_n   =  0\nattrs_n  =  0\nvars_n   =  0\n";
    for (bool sized : {true, false}) {
        SCOPED_TRACE(sized ? "sized" : "plain");
        Header h;
        const auto decode_as_fresh = [&](const Bytes &file) {
            Header fresh;
            ASSERT_EQ(decode(file, fresh, sized), 0);
            ASSERT_EQ(decode(file, h, sized), 0);
            EXPECT_EQ(listing(h.hdr), listing(fresh.hdr));
            for (int v = 0; v < h.hdr->vars_n; ++v)
                EXPECT_EQ(getarr(h.hdr->vars_array, h.hdr->vars[v].name), &h.hdr->vars[v]);
        };
        for (size_t i = 0; i < files.size(); ++i) {
            SCOPED_TRACE(i);
            decode_as_fresh(files[i]);
            if (i == 4) {
                netcdf_clear_header(h.hdr);
                EXPECT_EQ(listing(h.hdr), empty);
                EXPECT_EQ(h.hdr->vars_array, nullptr);
                netcdf_clear_header(h.hdr);
            }
        }

        // grid's second dimension id (x, 1) made 9.
        Bytes bad = types;
        bad[name_at(bad, "grid") + 8 + 4 + 4 + 3] = 9;
        LogCapture log;
        EXPECT_EQ(decode(bad, h, sized), -1);
        EXPECT_EQ(log.text(), "netcdf_unstuff_header: hdr->vars[grid].idim[1]=9 error - cannot be greater than 3.\n");
        ASSERT_EQ(h.hdr->vars_n, 6);
        EXPECT_EQ(h.hdr->vars[0].nattrs, 3);
        EXPECT_STREQ(h.hdr->vars[1].name, "grid");
        EXPECT_EQ(h.hdr->vars[1].attrs, nullptr);
        for (int i = 2; i < 6; ++i) {
            EXPECT_EQ(h.hdr->vars[i].name, nullptr) << i;
            EXPECT_EQ(h.hdr->vars[i].dims, nullptr) << i;
            EXPECT_EQ(h.hdr->vars[i].begin, 0) << i;
        }
        EXPECT_EQ(getarr(h.hdr->vars_array, "grid"), &h.hdr->vars[1]);
        EXPECT_EQ(getarr(h.hdr->vars_array, "series"), nullptr);

        if (sized) {
            // Cut inside the attributes of scalar, the fifth variable.
            log.clear();
            EXPECT_EQ(netcdf_unstuff_header_sized(types.data(), static_cast<long>(name_at(types, "tiny") + 6), &h.hdr),
                      -1);
            EXPECT_NE(log.text().find("truncated header: variable 4"), std::string::npos) << log.text();
            EXPECT_EQ(getarr(h.hdr->vars_array, "scalar"), &h.hdr->vars[4]);
            EXPECT_EQ(getarr(h.hdr->vars_array, "label"), nullptr);
        }
        decode_as_fresh(example);
        Bytes version = example;
        version[3] = 2;
        long end = 0;
        EXPECT_EQ(decode(version, h, sized, &end), -1);
        EXPECT_EQ(end, sized ? 0 : 4);  // the plain decoder stops after the magic
        EXPECT_EQ(h.hdr->vars_n, 1);
        EXPECT_STREQ(h.hdr->vars[0].name, "v");
    }
}

// Decoding values into an attribute of a decoded header releases the buffer
// it held, as for any buffer the client holds there.
TEST(NetcdfOwnership, ValuesDecodedIntoADecodedAttributeReplaceItsBuffer) {
    Header h;
    ASSERT_EQ(decode(fixture("types.nc"), h), 0);
    ASSERT_GT(h.hdr->attrs_n, 0);
    Bytes words;
    put(words, 7, -2);
    for (int i = 0; i < h.hdr->attrs_n; ++i) {
        NETCDFValues &values = h.hdr->attrs[i].values;
        values = {NETCDF_INT, 2, values.values};
        unsigned char *cursor = words.data();
        ASSERT_EQ(netcdf_unstuff_values(&cursor, &values), 0);
        EXPECT_EQ(cursor, words.data() + 8);
        std::int32_t got[2];
        std::memcpy(got, values.values, sizeof got);
        EXPECT_EQ(got[0], 7) << h.hdr->attrs[i].name;
        EXPECT_EQ(got[1], -2) << h.hdr->attrs[i].name;
    }
}

// A record decoded again may give its old blocks to the new pieces. Blocks
// of every size from 1 to 96 bytes that the client put in place of the
// pieces, and the lists grown by realloc, must be taken only for pieces that
// fit in them (the sanitizer and valgrind runs see any write past a block)
// and leave the same header as a fresh record does.
TEST(NetcdfOwnership, PiecesReplacedByTheClientServeADecodeAgainOnlyWhereTheyFit) {
    const Bytes types = fixture("types.nc"), example = fixture("example.nc");
    for (const Bytes *file : {&types, &example}) {
        Header fresh;
        ASSERT_EQ(decode(*file, fresh), 0);
        const std::string expected = listing(fresh.hdr);
        Header h;
        ASSERT_EQ(decode(types, h), 0);
        for (size_t size = 1; size <= 96; ++size) {
            SCOPED_TRACE(size);
            NETCDFHdr *hdr = h.hdr;
            size_t next = size;  // neighbouring pieces get neighbouring sizes
            const auto replace = [&](auto *&piece) {
                std::free(piece);
                piece = static_cast<std::remove_reference_t<decltype(piece)>>(std::malloc(next));
                std::memset(piece, 0xA5, next);
                next = next % 96 + 1;
            };
            const auto replace_attrs = [&](NETCDFAttr *&list, int n) {
                for (int i = 0; i < n; ++i) {
                    replace(list[i].name);
                    replace(list[i].values.values);
                }
                list = static_cast<NETCDFAttr *>(
                    std::realloc(list, (static_cast<size_t>(n) + size) * sizeof(NETCDFAttr)));
            };
            for (int i = 0; i < hdr->dims_n; ++i) replace(hdr->dims[i].name);
            replace_attrs(hdr->attrs, hdr->attrs_n);
            for (int i = 0; i < hdr->vars_n; ++i) {
                replace(hdr->vars[i].name);
                replace(hdr->vars[i].dims);
                replace_attrs(hdr->vars[i].attrs, hdr->vars[i].nattrs);
            }
            hdr->vars = static_cast<NETCDFVar *>(
                std::realloc(hdr->vars, (static_cast<size_t>(hdr->vars_n) + size) * sizeof(NETCDFVar)));
            ASSERT_EQ(decode(*file, h), 0);
            EXPECT_EQ(listing(h.hdr), expected);
            for (int i = 0; i < h.hdr->vars_n; ++i)
                EXPECT_EQ(getarr(h.hdr->vars_array, h.hdr->vars[i].name), &h.hdr->vars[i]);
            if (file == &example) {
                ASSERT_EQ(decode(types, h), 0);
            }
        }
    }
}

template <typename T>
T *zeroed(size_t n) {
    // T is a pointer type for lists of pointers, whose size is meant.
    return static_cast<T *>(std::calloc(n, sizeof(T)));  // NOLINT(bugprone-sizeof-expression)
}

// A client may take or free any piece of a decoded header and set it NULL,
// or put a header together itself from malloc'ed pieces, some left NULL;
// clearing releases the rest piece by piece and leaves the header empty
// (the sanitizer runs check each release).
TEST(NetcdfOwnership, ClearReleasesWhatTheClientLeaves) {
    for (bool sized : {true, false}) {
        Header h;
        ASSERT_EQ(decode(fixture("example.nc"), h, sized), 0);
        NETCDFHdr *hdr = h.hdr;
        ASSERT_EQ(hdr->dims_n, 1);
        ASSERT_EQ(hdr->vars_n, 1);
        ASSERT_EQ(hdr->vars[0].nattrs, 1);
        std::free(std::exchange(hdr->dims[0].name, nullptr));
        std::free(std::exchange(hdr->attrs[0].values.values, nullptr));
        std::free(std::exchange(hdr->vars[0].dims, nullptr));
        char *kept = std::exchange(hdr->vars[0].attrs[0].name, nullptr);
        char *title = std::exchange(hdr->attrs[0].name, nullptr);
        EXPECT_EQ(netcdf_clear_header(hdr), 0);
        EXPECT_STREQ(kept, "scale");
        EXPECT_STREQ(title, "title");
        std::free(kept);
        std::free(title);
    }

    const auto attrs = [](int n) {
        auto *list = zeroed<NETCDFAttr>(static_cast<size_t>(n));
        for (int i = 0; i < n; ++i)
            list[i] = {i == 1 ? nullptr : strdup("attribute"), {NETCDF_DOUBLE, 3, zeroed<double>(3)}};
        return list;
    };
    auto *dims = zeroed<NETCDFDim>(3);
    dims[0] = {strdup("time"), 0};
    dims[2] = {strdup("station"), 12};
    auto **var_dims = zeroed<NETCDFDim *>(2);
    var_dims[0] = &dims[0], var_dims[1] = &dims[2];
    auto *vars = zeroed<NETCDFVar>(2);
    vars[0] = {strdup("height"), 2, var_dims, 3, attrs(3), 0, 0, 0, 0};
    auto *hdr = zeroed<NETCDFHdr>(1);
    *hdr = {nullptr, 4, dims, 3, attrs(2), 2, vars, 2, newarr(nullptr)};
    setarr(hdr->vars_array, vars[0].name, &vars[0]);
    EXPECT_EQ(netcdf_clear_header(hdr), 0);
    EXPECT_EQ(hdr->dims, nullptr);
    EXPECT_EQ(hdr->attrs, nullptr);
    EXPECT_EQ(hdr->vars, nullptr);
    EXPECT_EQ(hdr->vars_array, nullptr);
    EXPECT_EQ(hdr->dims_n + hdr->attrs_n + hdr->vars_n, 0);
    EXPECT_EQ(hdr->numrecs, 4);
    std::free(hdr);
}

// ncgen writes a record variable's offset even when there are no records,
// each after the one before: the second lies past the file's end.
TEST(NetcdfHeader, RecordVariablesWithoutRecordsDecodeSized) {
    const Bytes bytes = fixture("norecords.nc");
    LogCapture log;
    Header h;
    ASSERT_EQ(decode(bytes, h), 0) << log.text();
    EXPECT_EQ(h.hdr->numrecs, 0);
    ASSERT_EQ(h.hdr->vars_n, 4);
    EXPECT_EQ(h.hdr->vars[0].fixed, 1);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(h.hdr->vars[i].fixed, 0);
        EXPECT_GE(static_cast<size_t>(h.hdr->vars[i].begin), bytes.size()) << h.hdr->vars[i].name;
    }
    EXPECT_GT(static_cast<size_t>(h.hdr->vars[3].begin), bytes.size());
    // The fixed variable's values still have to be there.
    EXPECT_EQ(netcdf_unstuff_header_sized(bytes.data(), h.hdr->vars[0].begin + 11, &h.hdr), -1);
    EXPECT_NE(log.text().find("variable 0 (\"height\") data at byte"), std::string::npos) << log.text();
}

// example.nc with one word changed, and the messages that must follow,
// innermost first, each after its flags; the sized decoder reports a negative
// count in one line.
struct Corruption {
    const char *what;
    size_t offset;
    std::int32_t word;
    std::vector<std::string> messages, sized_messages = {};
};

void PrintTo(const Corruption &c, std::ostream *os) { *os << c.what; }

class NetcdfCorruptHeader : public ::testing::TestWithParam<Corruption> {};

TEST_P(NetcdfCorruptHeader, FailsWithItsMessages) {
    const Corruption &c = GetParam();
    Bytes bytes = fixture("example.nc");
    set_word(bytes, c.offset, static_cast<std::uint32_t>(c.word), 4, true);
    for (bool sized : {false, true}) {
        SCOPED_TRACE(sized ? "sized" : "plain");
        LogCapture log;
        Header h;
        EXPECT_EQ(decode(bytes, h, sized), -1);
        std::vector<std::string> got;
        for (const auto &e : log.entries()) got.push_back(std::to_string(e.flags) + e.message);
        EXPECT_EQ(got, sized && !c.sized_messages.empty() ? c.sized_messages : c.messages);
    }
}

const std::string header = "0netcdf_unstuff_header: ", attrs = "0netcdf_unstuff_attrs: ",
                  in_header = header + "netcdf_unstuff_attrs() error.\n",
                  in_variable = header + "netcdf_unstuff_attrs() error for hdr->vars[v].\n",
                  values = "1netcdf_unstuff_attrs: netcdf_unstuff_values(attrs->values) error.\n",
                  sized_at = "0netcdf_unstuff_header_sized: ";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Messages, NetcdfCorruptHeader, ::testing::Values(
    Corruption{"version", 0, 0x43444602, {header + "Wrong magic number.\n"}},
    Corruption{"dimension_tag", 8, 11, {header + "file error: expecting NC_DIMENSION.\n"}},
    Corruption{"dimension_absent", 8, 0, {header + "file error: expecting NC_DIMENSION or ABSENT.\n"}},
    Corruption{"attribute_tag", 28, 13, {attrs + "file error: expecting NC_ATTRIBUTE.\n", in_header}},
    Corruption{"attribute_absent", 28, 0, {attrs + "file error: expecting NC_ATTRIBUTE or ABSENT.\n", in_header}},
    Corruption{"variable_tag", 60, 12, {header + "file error: expecting NC_VARIABLE.\n"}},
    Corruption{"variable_absent", 60, 0, {header + "file error: expecting NC_VARIABLE or ABSENT.\n"}},
    Corruption{"dimension_id_high", 80, 1, {header + "hdr->vars[v].idim[0]=1 error - cannot be greater than 0.\n"}},
    Corruption{"dimension_id_negative", 80, -1, {header + "hdr->vars[v].idim[0]=-1 error - cannot be less than 0.\n"}},
    Corruption{"value_type", 104, 7, {"0netcdf_unstuff_values: Unrecognized values type = 7.\n", values, in_variable}},
    Corruption{"value_count_negative", 108, -1,
               {"0netcdf_unstuff_values: file error: value count -1 is negative.\n", values, in_variable},
               {sized_at + "variable 0 (\"v\") attribute 0 at byte 112: value count -1.\n"}},
    Corruption{"name_length_negative", 92, -2,
               {"0netcdf_unstuff_string: file error: name length -2 is negative.\n",
                "1netcdf_unstuff_attrs: netcdf_unstuff_string(attrs->name) error.\n", in_variable},
               {sized_at + "variable 0 (\"v\") attribute 0 at byte 96: name length -2.\n"}},
    Corruption{"attribute_count_negative", 32, -3, {attrs + "file error: attribute count -3 is negative.\n", in_header},
               {sized_at + "global attribute at byte 36: attribute count -3.\n"}},
    Corruption{"dimension_count_negative", 12, -4, {header + "file error: dimension count -4 is negative.\n"},
               {sized_at + "dimension list at byte 16: dimension count -4.\n"}},
    Corruption{"dimension_name_length_negative", 16, -16777215,
               {"0netcdf_unstuff_string: file error: name length -16777215 is negative.\n",
                "1netcdf_unstuff_header: netcdf_unstuff_string(hdr->dims->name) error.\n"},
               {sized_at + "dimension 0 at byte 20: name length -16777215.\n"}}),
    [](const auto &info) { return std::string(info.param.what); });
// clang-format on

// Every prefix of every fixture: a cut into the header or into a variable's
// values fails with a message, naming what runs past at some cuts, and reads
// nothing outside the prefix (copied into an exact-size buffer for the
// sanitizers); the header it leaves half-filled lists without harm.
TEST(NetcdfHeader, EveryTruncationFailsCleanly) {
    struct File {
        const char *name;
        size_t complete;  // the shortest length holding every variable's values
    };
    const std::map<size_t, std::string> types_messages = {
        {2, "truncated header: magic at byte 2: 1 bytes needed, 0 remain.\n"},
        {715, "variable 3 (\"temp\") data at byte 696: 20 bytes needed, 19 remain.\n"}};
    for (const File f :
         {File{"types.nc", 716}, File{"example.nc", 134}, File{"border_good.nc", 4908}, File{"absent.nc", 32}}) {
        SCOPED_TRACE(f.name);
        const Bytes bytes = fixture(f.name);
        const std::unique_ptr<FILE, int (*)(FILE *)> nowhere(std::fopen("/dev/null", "w"), std::fclose);
        for_each_cut(bytes, 0, false, [&](const unsigned char *prefix, size_t n) {
            LogCapture log;
            Header h;
            const int r = netcdf_unstuff_header_sized(n ? prefix : nullptr, static_cast<long>(n), &h.hdr);
            EXPECT_EQ(r, n < f.complete ? -1 : 0) << n << log.text();
            if (n < f.complete) {
                ASSERT_FALSE(log.empty()) << n;  // before reading its last line
                EXPECT_EQ(log.entries().back().message.rfind("netcdf_unstuff_header", 0), 0u) << n;
            }
            if (f.name == std::string("types.nc") && types_messages.count(n)) {
                EXPECT_EQ(log.text(), "netcdf_unstuff_header_sized: " + types_messages.at(n));
            }
            if (h.hdr) {
                EXPECT_EQ(netcdf_print_header(h.hdr, nowhere.get()), 0) << n;
            }
        });
    }
}

// An empty char attribute, indices of three digits, and conversions: each
// has its own buffer, so a type name already taken survives a value text of
// a list tag, and a value too long for the buffer is cut.
TEST(NetcdfListing, EmptyCharAttributeWideIndicesAndConversionTexts) {
    char empty[] = "empty", nothing[] = "";
    NETCDFAttr attrs[124] = {};
    std::vector<std::string> names(124);
    for (int i = 0; i < 124; ++i) {
        names[i] = "a" + std::to_string(i);
        attrs[i] = {names[i].data(), {NETCDF_CHAR, 0, nothing}};
    }
    attrs[0].name = empty;
    NETCDFHdr hdr{nullptr, 0, nullptr, 0, attrs, 124, nullptr, 0, nullptr};
    const std::string text = listing(&hdr);
    EXPECT_NE(text.find("attrs[00].name  =  empty\nattrs[00].values.type  =  char\nattrs[00].values.n     =  0\n"
                        "attrs[00].values.values[..]  =  \n"),
              std::string::npos);
    EXPECT_NE(text.find("attrs[05].name  =  a5\n"), std::string::npos);
    EXPECT_NE(text.find("attrs[123].name  =  a123\n"), std::string::npos);

    const char *name = netcdf_type2str(NETCDF_FLOAT);
    EXPECT_STREQ(netcdf_value2str(NETCDF_VARIABLE, 0, nullptr), "variable");
    EXPECT_STREQ(name, "float");
    EXPECT_STREQ(netcdf_type2str(7), "UNKNOWNTYPE(7)");
    EXPECT_STREQ(netcdf_type2str(0), "UNKNOWNTYPE(0)");
    EXPECT_STREQ(netcdf_type2str(11), "variable");
    EXPECT_STREQ(netcdf_value2str(12, 0, nullptr), "attribute");
    EXPECT_STREQ(netcdf_value2str(9, 0, nullptr), "UNKNOWNTYPE(9)");
    const double huge[] = {-1e300, 1e23};
    const std::string cut = netcdf_value2str(NETCDF_DOUBLE, 0, const_cast<double *>(huge));
    EXPECT_EQ(cut.size(), 31u);
    EXPECT_EQ(cut.substr(0, 3), "-10");
    EXPECT_STREQ(netcdf_value2str(NETCDF_DOUBLE, 1, const_cast<double *>(huge)), "99999999999999991611392.000000");
}

// No record to decode into is refused in one line; the stream stays put.
TEST(NetcdfValues, NoRecordIsOneMessage) {
    unsigned char bytes[8] = {};
    unsigned char *cursor = bytes;
    EXPECT_EQ(one_message([&] { EXPECT_EQ(netcdf_unstuff_values(&cursor, nullptr), -1); }),
              "netcdf_unstuff_values: values == NULL.\n");
    EXPECT_EQ(cursor, bytes);
}

}  // namespace
