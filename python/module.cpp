// The vorpix Python module's native part (vorpix._vorpix): the feature
// layer's readers and the library's texture and netCDF decoders, with what
// they give handed to Python as numpy arrays. Decoding runs without the
// GIL; what it collects becomes Python objects afterwards, in one pass,
// with no Python object for any point.
#include "vorpix/features.hpp"
#include "vorpix/library_log.hpp"
#include "vorpix/map_readers.hpp"
#include "vorpix/texture.hpp"

#include "netcdf.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace py = pybind11;
namespace features = vorpix::features;

namespace {

// ---------------------------------------------------------------------------
// Running without the GIL

// The GIL released while in scope. The feature layer catches the library's
// log per thread (elog_set_thread_handler), so decodes on several threads
// run at once and each keeps its own messages.
class Decoding {
public:
    Decoding() = default;
    Decoding(const Decoding &) = delete;
    Decoding &operator=(const Decoding &) = delete;

private:
    py::gil_scoped_release released_;
};

// ---------------------------------------------------------------------------
// Errors: vorpix.Error and its subclasses, made in vorpix/_errors.py

const char *code_name(features::ErrorCode code) {
    switch (code) {
    case features::ErrorCode::Invalid: return "invalid";
    case features::ErrorCode::Io: return "io";
    case features::ErrorCode::Unsupported: return "unsupported";
    case features::ErrorCode::Memory: return "memory";
    }
    return "invalid";
}

void raise_error(const features::Error &e) {
    try {
        py::object make = py::module_::import("vorpix._errors").attr("make");
        py::object error = make(code_name(e.code()), py::str(e.what()), e.file(), e.place(), e.reason());
        PyErr_SetObject(reinterpret_cast<PyObject *>(Py_TYPE(error.ptr())), error.ptr());
    } catch (py::error_already_set &failure) {
        failure.restore();
    }
}

// ---------------------------------------------------------------------------
// Bytes of a whole file, for the decoders that take memory

std::vector<unsigned char> file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw features::Error(features::ErrorCode::Io, path, "", "cannot be opened");
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw features::Error(features::ErrorCode::Io, path, "", "is not a file that can be read");
    in.seekg(0, std::ios::beg);
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char *>(bytes.data()), size))
        throw features::Error(features::ErrorCode::Io, path, "", "cannot be read");
    return bytes;
}

// ---------------------------------------------------------------------------
// numpy arrays that take over a vector's memory

template <typename T>
py::array_t<T> numpy_of(std::vector<T> &&values) {
    auto *owned = new std::vector<T>(std::move(values));
    py::capsule free_when_done(owned, [](void *p) { delete static_cast<std::vector<T> *>(p); });
    return py::array_t<T>({owned->size()}, {sizeof(T)}, owned->data(), free_when_done);
}

template <typename T>
py::array_t<T> numpy_of(std::vector<T> &&values, std::size_t rows, std::size_t columns) {
    auto *owned = new std::vector<T>(std::move(values));
    py::capsule free_when_done(owned, [](void *p) { delete static_cast<std::vector<T> *>(p); });
    return py::array_t<T>({rows, columns}, {columns * sizeof(T), sizeof(T)}, owned->data(), free_when_done);
}

// ---------------------------------------------------------------------------
// Geometries made in GEOS directly, for shapely 1.8

// The GEOS C functions this module calls, taken from the libgeos_c that
// shapely has loaded (its dlopen handle), so that the geometries made here
// are those shapely's own objects hold and free. Without every function
// (a GEOS before 3.10), geometries go to Python as WKB instead.
struct GeosApi {
    using Context = void *;
    using Geom = void *;
    using Seq = void *;
    using Handler = void (*)(const char *, void *);
    Context (*init)() = nullptr;
    void (*finish)(Context) = nullptr;
    Handler (*set_error_handler)(Context, Handler, void *) = nullptr;
    Seq (*seq_from_arrays)(Context, const double *, const double *, const double *, const double *, unsigned) = nullptr;
    Geom (*point)(Context, Seq) = nullptr;
    Geom (*line)(Context, Seq) = nullptr;
    Geom (*ring)(Context, Seq) = nullptr;
    Geom (*polygon)(Context, Geom, Geom *, unsigned) = nullptr;
    Geom (*collection)(Context, int, Geom *, unsigned) = nullptr;
    void (*destroy)(Context, Geom) = nullptr;

    static std::optional<GeosApi> of(std::uintptr_t library) {
        GeosApi api;
        bool all = true;
        // The handle comes from Python as a number (ctypes gives it so).
        void *handle = reinterpret_cast<void *>(library);  // NOLINT(performance-no-int-to-ptr)
        auto take = [&](auto &slot, const char *name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(handle, name));
            all = all && slot != nullptr;
        };
        take(api.init, "GEOS_init_r");
        take(api.finish, "GEOS_finish_r");
        take(api.set_error_handler, "GEOSContext_setErrorMessageHandler_r");
        take(api.seq_from_arrays, "GEOSCoordSeq_copyFromArrays_r");
        take(api.point, "GEOSGeom_createPoint_r");
        take(api.line, "GEOSGeom_createLineString_r");
        take(api.ring, "GEOSGeom_createLinearRing_r");
        take(api.polygon, "GEOSGeom_createPolygon_r");
        take(api.collection, "GEOSGeom_createCollection_r");
        take(api.destroy, "GEOSGeom_destroy_r");
        if (!all) return std::nullopt;
        return api;
    }
};

// Python's cyclic garbage collector paused while in scope, as it was.
class CollectorPaused {
public:
    CollectorPaused() : was_enabled_(PyGC_Disable() != 0) {}
    ~CollectorPaused() {
        if (was_enabled_) PyGC_Enable();
    }
    CollectorPaused(const CollectorPaused &) = delete;
    CollectorPaused &operator=(const CollectorPaused &) = delete;

private:
    bool was_enabled_;
};

// Shapely 1.8 geometries made from the features as they are read: each
// feature's GEOS geometry built from its own coordinates while decoding
// (no GIL), the Python objects that hold them made afterwards.
class GeosShapes {
public:
    GeosShapes(const GeosApi &api, py::tuple classes) : api_(api), classes_(std::move(classes)) {
        context_ = api_.init();
        if (!context_) throw std::bad_alloc();
        api_.set_error_handler(context_, &GeosShapes::error, this);
    }
    ~GeosShapes() {
        for (void *g : made_)
            if (g) api_.destroy(context_, g);
        api_.finish(context_);
    }
    GeosShapes(const GeosShapes &) = delete;
    GeosShapes &operator=(const GeosShapes &) = delete;

    // The feature's geometry, or none for a feature without (or, with the
    // reason kept, one GEOS refuses).
    void add(const features::Geometry &g, bool shaped) {
        // shapely's type numbers of the layer's types, which index classes_.
        static const std::uint8_t shapely_type[] = {0, 0, 4, 1, 5, 3, 6};
        types_.push_back(shapely_type[static_cast<std::size_t>(g.type)]);
        made_.push_back(shaped ? make(g) : nullptr);
        if (shaped && !made_.back() && refused_ < 0) {
            refused_ = static_cast<long>(made_.size() - 1);
            refusal_ = message_.empty() ? "GEOS cannot make it" : message_;
        }
        if (g.has_z()) has_z_ = true;
    }
    // The first feature (counted from 0 among those added) whose geometry
    // GEOS refused, and why; -1 when none.
    long refused() const { return refused_; }
    const std::string &refusal() const { return refusal_; }

    // An object array of shapely geometries, None for features without;
    // from here on Python's objects own the GEOS geometries.
    py::array objects() {
        const std::size_t n = made_.size();
        py::array out(py::dtype("object"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
        auto **slots = static_cast<PyObject **>(out.mutable_data());
        const py::str geom_name("__geom__"), empty_name("_is_empty"), ndim_name("_ndim");
        const py::int_ ndim(has_z_ ? 3 : 2);
        const py::tuple no_arguments;
        // The collector would run every few hundred objects made, over
        // all of them made so far, to find no cycle among them.
        const CollectorPaused paused;
        for (std::size_t i = 0; i < n; ++i) {
            Py_INCREF(Py_None);
            slots[i] = Py_None;
            void *g = made_[i];
            if (!g) continue;
            auto *cls = reinterpret_cast<PyTypeObject *>(classes_[types_[i]].ptr());
            py::object shape = py::reinterpret_steal<py::object>(cls->tp_new(cls, no_arguments.ptr(), nullptr));
            if (!shape) throw py::error_already_set();
            // shapely's own attributes, set as its geometry factory sets
            // them but past its __setattr__, which warns of their names.
            py::int_ address(reinterpret_cast<std::uintptr_t>(g));
            if (PyObject_GenericSetAttr(shape.ptr(), geom_name.ptr(), address.ptr()) < 0) throw py::error_already_set();
            made_[i] = nullptr;  // the object's now: its __del__ frees it
            if (PyObject_GenericSetAttr(shape.ptr(), empty_name.ptr(), Py_False) < 0 ||
                PyObject_GenericSetAttr(shape.ptr(), ndim_name.ptr(), ndim.ptr()) < 0)
                throw py::error_already_set();
            Py_DECREF(slots[i]);
            slots[i] = shape.release().ptr();
        }
        return out;
    }

private:
    static void error(const char *message, void *context) {
        auto *self = static_cast<GeosShapes *>(context);
        self->message_ = message ? message : "";
    }
    void *seq(const features::Geometry &g, std::uint32_t from, std::uint32_t to) {
        return api_.seq_from_arrays(context_, g.x.data() + from, g.y.data() + from,
                                    g.has_z() ? g.z.data() + from : nullptr, nullptr, to - from);
    }
    void *run(const features::Geometry &g, std::size_t r, void *(*make)(void *, void *)) {
        void *s = seq(g, g.runs[r], g.runs[r + 1]);
        return s ? make(context_, s) : nullptr;
    }
    // Parts made, then a collection of them; nothing when one fails.
    void *collect(int type, std::vector<void *> &parts) {
        for (void *p : parts)
            if (!p) {
                for (void *q : parts)
                    if (q) api_.destroy(context_, q);
                return nullptr;
            }
        return api_.collection(context_, type, parts.data(), static_cast<unsigned>(parts.size()));
    }
    void *polygon(const features::Geometry &g, std::size_t from, std::size_t to) {
        void *shell = run(g, from, api_.ring);
        if (!shell) return nullptr;
        holes_.clear();
        for (std::size_t r = from + 1; r < to; ++r) holes_.push_back(run(g, r, api_.ring));
        for (void *h : holes_)
            if (!h) {
                api_.destroy(context_, shell);
                for (void *q : holes_)
                    if (q) api_.destroy(context_, q);
                return nullptr;
            }
        return api_.polygon(context_, shell, holes_.data(), static_cast<unsigned>(holes_.size()));
    }
    void *make(const features::Geometry &g) {
        using T = features::GeometryType;
        message_.clear();
        std::vector<void *> parts;
        switch (g.type) {
        case T::Point: {
            void *s = seq(g, g.runs[0], g.runs[0] + 1);
            return s ? api_.point(context_, s) : nullptr;
        }
        case T::MultiPoint:
            for (std::uint32_t i = g.runs[0]; i < g.runs[1]; ++i) {
                void *s = seq(g, i, i + 1);
                parts.push_back(s ? api_.point(context_, s) : nullptr);
            }
            return collect(4, parts);
        case T::LineString: return run(g, 0, api_.line);
        case T::MultiLineString:
            for (std::size_t r = 0; r < g.run_count(); ++r) parts.push_back(run(g, r, api_.line));
            return collect(5, parts);
        case T::Polygon:
            if (g.polygon_count() > 0) return polygon(g, g.parts[0], g.parts[1]);
            return polygon(g, 0, g.run_count());
        case T::MultiPolygon:
            for (std::size_t p = 0; p < g.polygon_count(); ++p) parts.push_back(polygon(g, g.parts[p], g.parts[p + 1]));
            return collect(6, parts);
        case T::None: return nullptr;
        }
        return nullptr;
    }

    GeosApi api_;
    py::tuple classes_;
    void *context_ = nullptr;
    std::vector<void *> made_, holes_;
    std::vector<std::uint8_t> types_;
    bool has_z_ = false;
    long refused_ = -1;
    std::string message_, refusal_;
};

// What Python gives for shapely 1.8 geometries: (the dlopen handle of
// shapely's libgeos_c, shapely's classes by type number), or None for WKB.
// Made with the GIL, before decoding.
std::unique_ptr<GeosShapes> geos_shapes(const py::object &shapes, bool read_geometry) {
    if (shapes.is_none() || !read_geometry) return nullptr;
    const auto given = shapes.cast<py::tuple>();
    if (given.size() != 2) throw py::value_error("shapes is (GEOS library handle, shapely classes)");
    const std::optional<GeosApi> api = GeosApi::of(given[0].cast<std::uintptr_t>());
    if (!api) return nullptr;
    const auto classes = given[1].cast<py::tuple>();
    if (classes.size() != 7) throw py::value_error("shapely's classes by type number, 0 to 6");
    return std::make_unique<GeosShapes>(*api, classes);
}

// ---------------------------------------------------------------------------
// Features collected as flat arrays

// What kind of column a field makes.
enum class Kind { Integer, Real, Boolean, Date, Text };

Kind kind_of(const features::Field &f) {
    switch (f.dbase_type) {
    case 'N':
    case 'F':
        // Integers of up to 18 digits fit 64 bits; wider fields or ones with
        // decimals hold reals.
        return f.decimals == 0 && f.width < 19 ? Kind::Integer : Kind::Real;
    case 'O': return Kind::Real;
    case 'L': return Kind::Boolean;
    case 'D': return Kind::Date;
    default: return Kind::Text;
    }
}

// One field's values as they are read: numbers, logicals and dates as one
// 64-bit word each (a real's bits), text as bytes end to end, each with its
// value type; no object per value. A value of another type than the
// field's kind makes the column one of features::Value from then on.
struct Column {
    Kind kind;
    std::vector<std::int64_t> words;
    std::vector<std::uint8_t> tags;  // features::ValueType
    std::string chars;
    std::vector<std::size_t> ends;  // text: value i is chars[ends[i-1], ends[i])
    bool nulls = false, reals = false;
    std::vector<features::Value> mixed;  // once a value strays
    bool stray = false;

    explicit Column(Kind k) : kind(k) {}

    static bool fits(Kind kind, features::ValueType t) {
        using V = features::ValueType;
        switch (t) {
        case V::Null: return true;
        case V::Integer:
        case V::Real: return kind == Kind::Integer || kind == Kind::Real;
        case V::Boolean: return kind == Kind::Boolean;
        case V::Date: return kind == Kind::Date;
        case V::String: return kind == Kind::Text;
        }
        return false;
    }

    void add(features::Value &&v) {
        if (!stray && !fits(kind, v.type)) unmix();
        if (stray) {
            mixed.push_back(std::move(v));
            return;
        }
        tags.push_back(static_cast<std::uint8_t>(v.type));
        nulls = nulls || v.type == features::ValueType::Null;
        if (kind == Kind::Text) {
            chars += v.text;
            ends.push_back(chars.size());
            return;
        }
        if (v.type == features::ValueType::Real) {
            reals = true;
            std::int64_t bits = 0;
            std::memcpy(&bits, &v.real, sizeof bits);
            words.push_back(bits);
        } else words.push_back(v.integer);
    }

    features::Value value(std::size_t i) const {
        features::Value v;
        v.type = static_cast<features::ValueType>(tags[i]);
        if (kind == Kind::Text) {
            if (v.type == features::ValueType::String)
                v.text.assign(chars, i ? ends[i - 1] : 0, ends[i] - (i ? ends[i - 1] : 0));
        } else if (v.type == features::ValueType::Real) std::memcpy(&v.real, &words[i], sizeof v.real);
        else v.integer = words[i];
        return v;
    }

    // From typed storage to values, for a column that takes a stray.
    void unmix() {
        mixed.reserve(tags.size() + 1);
        for (std::size_t i = 0; i < tags.size(); ++i) mixed.push_back(value(i));
        stray = true;
        std::vector<std::int64_t>().swap(words);
        std::vector<std::uint8_t>().swap(tags);
        std::string().swap(chars);
        std::vector<std::size_t>().swap(ends);
    }
};

// Features as three levels of offsets over one array of points: feature f
// holds groups geom_offsets[f] to geom_offsets[f+1]-1, group g the runs
// part_offsets[g] to part_offsets[g+1]-1, run r the points ring_offsets[r]
// to ring_offsets[r+1]-1. A polygon is a group (its exterior, then its
// holes); a line, a multi-line or a set of points is one group of runs.
struct Collected {
    std::vector<features::Field> fields;
    std::vector<std::int64_t> fids;
    std::vector<std::uint8_t> types;  // features::GeometryType
    std::vector<double> coords;       // x, y (and z, NaN for geometries without, once any has one) per point
    bool has_z = false;
    std::vector<std::int64_t> geom_offsets{0}, part_offsets{0}, ring_offsets{0};
    std::vector<Column> columns;
    // When set, geometries go there instead of into the arrays above.
    std::unique_ptr<GeosShapes> shapes;

    explicit Collected(std::vector<features::Field> f) : fields(std::move(f)) {
        columns.reserve(fields.size());
        for (const features::Field &field : fields) columns.emplace_back(kind_of(field));
    }

    // Room for about this many points: a file's points are taken in one
    // go, without the copies of an array that grows. Only what is written
    // is ever touched; a hint beyond what can be had is let go.
    void expect_points(std::size_t points) {
        try {
            coords.reserve(points * 2);
        } catch (const std::bad_alloc &) {}
    }

    std::size_t points() const { return coords.size() / (has_z ? 3 : 2); }

    void add(features::Feature &f, bool geometry) {
        fids.push_back(f.id);
        const features::Geometry &g = f.geometry;
        const bool shaped = geometry && g.type != features::GeometryType::None && g.run_count() > 0;
        types.push_back(static_cast<std::uint8_t>(shaped ? g.type : features::GeometryType::None));
        if (shapes && geometry) shapes->add(g, shaped);
        else if (shaped) {
            const auto base = static_cast<std::int64_t>(points());
            auto add_runs = [&](std::size_t from, std::size_t to) {
                for (std::size_t r = from; r < to; ++r) ring_offsets.push_back(base + g.runs[r + 1]);
                part_offsets.push_back(static_cast<std::int64_t>(ring_offsets.size() - 1));
            };
            if (g.polygon_count() > 0)
                for (std::size_t p = 0; p < g.polygon_count(); ++p) add_runs(g.parts[p], g.parts[p + 1]);
            else add_runs(0, g.run_count());
            if (g.has_z() && !has_z) {
                // From (x, y) to (x, y, z) for the points before.
                const std::size_t n = coords.size() / 2;
                coords.resize(n * 3);
                for (std::size_t i = n; i-- > 0;) {
                    coords[3 * i + 2] = std::nan("");
                    coords[3 * i + 1] = coords[2 * i + 1];
                    coords[3 * i] = coords[2 * i];
                }
                has_z = true;
            }
            const std::size_t dims = has_z ? 3 : 2, at = coords.size(), n = g.x.size();
            coords.resize(at + n * dims);
            double *out = coords.data() + at;
            if (!has_z)
                for (std::size_t i = 0; i < n; ++i) {
                    out[2 * i] = g.x[i];
                    out[2 * i + 1] = g.y[i];
                }
            else
                for (std::size_t i = 0; i < n; ++i) {
                    out[3 * i] = g.x[i];
                    out[3 * i + 1] = g.y[i];
                    out[3 * i + 2] = g.has_z() ? g.z[i] : std::nan("");
                }
        }
        geom_offsets.push_back(static_cast<std::int64_t>(part_offsets.size() - 1));
        for (std::size_t i = 0; i < columns.size(); ++i)
            columns[i].add(i < f.values.size() ? std::move(f.values[i]) : features::Value{});
    }

    std::size_t count() const { return fids.size(); }
};

const char *kind_dtype(Kind kind) {
    switch (kind) {
    case Kind::Integer: return "int64";
    case Kind::Real: return "float64";
    case Kind::Boolean: return "bool";
    case Kind::Date: return "datetime64[ms]";
    case Kind::Text: return "object";
    }
    return "object";
}

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A YYYYMMDD date as milliseconds from 1970, or nothing when it names no day.
std::optional<std::int64_t> date_ms(std::int64_t yyyymmdd) {
    const std::int64_t y = yyyymmdd / 10000;
    const auto m = static_cast<unsigned>(yyyymmdd / 100 % 100), d = static_cast<unsigned>(yyyymmdd % 100);
    static const unsigned month_days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (yyyymmdd < 0 || m < 1 || m > 12 || d < 1 || d > month_days[m - 1]) return std::nullopt;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap) return std::nullopt;
    return days_from_civil(y, m, d) * 86400000;
}

py::object text_object(const std::string &text) {
    PyObject *s = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!s) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(s);
}

py::object value_object(const features::Value &v) {
    switch (v.type) {
    case features::ValueType::Null: return py::none();
    case features::ValueType::Integer: return py::int_(v.integer);
    case features::ValueType::Real: return py::float_(v.real);
    case features::ValueType::Boolean: return py::bool_(v.integer != 0);
    case features::ValueType::Date: return py::int_(v.integer);
    case features::ValueType::String: return text_object(v.text);
    }
    return py::none();
}

// One numpy array per column, of the field's kind: integers as int64, as
// float64 with NaN when a value is missing (or is a real); reals as float64
// with NaN; logicals as bool, as objects with None when a value is missing;
// dates as datetime64[ms] with NaT; text as objects, None when missing. A
// value of another type than its field's (text in a numeric field) makes the
// column one of objects.
py::array column_array(const features::Field &field, std::vector<features::Value> &values) {
    const Kind kind = kind_of(field);
    const std::size_t n = values.size();
    bool nulls = false, reals = false, strays = false;
    for (const features::Value &v : values) {
        switch (v.type) {
        case features::ValueType::Null: nulls = true; break;
        case features::ValueType::Integer: strays = strays || (kind != Kind::Integer && kind != Kind::Real); break;
        case features::ValueType::Real:
            reals = true;
            strays = strays || (kind != Kind::Integer && kind != Kind::Real);
            break;
        case features::ValueType::Boolean: strays = strays || kind != Kind::Boolean; break;
        case features::ValueType::Date: strays = strays || kind != Kind::Date; break;
        case features::ValueType::String: strays = strays || kind != Kind::Text; break;
        }
    }
    if (!strays && kind == Kind::Integer && !nulls && !reals) {
        std::vector<std::int64_t> out(n);
        for (std::size_t i = 0; i < n; ++i) out[i] = values[i].integer;
        return numpy_of(std::move(out));
    }
    if (!strays && (kind == Kind::Integer || kind == Kind::Real)) {
        std::vector<double> out(n);
        for (std::size_t i = 0; i < n; ++i) {
            const features::Value &v = values[i];
            out[i] = v.type == features::ValueType::Integer ? static_cast<double>(v.integer)
                     : v.type == features::ValueType::Real  ? v.real
                                                            : std::nan("");
        }
        return numpy_of(std::move(out));
    }
    if (!strays && kind == Kind::Boolean && !nulls) {
        std::vector<std::uint8_t> out(n);
        for (std::size_t i = 0; i < n; ++i) out[i] = values[i].integer != 0;
        return numpy_of(std::move(out)).attr("view")("bool").cast<py::array>();
    }
    if (!strays && kind == Kind::Date) {
        std::vector<std::int64_t> out(n);
        const std::int64_t not_a_time = std::numeric_limits<std::int64_t>::min();
        for (std::size_t i = 0; i < n; ++i) {
            const auto ms = values[i].type == features::ValueType::Date ? date_ms(values[i].integer) : std::nullopt;
            out[i] = ms ? *ms : not_a_time;
        }
        return numpy_of(std::move(out)).attr("view")("datetime64[ms]").cast<py::array>();
    }
    py::array out(py::dtype("object"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
    auto **slots = static_cast<PyObject **>(out.mutable_data());
    for (std::size_t i = 0; i < n; ++i) {
        const features::Value &v = values[i];
        py::object o = kind == Kind::Date && v.type == features::ValueType::Date ? [&]() -> py::object {
            const auto ms = date_ms(v.integer);
            if (!ms) return py::none();
            return py::module_::import("numpy").attr("datetime64")(*ms, "ms");
        }()
            : value_object(v);
        Py_XDECREF(slots[i]);
        slots[i] = o.release().ptr();
    }
    return out;
}

// A column's array from its typed storage, as column_array makes it from
// values: the words given over to numpy where they are what it holds,
// turned into reals or milliseconds in place otherwise.
py::array typed_column_array(const features::Field &field, Column &column) {
    if (column.stray) return column_array(field, column.mixed);
    const std::size_t n = column.tags.size();
    auto as_view = [](std::vector<std::int64_t> &&words, const char *dtype) {
        return numpy_of(std::move(words)).attr("view")(dtype).cast<py::array>();
    };
    switch (column.kind) {
    case Kind::Integer:
    case Kind::Real: {
        if (column.kind == Kind::Integer && !column.nulls && !column.reals) return numpy_of(std::move(column.words));
        for (std::size_t i = 0; i < n; ++i) {
            const auto t = static_cast<features::ValueType>(column.tags[i]);
            if (t == features::ValueType::Real) continue;  // already a real's bits
            const double d = t == features::ValueType::Integer ? static_cast<double>(column.words[i]) : std::nan("");
            std::memcpy(&column.words[i], &d, sizeof d);
        }
        return as_view(std::move(column.words), "float64");
    }
    case Kind::Boolean: {
        if (column.nulls) break;
        std::vector<std::uint8_t> out(n);
        for (std::size_t i = 0; i < n; ++i) out[i] = column.words[i] != 0;
        return numpy_of(std::move(out)).attr("view")("bool").cast<py::array>();
    }
    case Kind::Date: {
        const std::int64_t not_a_time = std::numeric_limits<std::int64_t>::min();
        for (std::size_t i = 0; i < n; ++i) {
            const auto ms = static_cast<features::ValueType>(column.tags[i]) == features::ValueType::Date
                                ? date_ms(column.words[i])
                                : std::nullopt;
            column.words[i] = ms ? *ms : not_a_time;
        }
        return as_view(std::move(column.words), "datetime64[ms]");
    }
    case Kind::Text: {
        py::array out(py::dtype("object"), std::vector<py::ssize_t>{static_cast<py::ssize_t>(n)});
        auto **slots = static_cast<PyObject **>(out.mutable_data());
        std::size_t from = 0;
        for (std::size_t i = 0; i < n; ++i) {
            PyObject *o = Py_None;
            if (static_cast<features::ValueType>(column.tags[i]) == features::ValueType::String) {
                o = PyUnicode_DecodeUTF8(column.chars.data() + from, static_cast<Py_ssize_t>(column.ends[i] - from),
                                         "replace");
                if (!o) throw py::error_already_set();
            } else Py_INCREF(o);
            from = column.ends[i];
            Py_XDECREF(slots[i]);
            slots[i] = o;
        }
        return out;
    }
    }
    // Logicals with missing values: objects, as column_array makes them.
    std::vector<features::Value> values;
    values.reserve(n);
    for (std::size_t i = 0; i < n; ++i) values.push_back(column.value(i));
    return column_array(field, values);
}

// The features' geometries as WKB (little-endian, Z flagged as extended WKB
// does), all in one buffer: feature f's bytes from starts[f] to starts[f+1],
// none for a feature without geometry.
void well_known_binary(const Collected &c, std::string &out, std::vector<std::size_t> &starts) {
    auto u8 = [&](std::uint8_t v) { out.push_back(static_cast<char>(v)); };
    auto u32 = [&](std::uint32_t v) { out.append(reinterpret_cast<const char *>(&v), 4); };
    auto f64 = [&](double v) { out.append(reinterpret_cast<const char *>(&v), 8); };
    const std::uint32_t z_flag = c.has_z ? 0x80000000u : 0;
    auto head = [&](std::uint32_t type) {
        u8(1);
        u32(type | z_flag);
    };
    auto point = [&](std::int64_t i) {
        const auto k = static_cast<std::size_t>(i);
        const std::size_t dims = c.has_z ? 3 : 2;
        f64(c.coords[k * dims]);
        f64(c.coords[k * dims + 1]);
        if (c.has_z) f64(c.coords[k * dims + 2]);
    };
    auto points = [&](std::int64_t r) {
        const std::int64_t from = c.ring_offsets[static_cast<std::size_t>(r)],
                           to = c.ring_offsets[static_cast<std::size_t>(r) + 1];
        u32(static_cast<std::uint32_t>(to - from));
        for (std::int64_t i = from; i < to; ++i) point(i);
    };
    auto polygon = [&](std::int64_t g) {
        const std::int64_t from = c.part_offsets[static_cast<std::size_t>(g)],
                           to = c.part_offsets[static_cast<std::size_t>(g) + 1];
        head(3);
        u32(static_cast<std::uint32_t>(to - from));
        for (std::int64_t r = from; r < to; ++r) points(r);
    };
    starts.assign(1, 0);
    for (std::size_t f = 0; f < c.count(); ++f) {
        const std::int64_t g0 = c.geom_offsets[f], g1 = c.geom_offsets[f + 1];
        switch (static_cast<features::GeometryType>(c.types[f])) {
        case features::GeometryType::Point: {
            head(1);
            const std::int64_t r = c.part_offsets[static_cast<std::size_t>(g0)];
            point(c.ring_offsets[static_cast<std::size_t>(r)]);
            break;
        }
        case features::GeometryType::MultiPoint: {
            const std::int64_t r = c.part_offsets[static_cast<std::size_t>(g0)];
            const std::int64_t from = c.ring_offsets[static_cast<std::size_t>(r)],
                               to = c.ring_offsets[static_cast<std::size_t>(r) + 1];
            head(4);
            u32(static_cast<std::uint32_t>(to - from));
            for (std::int64_t i = from; i < to; ++i) {
                head(1);
                point(i);
            }
            break;
        }
        case features::GeometryType::LineString:
            head(2);
            points(c.part_offsets[static_cast<std::size_t>(g0)]);
            break;
        case features::GeometryType::MultiLineString: {
            const std::int64_t from = c.part_offsets[static_cast<std::size_t>(g0)],
                               to = c.part_offsets[static_cast<std::size_t>(g0) + 1];
            head(5);
            u32(static_cast<std::uint32_t>(to - from));
            for (std::int64_t r = from; r < to; ++r) {
                head(2);
                points(r);
            }
            break;
        }
        case features::GeometryType::Polygon: polygon(g0); break;
        case features::GeometryType::MultiPolygon:
            head(6);
            u32(static_cast<std::uint32_t>(g1 - g0));
            for (std::int64_t g = g0; g < g1; ++g) polygon(g);
            break;
        case features::GeometryType::None: break;
        }
        starts.push_back(out.size());
    }
}

// The geometries of a file's features that GEOS refused, as the file's error.
void check_shapes(const Collected &c, const std::string &path) {
    if (!c.shapes || c.shapes->refused() < 0) return;
    const auto f = static_cast<std::size_t>(c.shapes->refused());
    throw features::Error(features::ErrorCode::Invalid, path, "record " + std::to_string(c.fids[f]),
                          "geometry: " + c.shapes->refusal());
}

// The collected features as a dict of numpy arrays (see vorpix/_vorpix.pyi).
py::dict to_python(Collected &c, bool wkb) {
    if (c.shapes) wkb = false;
    std::string buffer;
    std::vector<std::size_t> starts;
    const std::size_t dims = c.has_z ? 3 : 2;
    if (wkb) {
        const py::gil_scoped_release released;
        well_known_binary(c, buffer, starts);
    }
    py::dict out;
    const std::size_t n = c.count(), points = c.points();
    out["fids"] = numpy_of(std::move(c.fids));
    out["geometry_type"] = numpy_of(std::move(c.types));
    out["coords"] = numpy_of(std::move(c.coords), points, dims);
    out["geom_offsets"] = numpy_of(std::move(c.geom_offsets));
    out["part_offsets"] = numpy_of(std::move(c.part_offsets));
    out["ring_offsets"] = numpy_of(std::move(c.ring_offsets));
    py::list names, values;
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
        names.append(text_object(c.fields[i].name));
        values.append(typed_column_array(c.fields[i], c.columns[i]));
        c.columns[i] = Column(c.columns[i].kind);
    }
    out["fields"] = names;
    out["columns"] = values;
    if (c.shapes) out["geometries"] = c.shapes->objects();
    if (wkb) {
        py::list geometries;
        for (std::size_t f = 0; f < n; ++f) {
            if (starts[f + 1] == starts[f]) geometries.append(py::none());
            else geometries.append(py::bytes(buffer.data() + starts[f], starts[f + 1] - starts[f]));
        }
        out["wkb"] = geometries;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Shapefiles

// The layer's warnings, kept to be given to Python's warnings once the GIL
// is back; the first hundred of them.
struct Warnings {
    std::vector<std::string> lines;
    features::Warn sink() {
        return [this](const std::string &line) {
            if (lines.size() < 100) lines.push_back(line);
        };
    }
};

features::ShapefileOptions shapefile_options(const std::optional<std::vector<std::string>> &columns,
                                             const std::optional<std::string> &encoding, Warnings *warnings = nullptr) {
    features::ShapefileOptions options;
    if (warnings) options.warn = warnings->sink();
    options.transform = false;
    options.rfc7946 = false;
    if (columns) {
        options.columns = *columns;
        // No field at all: the table is still read for the deleted marks,
        // with no column given (an empty list names none).
        if (columns->empty()) options.columns = {};
    }
    if (encoding) options.encoding = *encoding;
    return options;
}

py::list warning_list(const Warnings &warnings) {
    py::list out;
    for (const std::string &line : warnings.lines) out.append(text_object(line));
    return out;
}

// An empty column list asks for no fields: the reader's list is then cut.
std::vector<features::Field> given_fields(const features::ShapefileReader &reader,
                                          const std::optional<std::vector<std::string>> &columns) {
    if (columns && columns->empty()) return {};
    return reader.fields();
}

// The points a main file can hold, at 16 bytes each; 0 when its size is
// not known.
std::size_t points_at_most(const std::string &path) {
    std::error_code failed;
    const std::uintmax_t size = std::filesystem::file_size(path, failed);
    return failed ? 0 : static_cast<std::size_t>(size / 16);
}

py::dict read_shapefile(const std::string &path, const std::optional<std::vector<std::string>> &columns,
                        const std::optional<std::vector<double>> &bbox, long skip,
                        const std::optional<long> &max_features, const std::optional<std::string> &encoding,
                        bool read_geometry, bool wkb, const py::object &shapes) {
    if (bbox && bbox->size() != 4) throw py::value_error("bbox is (xmin, ymin, xmax, ymax)");
    if (skip < 0) throw py::value_error("skip_features must be 0 or more");
    if (max_features && *max_features < 0) throw py::value_error("max_features must be 0 or more");
    std::optional<Collected> collected;
    std::unique_ptr<GeosShapes> made = geos_shapes(shapes, read_geometry && wkb);
    std::string crs;
    Warnings warnings;
    {
        Decoding decoding;
        features::ShapefileOptions options = shapefile_options(columns, encoding, &warnings);
        if (bbox) options.rectangle = features::Rectangle{(*bbox)[0], (*bbox)[1], (*bbox)[2], (*bbox)[3]};
        features::ShapefileReader reader(path, options);
        collected.emplace(given_fields(reader, columns));
        collected->shapes = std::move(made);
        if (!collected->shapes && read_geometry && !bbox && reader.header().shape_type > 0)
            collected->expect_points(points_at_most(path));
        crs = reader.coordinate_system();
        const bool no_fields = columns && columns->empty();
        if (!bbox) reader.seek(skip);
        long skipped = bbox ? 0 : skip;
        features::Feature f;
        while ((!max_features || static_cast<long>(collected->count()) < *max_features) && reader.next(f)) {
            if (skipped < skip) {
                ++skipped;
                continue;
            }
            if (no_fields) f.values.clear();
            collected->add(f, read_geometry);
        }
        check_shapes(*collected, path);
    }
    py::dict out = to_python(*collected, wkb && read_geometry);
    out["crs_wkt"] = crs.empty() ? py::object(py::none()) : text_object(crs);
    out["warnings"] = warning_list(warnings);
    return out;
}

// Records start to stop-1 by number, through the .shx; those marked
// deleted are left out, as read_shapefile leaves them out.
py::dict read_records(const std::string &path, long start, long stop,
                      const std::optional<std::vector<std::string>> &columns,
                      const std::optional<std::string> &encoding, bool read_geometry, bool wkb,
                      const py::object &shapes) {
    std::optional<Collected> collected;
    std::unique_ptr<GeosShapes> made = geos_shapes(shapes, read_geometry && wkb);
    Warnings warnings;
    {
        Decoding decoding;
        features::ShapefileReader reader(path, shapefile_options(columns, encoding, &warnings));
        collected.emplace(given_fields(reader, columns));
        collected->shapes = std::move(made);
        const bool no_fields = columns && columns->empty();
        features::Feature f;
        for (long recno = std::max(start, 0L); recno < stop && reader.read(recno, f); ++recno) {
            if (f.deleted) continue;
            if (no_fields) f.values.clear();
            collected->add(f, read_geometry);
        }
        check_shapes(*collected, path);
    }
    py::dict out = to_python(*collected, wkb && read_geometry);
    out["warnings"] = warning_list(warnings);
    return out;
}

const char *shape_type_name(int type) {
    switch (type) {
    case 1:
    case 11:
    case 21: return "Point";
    case 3:
    case 13:
    case 23: return "LineString";
    case 5:
    case 15:
    case 25:
    case 31: return "Polygon";
    case 8:
    case 18:
    case 28: return "MultiPoint";
    default: return nullptr;
    }
}

py::dict read_info(const std::string &path, const std::optional<std::string> &encoding) {
    features::ShapefileHeader header;
    std::vector<features::Field> fields;
    std::string crs, used_encoding;
    long count = -1;
    {
        Decoding decoding;
        features::ShapefileReader reader(path, shapefile_options(std::nullopt, encoding));
        header = reader.header();
        fields = reader.fields();
        crs = reader.coordinate_system();
        used_encoding = reader.encoding();
        count = reader.record_count();
        if (count < 0) {
            // No .shx: the records are counted one after another.
            features::ShapefileOptions options = shapefile_options(std::nullopt, encoding);
            options.attributes = false;
            options.deleted = true;
            features::ShapefileReader counter(path, options);
            features::Feature f;
            count = 0;
            while (counter.next(f)) ++count;
        }
    }
    py::dict out;
    out["count"] = count;
    py::list names, dtypes, types;
    for (const features::Field &f : fields) {
        names.append(text_object(f.name));
        dtypes.append(kind_dtype(kind_of(f)));
        types.append(py::make_tuple(std::string(1, f.dbase_type), f.width, f.decimals));
    }
    out["fields"] = names;
    out["dtypes"] = dtypes;
    out["field_types"] = types;
    const char *name = shape_type_name(header.shape_type);
    out["geometry_type"] = name ? py::object(py::str(name)) : py::object(py::none());
    out["shape_type"] = header.shape_type;
    const int t = header.shape_type;
    out["has_z"] = t == 11 || t == 13 || t == 15 || t == 18 || t == 31;
    out["has_m"] = (t >= 11 && t <= 28) || t == 31;
    out["crs_wkt"] = crs.empty() ? py::object(py::none()) : text_object(crs);
    if (header.shape_type < 0) out["bounds"] = py::none();
    else out["bounds"] = py::make_tuple(header.xmin, header.ymin, header.xmax, header.ymax);
    out["encoding"] = used_encoding.empty() ? py::object(py::none()) : py::object(py::str(used_encoding));
    return out;
}

// ---------------------------------------------------------------------------
// Shorelines, borders and rivers

std::optional<features::Box> box_of(const std::optional<std::vector<double>> &box) {
    if (!box) return std::nullopt;
    if (box->size() != 4) throw py::value_error("box is (west, south, east, north) in degrees");
    const auto &b = *box;
    for (const double v : b)
        if (!std::isfinite(v)) throw py::value_error("box edges must be finite numbers");
    if (!(b[1] < b[3])) throw py::value_error("the box's south edge must lie below its north edge");
    return features::Box{b[0], b[2], b[1], b[3]};
}

py::dict read_shorelines(const std::string &resolution, const std::optional<std::vector<double>> &box,
                         const std::string &kinds, const std::string &antarctica, bool rfc7946, bool wkb,
                         const py::object &shapes) {
    features::ShorelineOptions options;
    options.resolution = resolution;
    options.kinds = kinds;
    if (const auto b = box_of(box)) options.box = *b;
    if (antarctica == "ice-front") options.antarctica = features::AntarcticOutline::IceFront;
    else if (antarctica == "grounding-line") options.antarctica = features::AntarcticOutline::GroundingLine;
    else throw py::value_error("antarctica is \"ice-front\" or \"grounding-line\", not \"" + antarctica + "\"");
    options.rfc7946 = rfc7946;
    std::optional<Collected> collected;
    std::unique_ptr<GeosShapes> made = geos_shapes(shapes, wkb);
    {
        Decoding decoding;
        features::ShorelineReader reader(std::move(options));
        collected.emplace(features::ShorelineReader::fields());
        collected->shapes = std::move(made);
        features::Feature f;
        while (reader.next(f)) collected->add(f, true);
        check_shapes(*collected, "shorelines");
    }
    return to_python(*collected, wkb);
}

py::dict read_lines(const std::string &resolution, const std::optional<std::vector<double>> &box,
                    const std::string &kinds, bool rfc7946, bool wkb, const py::object &shapes) {
    features::BorderOptions options;
    options.resolution = resolution;
    options.kinds = kinds;
    if (const auto b = box_of(box)) options.box = *b;
    options.rfc7946 = rfc7946;
    std::optional<Collected> collected;
    std::unique_ptr<GeosShapes> made = geos_shapes(shapes, wkb);
    {
        Decoding decoding;
        features::BorderReader reader(std::move(options));
        collected.emplace(features::BorderReader::fields());
        collected->shapes = std::move(made);
        features::Feature f;
        while (reader.next(f)) collected->add(f, true);
        check_shapes(*collected, "lines");
    }
    return to_python(*collected, wkb);
}

// ---------------------------------------------------------------------------
// DDS textures

struct Level {
    std::uint64_t width = 0, height = 0;
    std::vector<std::uint8_t> rgba;
};

// One mipmap level of a DXT1 or DXT5 texture through the layer's reader,
// its ARGB pixels as RGBA bytes.
Level texture_level(const std::string &path, long index) {
    using features::Error;
    using features::ErrorCode;
    const std::string place = "level " + std::to_string(index);
    if (index < 0) throw Error(ErrorCode::Invalid, path, place, "mipmap levels count from 0");
    features::TextureReader reader(path);
    const std::uint64_t levels = reader.levels();
    if (static_cast<std::uint64_t>(index) >= levels)
        throw Error(ErrorCode::Invalid, path, place,
                    "the texture has " + std::to_string(levels) + " mipmap level" + (levels == 1 ? "" : "s"));
    std::uint64_t width = reader.width(), height = reader.height();
    for (long k = 0; k < index; ++k) width /= 2, height /= 2;
    if (width == 0 || height == 0) throw Error(ErrorCode::Invalid, path, place, "has no pixels");
    // A numpy array of the level is width x height x 4 bytes: past 2^20 on
    // a side, terabytes.
    if (width > (1u << 20) || height > (1u << 20))
        throw Error(ErrorCode::Unsupported, path, place, "is larger than 1048576 pixels on a side");
    const features::TextureLevel decoded = reader.level(static_cast<std::uint64_t>(index));
    Level level{decoded.width, decoded.height, {}};
    level.rgba.resize(decoded.argb.size() * 4);
    for (std::size_t i = 0; i < decoded.argb.size(); ++i) {
        const std::uint32_t p = decoded.argb[i];
        level.rgba[4 * i] = static_cast<std::uint8_t>(p >> 16);
        level.rgba[4 * i + 1] = static_cast<std::uint8_t>(p >> 8);
        level.rgba[4 * i + 2] = static_cast<std::uint8_t>(p);
        level.rgba[4 * i + 3] = static_cast<std::uint8_t>(p >> 24);
    }
    return level;
}

py::array read_texture(const std::string &path, long level) {
    Level decoded;
    {
        Decoding decoding;
        decoded = texture_level(path, level);
    }
    auto *owned = new std::vector<std::uint8_t>(std::move(decoded.rgba));
    py::capsule free_when_done(owned, [](void *p) { delete static_cast<std::vector<std::uint8_t> *>(p); });
    const auto h = static_cast<py::ssize_t>(decoded.height), w = static_cast<py::ssize_t>(decoded.width);
    return py::array_t<std::uint8_t>({h, w, py::ssize_t{4}}, {w * 4, py::ssize_t{4}, py::ssize_t{1}}, owned->data(),
                                     free_when_done);
}

// ---------------------------------------------------------------------------
// netCDF classic headers

struct NetcdfHeader {
    NETCDFHdr *hdr = nullptr;
    NetcdfHeader() = default;
    NetcdfHeader(const NetcdfHeader &) = delete;
    NetcdfHeader &operator=(const NetcdfHeader &) = delete;
    ~NetcdfHeader() {
        if (hdr) netcdf_clear_header(hdr);
        std::free(hdr);
    }
};

py::object netcdf_values(const NETCDFValues &v) {
    const std::size_t n = v.n > 0 && v.values ? static_cast<std::size_t>(v.n) : 0;
    auto array = [&](auto sample, const char *dtype) -> py::object {
        using T = decltype(sample);
        std::vector<T> out(n);
        if (n) std::memcpy(out.data(), v.values, n * sizeof(T));
        return numpy_of(std::move(out)).attr("astype")(dtype, py::arg("copy") = false);
    };
    switch (v.type) {
    case NETCDF_BYTE: return array(std::int8_t{}, "int8");
    case NETCDF_CHAR: {
        // Text, up to its first NUL (netCDF pads with NULs); bytes that are
        // not UTF-8 are read as Latin-1.
        const char *text = static_cast<const char *>(v.values);
        std::size_t length = n ? strnlen(text, n) : 0;
        PyObject *s = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(length), nullptr);
        if (!s) {
            PyErr_Clear();
            s = PyUnicode_DecodeLatin1(text, static_cast<Py_ssize_t>(length), nullptr);
        }
        if (!s) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(s);
    }
    case NETCDF_SHORT: return array(std::int16_t{}, "int16");
    case NETCDF_INT: return array(std::int32_t{}, "int32");
    case NETCDF_FLOAT: return array(float{}, "float32");
    case NETCDF_DOUBLE: return array(double{}, "float64");
    default: return py::none();
    }
}

py::dict netcdf_attributes(const NETCDFAttr *attrs, int count) {
    py::dict out;
    for (int i = 0; i < count && attrs; ++i)
        out[text_object(attrs[i].name ? attrs[i].name : "")] = netcdf_values(attrs[i].values);
    return out;
}

py::dict netcdf_header(const std::string &path) {
    NetcdfHeader header;
    std::vector<unsigned char> bytes;
    {
        Decoding decoding;
        bytes = file_bytes(path);
        // The library reads the classic format (version byte 1); the 64-bit
        // kinds and netCDF-4 (HDF5) are valid files it does not read.
        const bool cdf = bytes.size() >= 4 && std::memcmp(bytes.data(), "CDF", 3) == 0;
        if ((cdf && (bytes[3] == 2 || bytes[3] == 5)) ||
            (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89HDF\r\n\x1a\n", 8) == 0))
            throw features::Error(features::ErrorCode::Unsupported, path, "header",
                                  "a netCDF file of a kind other than classic (version 1), which is not read");
        features::LibraryLog log;  // this thread's messages alone
        if (netcdf_unstuff_header_sized(bytes.data(), static_cast<long>(bytes.size()), &header.hdr) < 0)
            throw features::Error(features::ErrorCode::Invalid, path, "header", log.reason());
    }
    const NETCDFHdr &h = *header.hdr;
    py::dict out, dims, vars;
    out["numrecs"] = h.numrecs;
    for (int i = 0; i < h.dims_n && h.dims; ++i)
        dims[text_object(h.dims[i].name ? h.dims[i].name : "")] = h.dims[i].value == 0
                                                                      ? py::object(py::none())
                                                                      : py::object(py::int_(h.dims[i].value));
    out["dimensions"] = dims;
    out["attributes"] = netcdf_attributes(h.attrs, h.attrs_n);
    for (int i = 0; i < h.vars_n && h.vars; ++i) {
        const NETCDFVar &v = h.vars[i];
        py::list shape;
        for (int d = 0; d < v.ndims && v.dims; ++d)
            shape.append(text_object(v.dims[d] && v.dims[d]->name ? v.dims[d]->name : ""));
        py::dict var;
        var["dimensions"] = py::tuple(shape);
        var["type"] = std::string(netcdf_type2str(v.type));  // copied before the buffer is reused
        var["attributes"] = netcdf_attributes(v.attrs, v.nattrs);
        var["vsize"] = v.vsize;
        var["begin"] = v.begin;
        vars[text_object(v.name ? v.name : "")] = var;
    }
    out["variables"] = vars;
    return out;
}

}  // namespace

PYBIND11_MODULE(_vorpix, m) {
    m.doc() = "The native part of vorpix: the feature layer's readers and the library's decoders.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const features::Error &e) {
            raise_error(e);
        }
    });
    m.def("read_shapefile", &read_shapefile, py::arg("path"), py::arg("columns") = py::none(),
          py::arg("bbox") = py::none(), py::arg("skip_features") = 0, py::arg("max_features") = py::none(),
          py::arg("encoding") = py::none(), py::arg("read_geometry") = true, py::arg("wkb") = true,
          py::arg("shapes") = py::none(), "Features of a shapefile as flat arrays; see vorpix/_vorpix.pyi.");
    m.def("read_records", &read_records, py::arg("path"), py::arg("start"), py::arg("stop"),
          py::arg("columns") = py::none(), py::arg("encoding") = py::none(), py::arg("read_geometry") = true,
          py::arg("wkb") = true, py::arg("shapes") = py::none(),
          "Records start to stop-1 by number, found through the .shx.");
    m.def("read_info", &read_info, py::arg("path"), py::arg("encoding") = py::none(),
          "What a shapefile holds, from its headers.");
    m.def("read_shorelines", &read_shorelines, py::arg("resolution"), py::arg("box"), py::arg("kinds"),
          py::arg("antarctica"), py::arg("rfc7946") = true, py::arg("wkb") = true, py::arg("shapes") = py::none(),
          "Shoreline polygons or outlines of a box.");
    m.def("read_lines", &read_lines, py::arg("resolution"), py::arg("box"), py::arg("kinds"), py::arg("rfc7946") = true,
          py::arg("wkb") = true, py::arg("shapes") = py::none(), "Border and river lines of a box.");
    m.def("read_texture", &read_texture, py::arg("path"), py::arg("level") = 0,
          "One mipmap level of a DDS texture as RGBA pixels.");
    m.def("netcdf_header", &netcdf_header, py::arg("path"), "A netCDF classic file's header.");
}
