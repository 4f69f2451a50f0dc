// The C interface of the feature layer: the C++ reader behind an opaque
// handle, every exception turned into an error record.
#include "vorpix/features.hpp"
#include "vorpix/vorpix_features.h"

#include <cstdio>
#include <cstring>
#include <new>

using vorpix::features::ErrorCode;

struct vpx_reader {
    std::unique_ptr<vorpix::features::ShapefileReader> reader;
    vorpix::features::Feature feature;
    std::vector<vpx_value> values;
};

namespace {

void copy(char *to, size_t size, const std::string &from) { std::snprintf(to, size, "%s", from.c_str()); }

void fill(vpx_error *error, int code, const std::string &file, const std::string &place, const std::string &line) {
    if (!error) return;
    error->code = code;
    copy(error->file, sizeof error->file, file);
    copy(error->place, sizeof error->place, place);
    copy(error->message, sizeof error->message, line);
}

int code_of(ErrorCode code) {
    switch (code) {
    case ErrorCode::Io: return VPX_IO;
    case ErrorCode::Unsupported: return VPX_UNSUPPORTED;
    case ErrorCode::Memory: return VPX_MEMORY;
    case ErrorCode::Invalid: break;
    }
    return VPX_INVALID;
}

// What work returns, or fallback with the error filled.
template <typename Work, typename Result>
Result guarded(vpx_error *error, Result fallback, Work work) {
    try {
        if (error) fill(error, VPX_OK, "", "", "");
        return work();
    } catch (const vorpix::features::Error &e) {
        fill(error, code_of(e.code()), e.file(), e.place(), e.what());
    } catch (const std::bad_alloc &) {
        fill(error, VPX_MEMORY, "", "", "not enough memory");
    } catch (const std::exception &e) {
        fill(error, VPX_INVALID, "", "", e.what());
    }
    return fallback;
}

}  // namespace

extern "C" {

void vpx_options_init(vpx_options *options) {
    if (options) *options = vpx_options{};
}

vpx_reader *vpx_open_shapefile(const char *path, const vpx_options *options, vpx_error *error) {
    return guarded(error, static_cast<vpx_reader *>(nullptr), [&] {
        vorpix::features::ShapefileOptions o;
        if (options) {
            if (options->dbf) o.dbf = options->dbf;
            o.attributes = !options->no_attributes;
            if (options->encoding) o.encoding = options->encoding;
            o.deleted = options->deleted != 0;
            o.transform = !options->no_transform;
            o.rfc7946 = !options->no_rfc7946;
            if (options->boxed)
                o.box = vorpix::features::Box{options->box[0], options->box[1], options->box[2], options->box[3]};
        }
        auto handle = std::make_unique<vpx_reader>();
        handle->reader = std::make_unique<vorpix::features::ShapefileReader>(path ? path : "", std::move(o));
        return handle.release();
    });
}

int vpx_field_count(const vpx_reader *reader) { return reader ? static_cast<int>(reader->reader->fields().size()) : 0; }

const char *vpx_field_name(const vpx_reader *reader, int i) {
    if (!reader || i < 0 || i >= vpx_field_count(reader)) return nullptr;
    return reader->reader->fields()[static_cast<size_t>(i)].name.c_str();
}

char vpx_field_type(const vpx_reader *reader, int i) {
    if (!reader || i < 0 || i >= vpx_field_count(reader)) return '\0';
    return reader->reader->fields()[static_cast<size_t>(i)].dbase_type;
}

int vpx_next(vpx_reader *reader, vpx_feature *feature, vpx_error *error) {
    if (!reader || !feature) {
        fill(error, VPX_INVALID, "", "", "no reader or no feature");
        return -1;
    }
    return guarded(error, -1, [&] {
        vorpix::features::Feature &f = reader->feature;
        if (!reader->reader->next(f)) return 0;
        const auto &g = f.geometry;
        reader->values.resize(f.values.size());
        for (size_t i = 0; i < f.values.size(); ++i) {
            const auto &v = f.values[i];
            reader->values[i] = {static_cast<int>(v.type), v.integer, v.real,
                                 v.type == vorpix::features::ValueType::String ? v.text.c_str() : nullptr};
        }
        *feature = vpx_feature{};
        feature->id = f.id;
        feature->deleted = f.deleted;
        feature->geometry_type = static_cast<int>(g.type);
        feature->point_count = g.x.size();
        feature->run_count = g.run_count();
        feature->polygon_count = g.polygon_count();
        feature->x = g.x.data();
        feature->y = g.y.data();
        feature->z = g.has_z() ? g.z.data() : nullptr;
        feature->m = g.has_m() ? g.m.data() : nullptr;
        feature->runs = g.runs.empty() ? nullptr : g.runs.data();
        feature->parts = g.parts.empty() ? nullptr : g.parts.data();
        feature->value_count = reader->values.size();
        feature->values = reader->values.data();
        return 1;
    });
}

void vpx_close(vpx_reader *reader) { delete reader; }

}  // extern "C"
