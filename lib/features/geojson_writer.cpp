// GeoJSON written a feature at a time, numbers by std::to_chars.
#include "vorpix/geojson_writer.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vorpix::features {

void json_number(double value, std::string &out) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? end : buffer);
}

void json_degrees(double value, std::string &out) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const bool single = std::fabs(value) <= std::numeric_limits<float>::max() &&
                        static_cast<double>(static_cast<float>(value)) == value;
    const auto [end, ec] = single ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value))
                           : std::fabs(value) < 1e15
                               ? std::to_chars(buffer, buffer + sizeof buffer, std::round(value * 1e9) / 1e9)
                               : std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? end : buffer);
}

namespace {

void json_integer(std::int64_t value, std::string &out) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? end : buffer);
}

}  // namespace

void json_string(const std::string &text, std::string &out) {
    out += '"';
    size_t plain = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0x7f) continue;
        out.append(text, plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        }
    }
    out.append(text, plain, std::string::npos);
    out += '"';
}

void json_value(const Value &v, std::string &out) {
    switch (v.type) {
    case ValueType::Null: out += "null"; return;
    case ValueType::Integer: json_integer(v.integer, out); return;
    case ValueType::Real: {
        const size_t at = out.size();
        json_number(v.real, out);
        // A number written with a decimal point stays one that reads as a
        // float, as the table's numeric fields with decimals are.
        if (out.find_first_of(".eEn", at) == std::string::npos) out += ".0";
        return;
    }
    case ValueType::Boolean: out += v.integer ? "true" : "false"; return;
    case ValueType::Date: {
        // YYYYMMDD as "YYYY-MM-DD".
        char date[12] = {'"', 0, 0, 0, 0, '-', 0, 0, '-', 0, 0, '"'};
        auto d = static_cast<std::uint64_t>(v.integer) % 100000000;
        for (const int at : {10, 9, 7, 6, 4, 3, 2, 1}) {
            date[at] = static_cast<char>('0' + d % 10);
            d /= 10;
        }
        out.append(date, sizeof date);
        return;
    }
    case ValueType::String: json_string(v.text, out); return;
    }
}

void json_members(const std::vector<Field> &fields, const std::vector<Value> &values, std::string &out) {
    for (size_t i = 0; i < fields.size() && i < values.size(); ++i) {
        if (i) out += ',';
        json_string(fields[i].name, out);
        out += ':';
        json_value(values[i], out);
    }
}

// ---------------------------------------------------------------------------

void LonLatBox::add(const double *lon, const double *lat, std::size_t n) {
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t i = 0; i < n; ++i) {
        if (!std::isfinite(lon[i]) || !std::isfinite(lat[i])) continue;
        lo = std::min(lo, lon[i]), hi = std::max(hi, lon[i]);
        south_ = std::min(south_, lat[i]), north_ = std::max(north_, lat[i]);
    }
    if (!(lo <= hi)) return;
    // A run that overlaps the last one widens it.
    if (!spans_.empty() && lo <= spans_.back().second && hi >= spans_.back().first) {
        spans_.back().first = std::min(spans_.back().first, lo);
        spans_.back().second = std::max(spans_.back().second, hi);
        return;
    }
    spans_.emplace_back(lo, hi);
}

void LonLatBox::add(const LonLatBox &other) {
    spans_.insert(spans_.end(), other.spans_.begin(), other.spans_.end());
    south_ = std::min(south_, other.south_), north_ = std::max(north_, other.north_);
    // A collection's box over millions of features stays small: spans that
    // overlap are merged, and past a few hundred the narrowest gaps close.
    if (spans_.size() > 512) compact(256);
}

void LonLatBox::clear() {
    spans_.clear();
    south_ = 90, north_ = -90;
}

namespace {

// Spans sorted, those that overlap made one.
std::vector<std::pair<double, double>> merged_spans(std::vector<std::pair<double, double>> spans) {
    std::sort(spans.begin(), spans.end());
    std::vector<std::pair<double, double>> merged;
    for (const auto &s : spans)
        if (!merged.empty() && s.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, s.second);
        else merged.push_back(s);
    return merged;
}

}  // namespace

void LonLatBox::compact(std::size_t most) {
    std::vector<std::pair<double, double>> merged = merged_spans(std::move(spans_));
    while (merged.size() > most) {
        size_t narrowest = 1;
        for (size_t i = 2; i < merged.size(); ++i)
            if (merged[i].first - merged[i - 1].second < merged[narrowest].first - merged[narrowest - 1].second)
                narrowest = i;
        merged[narrowest - 1].second = std::max(merged[narrowest - 1].second, merged[narrowest].second);
        merged.erase(merged.begin() + static_cast<long>(narrowest));
    }
    spans_ = std::move(merged);
}

void LonLatBox::json(std::string &out) const { json(out, json_number); }

void LonLatBox::json(std::string &out, void (*number)(double, std::string &)) const {
    double west = spans_.front().first, east = spans_.front().second;
    if (spans_.size() > 1) {
        // Most features are one run, or runs near each other: only others
        // need the spans sorted and merged.
        const std::vector<std::pair<double, double>> merged = merged_spans(spans_);
        // The widest longitude gap is left out; across 180 unless it is the one there.
        west = merged.front().first, east = merged.back().second;
        double gap = merged.front().first + 360 - merged.back().second;
        for (size_t i = 1; i < merged.size(); ++i)
            if (merged[i].first - merged[i - 1].second > gap) {
                gap = merged[i].first - merged[i - 1].second;
                west = merged[i].first, east = merged[i - 1].second;
            }
    }
    out += '[';
    number(west, out);
    out += ',';
    number(south_, out);
    out += ',';
    number(east, out);
    out += ',';
    number(north_, out);
    out += ']';
}

// ---------------------------------------------------------------------------

GeoJsonWriter::GeoJsonWriter(Sink sink, Options options) : sink_(std::move(sink)), options_(options) {
    out_.reserve(1 << 16);
}

void GeoJsonWriter::flush_if_full() {
    // The first feature goes on at once; then pieces of 64 KiB.
    if (count_ == 1 || out_.size() >= (1 << 16)) {
        sink_(out_.data(), out_.size());
        out_.clear();
    }
}

void GeoJsonWriter::open_feature() {
    if (options_.sequence) out_ += '\x1e';
    else if (!started_) out_ += "{\"type\":\"FeatureCollection\",\"features\":[\n";
    else out_ += ",\n";
    started_ = true;
    out_ += "{\"type\":\"Feature\"";
}

void GeoJsonWriter::close_feature() {
    out_ += '}';
    if (options_.sequence) out_ += '\n';
    ++count_;
    flush_if_full();
}

void GeoJsonWriter::number(double value) {
    if (options_.rounded_degrees) json_degrees(value, out_);
    else json_number(value, out_);
}

void GeoJsonWriter::position(const Geometry &g, std::size_t i, bool measure) {
    if (measure) {
        if (g.m[i] < -1e38) out_ += "null";
        else json_number(g.m[i], out_);
        return;
    }
    if (options_.rounded_degrees) {
        out_ += '[';
        number(g.x[i]);
        out_ += ',';
        number(g.y[i]);
        if (g.has_z()) {
            out_ += ',';
            number(g.z[i]);
        }
        out_ += ']';
        return;
    }
    // Most positions: the numbers formatted where they go, appended once.
    char text[3 * 32 + 4];
    char *p = text;
    const auto put = [&p, &text](double v) {
        if (!std::isfinite(v)) {
            std::memcpy(p, "null", 4);
            p += 4;
            return;
        }
        const auto [end, ec] = std::to_chars(p, text + sizeof text, v);
        if (ec == std::errc()) p = end;
    };
    *p++ = '[';
    put(g.x[i]);
    *p++ = ',';
    put(g.y[i]);
    if (g.has_z()) {
        *p++ = ',';
        put(g.z[i]);
    }
    *p++ = ']';
    out_.append(text, static_cast<std::size_t>(p - text));
}

void GeoJsonWriter::coordinates(const Geometry &g, bool measures) {
    auto run = [&](std::size_t r) {
        out_ += '[';
        for (std::size_t i = g.runs[r]; i < g.runs[r + 1]; ++i) {
            if (i > g.runs[r]) out_ += ',';
            position(g, i, measures);
        }
        out_ += ']';
    };
    auto runs = [&](std::size_t from, std::size_t to) {
        out_ += '[';
        for (std::size_t r = from; r < to; ++r) {
            if (r > from) out_ += ',';
            run(r);
        }
        out_ += ']';
    };
    switch (g.type) {
    case GeometryType::Point: position(g, 0, measures); break;
    case GeometryType::MultiPoint:
    case GeometryType::LineString: run(0); break;
    case GeometryType::MultiLineString: runs(0, g.run_count()); break;
    case GeometryType::Polygon: runs(g.parts[0], g.parts[1]); break;
    case GeometryType::MultiPolygon:
        out_ += '[';
        for (std::size_t p = 0; p < g.polygon_count(); ++p) {
            if (p) out_ += ',';
            runs(g.parts[p], g.parts[p + 1]);
        }
        out_ += ']';
        break;
    case GeometryType::None: out_ += "null"; break;
    }
}

void GeoJsonWriter::write(const Feature &f, const std::vector<Field> &fields, const std::string &extra) {
    open_feature();
    if (options_.ids) {
        out_ += ",\"id\":";
        json_integer(f.id, out_);
    }
    const Geometry &g = f.geometry;
    const auto degrees = [&g] {
        for (std::size_t i = 0; i < g.x.size(); ++i)
            if (!(std::fabs(g.x[i]) <= 180 && std::fabs(g.y[i]) <= 90)) return false;
        return true;
    };
    if (options_.bbox && g.type != GeometryType::None && (!options_.degrees_only || degrees())) {
        feature_box_.clear();
        for (std::size_t r = 0; r < g.run_count(); ++r)
            feature_box_.add(g.x.data() + g.runs[r], g.y.data() + g.runs[r], g.runs[r + 1] - g.runs[r]);
        if (!feature_box_.empty()) {
            out_ += ",\"bbox\":";
            feature_box_.json(out_, options_.rounded_degrees ? json_degrees : json_number);
            all_.add(feature_box_);
        }
    }
    if (f.deleted) out_ += ",\"deleted\":true";
    if (!extra.empty()) out_ += "," + extra;
    out_ += ",\"properties\":{";
    json_members(fields, f.values, out_);
    out_ += "},\"geometry\":";
    if (g.type == GeometryType::None) {
        out_ += "null";
    } else {
        out_ += "{\"type\":\"";
        out_ += geometry_name(g.type);
        out_ += "\",\"coordinates\":";
        coordinates(g, false);
        out_ += '}';
        if (g.has_m()) {
            out_ += ",\"measures\":";
            coordinates(g, true);
        }
    }
    close_feature();
}

void GeoJsonWriter::write_raw(const std::string &properties, const std::string &geometry_type,
                              const std::string &coordinates, const LonLatBox &box, const std::string &extra) {
    open_feature();
    if (options_.bbox && !box.empty()) {
        out_ += ",\"bbox\":";
        box.json(out_, options_.rounded_degrees ? json_degrees : json_number);
        all_.add(box);
    }
    if (!extra.empty()) out_ += "," + extra;
    out_ += ",\"properties\":{" + properties + "},\"geometry\":";
    out_ += geometry_type.empty() ? "null" : "{\"type\":\"" + geometry_type + "\",\"coordinates\":" + coordinates + "}";
    close_feature();
}

void GeoJsonWriter::finish() {
    if (!options_.sequence) {
        if (!started_) out_ += "{\"type\":\"FeatureCollection\",\"features\":[\n";
        out_ += "\n]";
        if (options_.bbox && !all_.empty()) {
            out_ += ",\"bbox\":";
            all_.json(out_, options_.rounded_degrees ? json_degrees : json_number);
        }
        out_ += "}\n";
    }
    if (!out_.empty()) sink_(out_.data(), out_.size());
    out_.clear();
}

}  // namespace vorpix::features
