#include "vorpix/clip.hpp"

#include <algorithm>
#include <optional>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace vorpix::geo {

Frame frame_of(double west, double east, double south, double north) {
    // Far longitudes keep their place in the turn, not their size, so that
    // steps of 360 still tell them apart.
    if (!(std::fabs(west) < 1e9 && std::fabs(east) < 1e9)) {
        const bool whole = east - west >= 360;
        west = std::fmod(west, 360);
        east = whole ? west + 360 : std::fmod(east, 360);
    }
    if (east <= west) east += 360 * (std::floor((west - east) / 360) + 1);
    if (east > west + 360) east = west + 360;
    return {west, east, south, north};
}

Frame frame_of(const features::Box &box) { return frame_of(box.west, box.east, box.south, box.north); }

double signed_area2(const Ring &ring) {
    double sum = 0;
    const size_t n = ring.size();
    if (n < 3) return 0;
    // Relative to the first point, so that far longitudes cost no precision.
    const Point o = ring[0];
    for (size_t i = 1; i + 1 < n; ++i)
        sum += (ring[i].lon - o.lon) * (ring[i + 1].lat - o.lat) - (ring[i + 1].lon - o.lon) * (ring[i].lat - o.lat);
    return sum;
}

namespace {

// Relative size of rounding noise in coordinates: a few hundred units in the
// last place.
constexpr double noise = 0x1p-44;

// Twice the area of a ring narrower everywhere than rounding noise (a sliver
// between a point and an edge that pass a hair apart) is not worth its sign:
// such rings bound no ground.
bool sliver(const Ring &ring, double area2) {
    double perimeter = 0, largest = 1;
    for (size_t i = 0; i < ring.size(); ++i) {
        const Point &a = ring[i], &b = ring[(i + 1) % ring.size()];
        const double dx = b.lon - a.lon, dy = b.lat - a.lat;
        perimeter += std::sqrt(dx * dx + dy * dy);
        largest = std::max({largest, std::fabs(a.lon), std::fabs(a.lat)});
    }
    return std::fabs(area2) <= noise * largest * perimeter;
}

// The whole turns, exactly a multiple of 360, that bring lon within half a
// turn of ref.
double turns_to(double lon, double ref) {
    const double d = lon - ref;
    return d > 180 || d < -180 ? -360 * std::round(d / 360) : 0;
}

// Moves lon by whole turns to within half a turn of ref.
double near(double lon, double ref) { return lon + turns_to(lon, ref); }

// Every edge taken the short way; points that repeat their predecessor dropped.
Line continuous(const Line &in) {
    Line out;
    out.reserve(in.size());
    for (const Point &p : in) {
        Point q{out.empty() ? p.lon : near(p.lon, out.back().lon), p.lat};
        if (!out.empty() && q.lon == out.back().lon && q.lat == out.back().lat) continue;
        out.push_back(q);
    }
    return out;
}

// Eastward travel of a continuous ring once round, its closing edge taken
// the short way: 0 for an ordinary ring, a whole number of turns for one that
// goes round a pole.
double travel(const Ring &ring) {
    if (ring.empty()) return 0;
    return near(ring.front().lon, ring.back().lon) - ring.front().lon;
}

void extent(const Line &line, double &lo, double &hi) {
    lo = hi = line.empty() ? 0 : line[0].lon;
    for (const Point &p : line) lo = std::min(lo, p.lon), hi = std::max(hi, p.lon);
}

void shift(Line &line, double by) {
    for (Point &p : line) p.lon += by;
}

// Even-odd test in the plane; the ray runs east, vertices count as above it.
bool inside_planar(const Point &t, const Ring &ring) {
    bool in = false;
    const size_t n = ring.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const Point &a = ring[i], &b = ring[j];
        if ((a.lat > t.lat) != (b.lat > t.lat)) {
            const double x = a.lon + (t.lat - a.lat) * (b.lon - a.lon) / (b.lat - a.lat);
            if (t.lon < x) in = !in;
        }
    }
    return in;
}

// Liang-Barsky against the closed box: the parameters where a->b enters
// and leaves it, and which side each lies on (0 west, 1 east, 2 south,
// 3 north; -1 for an end point inside). False when the line misses it.
bool span(const Frame &f, const Point &a, const Point &b, double &t0, double &t1, int &side0, int &side1) {
    const double ddx = b.lon - a.lon, ddy = b.lat - a.lat;
    const double p[4] = {-ddx, ddx, -ddy, ddy};
    const double q[4] = {a.lon - f.west, f.east - a.lon, a.lat - f.south, f.north - a.lat};
    t0 = 0, t1 = 1, side0 = side1 = -1;
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0) {
            if (q[k] < 0) return false;
            continue;
        }
        const double r = q[k] / p[k];
        if (p[k] < 0) {
            if (r > t0) t0 = r, side0 = k;
        } else if (r < t1) {
            t1 = r, side1 = k;
        }
    }
    return t0 <= t1;
}

// The point at t on a->b, put exactly on the side it was found on.
Point at(const Frame &f, const Point &a, const Point &b, double t, int side) {
    if (side < 0) return t <= 0 ? a : b;
    Point p{a.lon + t * (b.lon - a.lon), a.lat + t * (b.lat - a.lat)};
    switch (side) {
    case 0: p.lon = f.west; break;
    case 1: p.lon = f.east; break;
    case 2: p.lat = f.south; break;
    default: p.lat = f.north; break;
    }
    p.lon = std::clamp(p.lon, f.west, f.east);
    p.lat = std::clamp(p.lat, f.south, f.north);
    return p;
}

// Clipping against one axis-parallel rectangle. Rings must have their
// region on their left (exteriors counter-clockwise, holes clockwise).
//
// The rectangle is taken as open: the runs of every ring inside it become
// pieces that enter and leave through its border, and each piece's exit is
// joined to the next entry met going counter-clockwise along the border.
// Parts of rings that only touch or run along the border are outside and
// come back as border walks, so no output edge is ever doubled.
class RectClip {
public:
    explicit RectClip(const Frame &f)
        : frame_(f),
          w_(f.west),
          e_(f.east),
          s_(f.south),
          n_(f.north),
          dx_(f.east - f.west),
          dy_(f.north - f.south),
          perimeter_(2 * (dx_ + dy_)) {}

    std::vector<Polygon> run(const std::vector<Ring> &rings) {
        if (!(dx_ > 0) || !(dy_ > 0)) return {};
        std::vector<const Ring *> inner, others;
        for (const Ring &ring : rings) {
            if (ring.size() < 3) continue;
            if (!trace(ring)) inner.push_back(&ring);
            else others.push_back(&ring);
        }
        std::vector<Ring> walks = join();
        const size_t joined = walks.size();
        for (const Ring *ring : inner) walks.push_back(*ring);
        if (pieces_.empty() && covers_box(inner, others)) walks.push_back(box_ring());
        // Walks meet inside the box only where rings touch one another (a
        // hole its exterior or another hole): a lone ring needs no retrace.
        const bool several = inner.size() + others.size() > 1;
        const bool dissolved = several && dissolve(walks);
        const bool retraced = (several && retrace(walks)) || dissolved;
        std::vector<Polygon> out;
        std::vector<Ring> holes;
        for (size_t w = 0; w < walks.size(); ++w) {
            // A walk bounds one piece of the region, so where it splits into
            // one exterior and holes, the holes are that exterior's. Rings
            // wholly inside are simple as they came.
            std::vector<Ring> split;
            if (retraced || w < joined) split = loops(walks[w]);
            else split.push_back(std::move(walks[w]));
            const size_t first = out.size(), held = holes.size();
            for (Ring &loop : split) {
                if (loop.size() < 3) continue;
                const double area = signed_area2(loop);
                if (sliver(loop, area)) continue;
                if (area > 0) out.push_back({std::move(loop)});
                else holes.push_back(std::move(loop));
            }
            if (out.size() != first + 1) continue;
            for (size_t h = held; h < holes.size(); ++h) out.back().push_back(std::move(holes[h]));
            holes.resize(held);
        }
        if (holes.empty()) return out;
        // Holes of walks without exactly one exterior (rings wholly inside
        // the box) go to the smallest exterior around them.
        std::vector<double> areas;
        areas.reserve(out.size());
        for (const Polygon &p : out) areas.push_back(signed_area2(p[0]));
        for (Ring &hole : holes) {
            const Point probe = inside_point(hole);
            size_t best = out.size();
            for (size_t i = 0; i < out.size(); ++i)
                if ((best == out.size() || areas[i] < areas[best]) && inside_planar(probe, out[i][0])) best = i;
            if (best != out.size()) out[best].push_back(std::move(hole));
        }
        return out;
    }

private:
    struct Piece {
        Line points;
        double in, out;  // places of the entry and the exit along the border
        bool used;
    };

    bool strictly_inside(const Point &p) const { return w_ < p.lon && p.lon < e_ && s_ < p.lat && p.lat < n_; }
    bool in_closed(const Point &p) const { return w_ <= p.lon && p.lon <= e_ && s_ <= p.lat && p.lat <= n_; }

    // Place of a border point, counter-clockwise from the south-west corner.
    double place(const Point &p) const {
        if (p.lat == s_ && p.lon < e_) return p.lon - w_;
        if (p.lon == e_ && p.lat < n_) return dx_ + (p.lat - s_);
        if (p.lat == n_ && p.lon > w_) return dx_ + dy_ + (e_ - p.lon);
        return 2 * dx_ + dy_ + (n_ - p.lat);
    }

    void finish(Line &points) {
        const double in = place(points.front()), out = place(points.back());
        pieces_.push_back({std::move(points), in, out, false});
        points = Line();
    }

    // Cuts a ring into pieces; false when the whole ring lies strictly inside.
    bool trace(const Ring &ring) {
        const size_t n = ring.size();
        size_t start = n;
        for (size_t i = 0; i < n && start == n; ++i)
            if (!strictly_inside(ring[i])) start = i;
        if (start == n) return false;
        Line current;
        bool a_in = false;
        for (size_t step = 0; step < n; ++step) {
            const Point &a = ring[(start + step) % n], &b = ring[(start + step + 1) % n];
            const bool b_in = strictly_inside(b);
            double t0, t1;
            int side0, side1;
            if (a_in && b_in) {
                current.push_back(b);
            } else if (a_in) {
                span(frame_, a, b, t0, t1, side0, side1);
                current.push_back(in_closed(b) ? b : at(frame_, a, b, t1, side1));
                finish(current);
            } else if (b_in) {
                span(frame_, a, b, t0, t1, side0, side1);
                current.push_back(in_closed(a) ? a : at(frame_, a, b, t0, side0));
                current.push_back(b);
            } else if (span(frame_, a, b, t0, t1, side0, side1) && t0 < t1) {
                const double t = (t0 + t1) / 2;
                const Point mid{a.lon + t * (b.lon - a.lon), a.lat + t * (b.lat - a.lat)};
                if (strictly_inside(mid)) {
                    current.push_back(at(frame_, a, b, t0, side0));
                    current.push_back(at(frame_, a, b, t1, side1));
                    finish(current);
                }
            }
            a_in = b_in;
        }
        return true;
    }

    // Corners passed going counter-clockwise from one border place to
    // another (all the way round when full).
    void walk(double from, double to, bool full, Line &out) const {
        const double corners[4] = {0, dx_, dx_ + dy_, 2 * dx_ + dy_};
        const Point points[4] = {{w_, s_}, {e_, s_}, {e_, n_}, {w_, n_}};
        double total = full ? perimeter_ : to - from;
        if (total < 0) total += perimeter_;
        int first = 0;
        while (first < 4 && corners[first] <= from) ++first;
        for (int k = 0; k < 4; ++k) {
            const int c = (first + k) % 4;
            double d = corners[c] - from;
            if (d < 0) d += perimeter_;
            if (d > 0 && d < total) out.push_back(points[c]);
            if (full && d == 0) out.push_back(points[c]);
        }
    }

    // Direction of the border going counter-clockwise from a border place.
    Point border_direction(double place) const {
        if (place < dx_) return {1, 0};
        if (place < dx_ + dy_) return {0, 1};
        if (place < 2 * dx_ + dy_) return {-1, 0};
        return {0, -1};
    }

    // Clockwise turn from direction a to direction b, in [0, 2 pi).
    static double clockwise(const Point &a, const Point &b) {
        double angle = -std::atan2(a.lon * b.lat - a.lat * b.lon, a.lon * b.lon + a.lat * b.lat);
        if (angle < 0) angle += 2 * M_PI;
        return angle;
    }

    // Direction of the border going counter-clockwise into a border place.
    Point border_arrival(double place) const {
        if (place > 0 && place <= dx_) return {1, 0};
        if (place > dx_ && place <= dx_ + dy_) return {0, 1};
        if (place > dx_ + dy_ && place <= 2 * dx_ + dy_) return {-1, 0};
        return {0, -1};
    }

    // The entry that follows an exit going counter-clockwise along the
    // border. Where entries lie at the exit's own place, the region's
    // boundary takes the sharpest right turn there: into such a piece (a
    // ring touching the border from inside), or along the border (a hole
    // touching it, whose region lies on both sides). Where the border walk
    // meets several entries at one place (rings touching each other there),
    // it takes the sharpest right turn too. True when the walk goes all the
    // way round.
    std::pair<size_t, bool> next_entry(const Piece &piece,
                                       const std::vector<std::pair<double, size_t>> &entries) const {
        auto at = std::lower_bound(entries.begin(), entries.end(), std::make_pair(piece.out, size_t(0)));
        auto same = at;
        if (at != entries.end() && at->first == piece.out) {
            const Point &p = piece.points.back(), &q = piece.points[piece.points.size() - 2];
            const Point back{q.lon - p.lon, q.lat - p.lat};
            double best = clockwise(back, border_direction(piece.out));
            size_t chosen = entries.size();
            for (; same != entries.end() && same->first == piece.out; ++same) {
                const Line &next = pieces_[same->second].points;
                const double turn = clockwise(back, {next[1].lon - p.lon, next[1].lat - p.lat});
                if (turn > 0 && turn < best) best = turn, chosen = same->second;
            }
            if (chosen != entries.size()) return {chosen, false};
        }
        if (same == entries.end()) same = entries.begin();
        const bool full = same->first == piece.out;
        const Point along = border_arrival(same->first), back{-along.lon, -along.lat};
        double best = 0;
        size_t chosen = same->second;
        for (auto it = same; it != entries.end() && it->first == same->first; ++it) {
            const Line &next = pieces_[it->second].points;
            double turn = clockwise(back, {next[1].lon - next[0].lon, next[1].lat - next[0].lat});
            if (turn == 0) turn = 2 * M_PI;
            if (it == same || turn < best) best = turn, chosen = it->second;
        }
        return {chosen, full};
    }

    std::vector<Ring> join() {
        std::vector<Ring> out;
        if (pieces_.empty()) return out;
        std::vector<std::pair<double, size_t>> entries;
        for (size_t i = 0; i < pieces_.size(); ++i) entries.emplace_back(pieces_[i].in, i);
        std::sort(entries.begin(), entries.end());
        for (size_t first = 0; first < pieces_.size(); ++first) {
            if (pieces_[first].used) continue;
            Ring ring;
            size_t current = first;
            pieces_[first].used = true;
            for (size_t guard = 0; guard <= pieces_.size(); ++guard) {
                const Piece &piece = pieces_[current];
                ring.insert(ring.end(), piece.points.begin(), piece.points.end());
                const auto [next, full] = next_entry(piece, entries);
                walk(piece.out, pieces_[next].in, full, ring);
                current = next;
                if (current == first || pieces_[current].used) break;
                pieces_[current].used = true;
            }
            tidy(ring);
            out.push_back(std::move(ring));
        }
        return out;
    }

    // Walks that pass a point inside the box more than once (where rings
    // touch) follow there whatever ring they came along. Each arrival is
    // re-paired with the departure that bounds the same sector of the
    // region, the first one met turning clockwise from the edge arrived by,
    // as next_entry does on the border; each walk then bounds one piece of
    // the region, and a region pinched at such a point comes apart.
    bool retrace(std::vector<Ring> &walks) const {
        std::vector<size_t> base(walks.size() + 1, 0);
        for (size_t w = 0; w < walks.size(); ++w) base[w + 1] = base[w] + walks[w].size();
        const size_t total = base.back();
        std::vector<Point> point(total);
        std::vector<size_t> after(total), before(total);
        std::vector<std::pair<std::pair<double, double>, size_t>> inside;
        for (size_t w = 0; w < walks.size(); ++w) {
            const size_t n = walks[w].size();
            for (size_t i = 0; i < n; ++i) {
                const size_t g = base[w] + i;
                point[g] = walks[w][i];
                after[g] = base[w] + (i + 1) % n;
                before[g] = base[w] + (i + n - 1) % n;
                if (strictly_inside(point[g])) inside.push_back({{point[g].lon, point[g].lat}, g});
            }
        }
        std::sort(inside.begin(), inside.end());
        std::vector<size_t> leave(total);  // the departure taken from each arrival
        for (size_t g = 0; g < total; ++g) leave[g] = g;
        bool changed = false;
        for (size_t i = 0, j; i < inside.size(); i = j) {
            for (j = i + 1; j < inside.size() && inside[j].first == inside[i].first;) ++j;
            if (j - i < 2) continue;
            std::vector<size_t> chosen;
            for (size_t a = i; a < j; ++a) {
                const size_t g = inside[a].second;
                const Point back{point[before[g]].lon - point[g].lon, point[before[g]].lat - point[g].lat};
                double best = 0;
                size_t pick = g;
                for (size_t b = i; b < j; ++b) {
                    const size_t d = inside[b].second;
                    double turn = clockwise(back,
                                            {point[after[d]].lon - point[d].lon, point[after[d]].lat - point[d].lat});
                    if (turn == 0) turn = 2 * M_PI;
                    if (b == i || turn < best) best = turn, pick = d;
                }
                chosen.push_back(pick);
            }
            // Degenerate meetings (edges along one another) keep their pairs.
            std::vector<size_t> sorted = chosen;
            std::sort(sorted.begin(), sorted.end());
            if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) continue;
            for (size_t a = i; a < j; ++a) {
                changed |= leave[inside[a].second] != chosen[a - i];
                leave[inside[a].second] = chosen[a - i];
            }
        }
        if (!changed) return false;
        std::vector<Ring> out;
        std::vector<bool> used(total, false);
        for (size_t start = 0; start < total; ++start) {
            if (used[start]) continue;
            Ring ring;
            for (size_t d = start; !used[d]; d = leave[after[d]]) {
                used[d] = true;
                ring.push_back(point[d]);
            }
            out.push_back(std::move(ring));
        }
        walks.swap(out);
        return true;
    }

    // Rings that run along one another the opposite ways (holes side by
    // side, or a hole against its exterior, with an edge in common) bound
    // the region on neither side of that edge: both copies go, and the walks
    // are linked again through the points where they went, one arrival to
    // one departure (retrace then pairs them as the region needs). False
    // when no edge is shared so.
    static bool dissolve(std::vector<Ring> &walks) {
        std::vector<Point> point;
        std::vector<size_t> after;
        for (const Ring &walk : walks)
            for (size_t i = 0, n = walk.size(), base = point.size(); i < n; ++i) {
                point.push_back(walk[i]);
                after.push_back(base + (i + 1) % n);
            }
        using Key = std::pair<std::pair<double, double>, std::pair<double, double>>;
        auto key = [&](size_t from, size_t to) {
            return Key{{point[from].lon, point[from].lat}, {point[to].lon, point[to].lat}};
        };
        std::vector<std::pair<Key, size_t>> edges;
        edges.reserve(point.size());
        for (size_t g = 0; g < point.size(); ++g) edges.push_back({key(g, after[g]), g});
        std::sort(edges.begin(), edges.end());
        std::vector<bool> gone(point.size(), false);
        bool any = false;
        for (const auto &[k, g] : edges) {
            if (gone[g]) continue;
            const Key back{k.second, k.first};
            for (auto it = std::lower_bound(edges.begin(), edges.end(), std::make_pair(back, size_t{0}));
                 it != edges.end() && it->first == back; ++it)
                if (!gone[it->second] && it->second != g) {
                    gone[g] = gone[it->second] = any = true;
                    break;
                }
        }
        if (!any) return false;
        // Edges kept, as (their start, the edge), and as (their end, the edge).
        std::vector<std::pair<std::pair<double, double>, size_t>> departs, arrives;
        for (size_t g = 0; g < point.size(); ++g) {
            if (gone[g]) continue;
            departs.push_back({{point[g].lon, point[g].lat}, g});
            arrives.push_back({{point[after[g]].lon, point[after[g]].lat}, g});
        }
        std::sort(departs.begin(), departs.end());
        std::sort(arrives.begin(), arrives.end());
        std::vector<size_t> next(point.size());
        for (size_t i = 0; i < arrives.size(); ++i) next[arrives[i].second] = departs[i].second;
        std::vector<Ring> out;
        std::vector<bool> used(point.size(), false);
        for (const auto &start : departs) {
            Ring ring;
            for (size_t g = start.second; !used[g]; g = next[g]) {
                used[g] = true;
                ring.push_back(point[g]);
            }
            if (!ring.empty()) out.push_back(std::move(ring));
        }
        walks.swap(out);
        return true;
    }

    // A ring that passes a point twice (where a hole touched the border or
    // its exterior) as the simple loops it is made of.
    static std::vector<Ring> loops(const Ring &ring) {
        std::vector<Ring> out;
        Ring stack;
        std::map<std::pair<double, double>, size_t> seen;
        for (const Point &p : ring) {
            const auto [it, fresh] = seen.emplace(std::make_pair(p.lon, p.lat), stack.size());
            if (fresh) {
                stack.push_back(p);
                continue;
            }
            Ring loop(stack.begin() + static_cast<long>(it->second), stack.end());
            for (size_t i = it->second + 1; i < stack.size(); ++i) seen.erase({stack[i].lon, stack[i].lat});
            stack.resize(it->second + 1);
            out.push_back(std::move(loop));
        }
        out.push_back(std::move(stack));
        return out;
    }

    // A point just inside a ring's region, beside the middle of its longest edge.
    static Point inside_point(const Ring &ring) {
        size_t best = 0;
        double longest = -1;
        for (size_t i = 0; i < ring.size(); ++i) {
            const Point &a = ring[i], &b = ring[(i + 1) % ring.size()];
            const double length = std::hypot(b.lon - a.lon, b.lat - a.lat);
            if (length > longest) longest = length, best = i;
        }
        const Point &a = ring[best], &b = ring[(best + 1) % ring.size()];
        const double sign = signed_area2(ring) > 0 ? 1 : -1;  // the region lies left of a ring that turns left
        return {(a.lon + b.lon) / 2 - sign * (b.lat - a.lat) * 1e-7,
                (a.lat + b.lat) / 2 + sign * (b.lon - a.lon) * 1e-7};
    }

    static void tidy(Ring &ring) {
        Ring out;
        out.reserve(ring.size());
        for (const Point &p : ring)
            if (out.empty() || p.lon != out.back().lon || p.lat != out.back().lat) out.push_back(p);
        while (out.size() > 1 && out.back().lon == out.front().lon && out.back().lat == out.front().lat) out.pop_back();
        ring.swap(out);
    }

    // With no ring crossing the box, the box is wholly inside or wholly
    // outside the region; test a point nearer the border than any ring that
    // lies inside the box, so that it is in none of them.
    bool covers_box(const std::vector<const Ring *> &inner, const std::vector<const Ring *> &others) const {
        double margin = std::min(dx_, dy_) / 2;
        for (const Ring *ring : inner)
            for (const Point &p : *ring) margin = std::min({margin, p.lon - w_, e_ - p.lon, p.lat - s_, n_ - p.lat});
        const Point probe{w_ + margin / 2, s_ + margin / 2};
        bool in = false;
        for (const Ring *ring : others) in ^= inside_planar(probe, *ring);
        return in;
    }

    Ring box_ring() const { return {{w_, s_}, {e_, s_}, {e_, n_}, {w_, n_}}; }

    Frame frame_;
    double w_, e_, s_, n_, dx_, dy_, perimeter_;
    std::vector<Piece> pieces_;
};

// Open runs of a line inside the closed rectangle.
std::vector<Line> clip_line_to(const Line &line, const Frame &f) {
    std::vector<Line> out;
    Line current;
    const size_t n = line.size();
    auto flush = [&] {
        if (current.size() >= 2) out.push_back(std::move(current));
        current = Line();
    };
    auto inside = [&](const Point &p) {
        return f.west <= p.lon && p.lon <= f.east && f.south <= p.lat && p.lat <= f.north;
    };
    if (n == 1 && inside(line[0])) return out;
    for (size_t i = 0; i + 1 < n; ++i) {
        const Point &a = line[i], &b = line[i + 1];
        double t0, t1;
        int side0, side1;
        if (!span(f, a, b, t0, t1, side0, side1) || (t0 == t1 && (a.lon != b.lon || a.lat != b.lat))) {
            flush();
            continue;
        }
        if (side0 >= 0) flush();
        if (current.empty()) current.push_back(at(f, a, b, t0, side0));
        current.push_back(at(f, a, b, t1, side1));
        if (side1 >= 0) flush();
    }
    flush();
    // A closed line that runs on across its first point is one run there.
    if (out.size() >= 2 && n >= 2 && line.front().lon == line.back().lon && line.front().lat == line.back().lat) {
        Line &first = out.front(), &last = out.back();
        if (first.front().lon == line.front().lon && first.front().lat == line.front().lat &&
            last.back().lon == line.back().lon && last.back().lat == line.back().lat) {
            last.insert(last.end(), first.begin() + 1, first.end());
            out.erase(out.begin());
        }
    }
    return out;
}

// The whole turns k for which [lo, hi] + 360k meets [west, east]; none for
// coordinates so far out or so spread that they cannot be geography.
void turns(double lo, double hi, const Frame &f, long &first, long &last) {
    const double a = std::ceil((f.west - hi) / 360), b = std::floor((f.east - lo) / 360);
    first = 1, last = 0;
    if (!(std::fabs(a) < 1e7 && std::fabs(b) < 1e7 && b - a < 1000)) return;
    first = static_cast<long>(a), last = static_cast<long>(b);
}

// A ring prepared for clipping: continuous, its exterior counter-clockwise.
struct Prepared {
    std::vector<Ring> rings;
    bool polar = false;
    double pole = -90;
};

// A ring that is not closed round a pole and yet spans more than a turn of
// longitude, taken edge by edge the short way, covers some of the globe more
// than once: no polygon, and each turn would be clipped on its own. (Rings
// too far out to be geography at all are left to clip to nothing.)
void refuse_winding(double lo, double hi) {
    if (hi - lo > 360 && std::fabs(lo) < 1e9 && std::fabs(hi) < 1e9)
        throw features::Error("a ring that runs over " +
                              std::to_string(static_cast<long long>(std::ceil((hi - lo) / 360))) +
                              " turns of longitude is not a polygon");
}

// Where a vertex of one ring lies inside an edge of another (a hole that
// touches its exterior or another hole there), that edge gets the vertex
// too, so that the clip meets every touch as a point the rings share.
// "Inside" allows for rounding: a touch written in decimal degrees is seldom
// exactly on the edge in binary, and the point where the clip cuts such an
// edge is rounded too, so that the cut edge could pass on the wrong side of
// a vertex lying a hair inside it. Vertices within a few hundred units in
// the last place of the coordinates are taken as on the edge, and the edge
// bends through them by that much.
// Vertices are sorted by longitude, so that each edge looks only at those
// within its own extent. The edge that closes an exterior round a pole
// runs a turn further east than its ends say, and is left alone.
void node(std::vector<Ring> &rings, bool polar) {
    struct Vertex {
        double lon, lat;
        size_t ring;
        bool operator<(const Vertex &o) const { return lon < o.lon; }
    };
    // The exterior (often long) is looked for by the holes' edges only.
    std::vector<Vertex> exterior, holes;
    double largest = 1;
    for (size_t r = 0; r < rings.size(); ++r)
        for (const Point &p : rings[r]) {
            (r ? holes : exterior).push_back({p.lon, p.lat, r});
            largest = std::max({largest, std::fabs(p.lon), std::fabs(p.lat)});
        }
    const double tolerance = noise * largest;
    std::sort(exterior.begin(), exterior.end());
    std::sort(holes.begin(), holes.end());
    struct Insertion {
        size_t edge;
        double along;
        Point p;
        bool operator<(const Insertion &o) const { return edge != o.edge ? edge < o.edge : along < o.along; }
    };
    for (size_t r = 0; r < rings.size(); ++r) {
        Ring &ring = rings[r];
        const size_t n = ring.size();
        std::vector<Insertion> found;
        auto look = [&](const std::vector<Vertex> &vertices, size_t i, const Point &a, const Point &b) {
            const double lo = std::min(a.lon, b.lon) - tolerance, hi = std::max(a.lon, b.lon) + tolerance;
            const double south = std::min(a.lat, b.lat) - tolerance, north = std::max(a.lat, b.lat) + tolerance;
            const double dx = b.lon - a.lon, dy = b.lat - a.lat, length2 = dx * dx + dy * dy;
            for (auto v = std::lower_bound(vertices.begin(), vertices.end(), Vertex{lo, 0, 0});
                 v != vertices.end() && v->lon <= hi; ++v) {
                if (v->ring == r || v->lat < south || v->lat > north) continue;
                const Point p{v->lon, v->lat};
                const double across = dx * (p.lat - a.lat) - dy * (p.lon - a.lon);
                const double along = dx * (p.lon - a.lon) + dy * (p.lat - a.lat);
                // Off the line, or at (or beside) either end, where the rings
                // meet at a vertex, or nearly so, and the cut cannot move.
                if (across * across > tolerance * tolerance * length2 || along <= tolerance * std::sqrt(length2) ||
                    along >= length2 - tolerance * std::sqrt(length2))
                    continue;
                found.push_back({i, along, p});
            }
        };
        for (size_t i = 0; i < n; ++i) {
            if (polar && r == 0 && i + 1 == n) break;
            const Point &a = ring[i], &b = ring[(i + 1) % n];
            look(holes, i, a, b);
            if (r) look(exterior, i, a, b);
        }
        if (found.empty()) continue;
        std::sort(found.begin(), found.end());
        Ring noded;
        noded.reserve(n + found.size());
        auto next = found.begin();
        for (size_t i = 0; i < n; ++i) {
            noded.push_back(ring[i]);
            for (; next != found.end() && next->edge == i; ++next)
                if (noded.back().lon != next->p.lon || noded.back().lat != next->p.lat) noded.push_back(next->p);
        }
        ring.swap(noded);
    }
}

Prepared prepare(const Polygon &polygon) {
    Prepared out;
    if (polygon.empty()) return out;
    Ring outer = continuous(polygon[0]);
    while (outer.size() > 1 && outer.back().lon == outer.front().lon && outer.back().lat == outer.front().lat)
        outer.pop_back();
    double lo, hi;
    extent(outer, lo, hi);
    // A ring round a pole may be closed along it in the file; the closure is
    // drawn again here, so its points go.
    if (hi - lo >= 360) {
        Ring kept;
        for (const Point &p : outer)
            if (std::fabs(p.lat) < 90) kept.push_back(p);
        if (kept.size() != outer.size() && std::fabs(travel(continuous(kept))) == 360) outer = continuous(kept);
    }
    const double t = travel(outer);
    if (std::fabs(t) == 360 && outer.size() >= 2) {
        out.polar = true;
        if (t < 0) std::reverse(outer.begin(), outer.end());
        double south = 90, north = -90;
        for (const Point &p : outer) south = std::min(south, p.lat), north = std::max(north, p.lat);
        out.pole = south + north < 0 ? -90 : 90;
    } else if (signed_area2(outer) < 0) {
        std::reverse(outer.begin(), outer.end());
    }
    extent(outer, lo, hi);
    if (!out.polar) refuse_winding(lo, hi);
    const double middle = (lo + hi) / 2;
    out.rings.push_back(std::move(outer));
    for (size_t i = 1; i < polygon.size(); ++i) {
        Ring hole = continuous(polygon[i]);
        if (hole.size() < 3) continue;
        double hlo, hhi;
        extent(hole, hlo, hhi);
        refuse_winding(hlo, hhi);
        shift(hole, near((hlo + hhi) / 2, middle) - (hlo + hhi) / 2);
        while (hole.size() > 1 && hole.back().lon == hole.front().lon && hole.back().lat == hole.front().lat)
            hole.pop_back();
        const double area = signed_area2(hole);
        if (hole.size() < 3 || sliver(hole, area)) continue;
        if (area > 0) std::reverse(hole.begin(), hole.end());
        out.rings.push_back(std::move(hole));
    }
    if (out.rings.size() > 1) node(out.rings, out.polar);
    return out;
}

// An eastward ring round a pole as one plane ring long enough to cover the
// frame: copies one turn apart in a row, closed along the pole beyond both
// ends of the frame.
Ring unrolled(const Ring &ring, double pole, const Frame &f, long &first, long &last) {
    double lo, hi;
    extent(ring, lo, hi);
    turns(lo, hi, f, first, last);
    --first, ++last;
    Ring out;
    out.reserve(ring.size() * static_cast<size_t>(last - first + 1) + 3);
    for (long k = first; k <= last; ++k)
        for (const Point &p : ring) out.push_back({p.lon + 360.0 * k, p.lat});
    const double end = ring[0].lon + 360.0 * (last + 1), start = ring[0].lon + 360.0 * first;
    out.push_back({end, ring[0].lat});
    out.push_back({end, pole});
    out.push_back({start, pole});
    if (signed_area2(out) < 0) std::reverse(out.begin(), out.end());
    return out;
}

std::vector<Polygon> clip_prepared(const Prepared &prep, const Frame &f) {
    std::vector<Polygon> out;
    if (prep.rings.empty() || prep.rings[0].size() < (prep.polar ? 2u : 3u)) return out;
    auto append = [&](const std::vector<Ring> &rings) {
        auto parts = RectClip(f).run(rings);
        for (auto &p : parts) out.push_back(std::move(p));
    };
    double lo, hi;
    extent(prep.rings[0], lo, hi);
    long first, last;
    if (prep.polar) {
        std::vector<Ring> rings{unrolled(prep.rings[0], prep.pole, f, first, last)};
        for (size_t i = 1; i < prep.rings.size(); ++i)
            for (long k = first; k <= last; ++k) {
                rings.push_back(prep.rings[i]);
                shift(rings.back(), 360.0 * k);
            }
        append(rings);
        return out;
    }
    turns(lo, hi, f, first, last);
    double south = 90, north = -90;
    for (const Point &p : prep.rings[0]) south = std::min(south, p.lat), north = std::max(north, p.lat);
    for (long k = first; k <= last; ++k) {
        // A ring without holes that lies inside the frame, clear of its
        // edges, is its own clip: most of a world map's polygons.
        if (prep.rings.size() == 1 && lo + 360.0 * k > f.west && hi + 360.0 * k < f.east && south > f.south &&
            north < f.north) {
            out.push_back(prep.rings);
            shift(out.back()[0], 360.0 * k);
            continue;
        }
        std::vector<Ring> rings = prep.rings;
        for (Ring &r : rings) shift(r, 360.0 * k);
        append(rings);
    }
    return out;
}

// The frame cut at every antimeridian inside it, each piece moved by whole
// turns into -180..180.
std::vector<Frame> rfc7946_frames(const Frame &f) {
    // The ends of a whole turn meet: cut it at the antimeridian alone.
    if (f.east - f.west >= 360) return {{-180, 180, f.south, f.north}};
    std::vector<Frame> out;
    double west = f.west;
    // Less than a turn holds one antimeridian at most: two pieces.
    for (int piece = 0; piece < 2 && west < f.east; ++piece) {
        const double k = std::floor((west + 180) / 360);
        const double cut = 180 + 360 * k;
        const double east = std::min(f.east, cut);
        out.push_back({west - 360 * k, east - 360 * k, f.south, f.north});
        west = east;
    }
    return out;
}

// Clips a run that spans at most a turn and a half, once per whole turn that
// brings it into the frame. A part that starts at the run's first point
// goes on from a part of the run before (from previous on in out) that
// ended there: the runs of one line share their end points.
void clip_short_run(const Line &run, const Frame &frame, size_t previous, std::vector<Line> &out) {
    double lo, hi;
    extent(run, lo, hi);
    long first, last;
    turns(lo, hi, frame, first, last);
    const size_t mine = out.size();
    for (long k = first; k <= last; ++k) {
        Line copy = run;
        shift(copy, 360.0 * k);
        for (Line &part : clip_line_to(copy, frame)) {
            const Point &p = part.front();
            if (p.lon == copy[0].lon && p.lat == copy[0].lat) {
                const auto before = std::find_if(
                    out.begin() + static_cast<long>(previous), out.begin() + static_cast<long>(mine),
                    [&p](const Line &l) { return l.back().lon == p.lon && l.back().lat == p.lat; });
                if (before != out.begin() + static_cast<long>(mine)) {
                    before->insert(before->end(), part.begin() + 1, part.end());
                    continue;
                }
            }
            out.push_back(std::move(part));
        }
    }
}

// A line that winds round the globe many times is cut into runs of about a
// turn, sharing their end points, so that the work grows with the line, not
// with the line times its turns.
std::vector<Line> clip_continuous_line(const Line &c, const Frame &frame) {
    std::vector<Line> out;
    size_t start = 0, previous = 0;
    while (start < c.size()) {
        double lo = c[start].lon, hi = lo;
        size_t end = start + 1;
        while (end < c.size() && std::max(hi, c[end].lon) - std::min(lo, c[end].lon) <= 360)
            lo = std::min(lo, c[end].lon), hi = std::max(hi, c[end].lon), ++end;
        // The run takes the point where the next one starts.
        const Line run(c.begin() + static_cast<long>(start),
                       c.begin() + static_cast<long>(std::min(end + 1, c.size())));
        const size_t mine = out.size();
        clip_short_run(run, frame, previous, out);
        previous = mine;
        if (end >= c.size()) break;
        start = end;
    }
    return out;
}

// Whether the first n points, moved by the whole turns by, lie inside the
// frame clear of its edges by more than clear, each edge (the closing one
// too when closed) running less than half a turn, so that taking edges the
// short way moves nothing.
bool inside_moved(const Line &points, size_t n, bool closed, double by, const Frame &f, double clear) {
    for (size_t i = 0; i < n; ++i) {
        const Point &p = points[i];
        const double lon = p.lon + by;
        if (!(f.west + clear < lon && lon < f.east - clear && f.south + clear < p.lat && p.lat < f.north - clear))
            return false;
        if ((i + 1 < n || closed) && std::fabs(points[i + 1 < n ? i + 1 : 0].lon - p.lon) > 180) return false;
    }
    return true;
}

void drop_repeats(Line &line) {
    line.erase(std::unique(line.begin(), line.end(),
                           [](const Point &a, const Point &b) { return a.lon == b.lon && a.lat == b.lat; }),
               line.end());
}

// A ring without holes that lies inside the frame clear of its edges (see
// inside_moved), as it stands or moved by whole turns, is its own clip.
// Most of a world map's polygons are so, those stored east of 180 too. The
// whole turns that move it there, or nullopt for the others.
std::optional<double> inside_by(const Polygon &polygon, const Frame &f) {
    if (polygon.size() != 1) return std::nullopt;
    const Ring &in = polygon[0];
    size_t n = in.size();
    while (n > 1 && in[n - 1].lon == in[0].lon && in[n - 1].lat == in[0].lat) --n;
    if (n < 3) return std::nullopt;
    // The turns that bring the first point nearest the frame's middle; in a
    // frame of at most a turn, no other copy can lie inside too.
    const double by = turns_to(in[0].lon, (f.west + f.east) / 2);
    if (!inside_moved(in, n, true, by, f, 0)) return std::nullopt;
    return by;
}

// Such a polygon as the full clip would give it (points that repeat their
// predecessor dropped, without the closing point, counter-clockwise, then
// moved), made in its own storage rather than prepared from a copy. With
// fewer than three points left there is nothing, as there is for the full
// clip, which takes its edges as they are.
std::vector<Polygon> own_clip(Polygon &&polygon, double by) {
    Ring &ring = polygon[0];
    while (ring.size() > 1 && ring.back().lon == ring[0].lon && ring.back().lat == ring[0].lat) ring.pop_back();
    drop_repeats(ring);
    // Its last point is the last before the closing ones, never the first.
    std::vector<Polygon> out;
    if (ring.size() < 3) return out;
    if (signed_area2(ring) < 0) std::reverse(ring.begin(), ring.end());
    if (by != 0) shift(ring, by);
    out.push_back(std::move(polygon));
    return out;
}

}  // namespace

std::vector<Polygon> clip_polygon(Polygon &&polygon, const Frame &frame) {
    if (const std::optional<double> by = inside_by(polygon, frame)) return own_clip(std::move(polygon), *by);
    return clip_prepared(prepare(polygon), frame);
}

std::vector<Polygon> clip_polygon(const Polygon &polygon, const Frame &frame) {
    if (const std::optional<double> by = inside_by(polygon, frame)) return own_clip(Polygon(polygon), *by);
    return clip_prepared(prepare(polygon), frame);
}

namespace {

// The clips to every piece of the frame that GeoJSON wants, together.
template <class Shape, class Clip>
std::vector<Shape> clip_rfc7946(const Frame &frame, Clip clip) {
    std::vector<Shape> out;
    for (const Frame &piece : rfc7946_frames(frame))
        for (Shape &part : clip(piece)) out.push_back(std::move(part));
    return out;
}

}  // namespace

std::vector<Polygon> clip_polygon_rfc7946(Polygon &&polygon, const Frame &frame) {
    // Inside one piece of the frame, clear of its edges, a ring is outside
    // the others, whatever whole turns move it.
    for (const Frame &piece : rfc7946_frames(frame))
        if (const std::optional<double> by = inside_by(polygon, piece)) return own_clip(std::move(polygon), *by);
    const Prepared prep = prepare(polygon);
    return clip_rfc7946<Polygon>(frame, [&prep](const Frame &piece) { return clip_prepared(prep, piece); });
}

std::vector<Polygon> clip_polygon_rfc7946(const Polygon &polygon, const Frame &frame) {
    return clip_polygon_rfc7946(Polygon(polygon), frame);
}

namespace {

// A line inside the frame as it stands or moved by whole turns, clear of
// the frame's edges by more than rounding could close (see inside_moved):
// its own clip, as the full clip gives it (points that repeat their
// predecessor dropped, then moved), without the full clip's copies and
// cuts. Most of a map's borders and rivers are so; nullopt for the others.
std::optional<std::vector<Line>> line_inside(const Line &line, const Frame &f) {
    constexpr double clear = 1e-9;  // degrees; the cut's rounding is some 1e-13
    if (line.empty()) return std::nullopt;
    const double by = turns_to(line[0].lon, (f.west + f.east) / 2);
    if (!inside_moved(line, line.size(), false, by, f, clear)) return std::nullopt;
    Line own = line;
    drop_repeats(own);
    std::vector<Line> out;
    if (own.size() < 2) return out;
    if (by != 0) shift(own, by);
    out.push_back(std::move(own));
    return out;
}

}  // namespace

std::vector<Line> clip_line(const Line &line, const Frame &frame) {
    if (std::optional<std::vector<Line>> own = line_inside(line, frame)) return std::move(*own);
    return clip_continuous_line(continuous(line), frame);
}

std::vector<Line> clip_line_rfc7946(const Line &line, const Frame &frame) {
    for (const Frame &piece : rfc7946_frames(frame))
        if (std::optional<std::vector<Line>> own = line_inside(line, piece)) return std::move(*own);
    const Line c = continuous(line);
    return clip_rfc7946<Line>(frame, [&c](const Frame &piece) { return clip_continuous_line(c, piece); });
}

bool extent_meets(double west, double east, double south, double north, const Frame &f) {
    if (south > f.north || north < f.south) return false;
    if (east - west >= 360) return true;
    long first, last;
    turns(west, east, f, first, last);
    return first <= last;
}

Line outline_once_round(const Ring &ring) {
    const Prepared prep = prepare({ring});
    if (prep.rings.empty()) return {};
    Line outline = prep.rings[0];
    if (!outline.empty()) outline.push_back({near(outline[0].lon, outline.back().lon), outline[0].lat});
    return outline;
}

}  // namespace vorpix::geo
