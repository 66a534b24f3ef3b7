#include "codec/frame_encoder.h"

#include "codec/block_record.h"
#include "codec/rounding.h"
#include "codec/simd_dispatch.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexel {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;

inline std::uint8_t clampToByte(double v) { return roundToByte(v); }

// An angle difference brought into (-pi, pi], then folded into [-pi/2, pi/2].
double foldDifference(double d) {
    while (d > kPi) d -= kTwoPi;
    while (d <= -kPi) d += kTwoPi;
    if (d > kPi / 2) d -= kPi;
    else if (d < -kPi / 2) d += kPi;
    return d;
}

struct BlockPixels {
    std::int64_t x0, y0;  // picture position of the block's first pixel
    std::uint32_t wIn, hIn; // columns and rows inside the picture
};

BlockPixels blockPixels(const EncoderGrid& grid, std::uint32_t bx, std::uint32_t by) {
    BlockPixels p;
    p.x0 = static_cast<std::int64_t>(bx) * grid.B;
    p.y0 = static_cast<std::int64_t>(by) * grid.B;
    p.wIn = static_cast<std::uint32_t>(std::min<std::int64_t>(grid.B, grid.width - p.x0));
    p.hIn = static_cast<std::uint32_t>(std::min<std::int64_t>(grid.B, grid.height - p.y0));
    return p;
}

// Direction of a block from the three channels' gradients, green the reference.
double blockDirection(const SourcePlanes& s, const BlockPixels& p) {
    double angle[3], magnitude[3];
    for (int c = 0; c < 3; ++c) {
        // Sums of neighbour differences along rows and columns telescope to
        // last minus first of every in-picture row and column.
        std::int64_t gx = 0, gy = 0;
        for (std::uint32_t r = 0; r < p.hIn; ++r)
            gx += s.at(c, p.x0 + p.wIn - 1, p.y0 + r) - s.at(c, p.x0, p.y0 + r);
        for (std::uint32_t col = 0; col < p.wIn; ++col)
            gy += s.at(c, p.x0 + col, p.y0 + p.hIn - 1) - s.at(c, p.x0 + col, p.y0);
        if (gx == 0 && gy == 0) gy = 1;
        double fx = static_cast<double>(gx), fy = static_cast<double>(gy);
        magnitude[c] = std::sqrt(fx * fx + fy * fy);
        double a = gx != 0 ? std::atan2(fy, fx) + kTwoPi : (gy >= 0 ? kPi / 2 : -kPi / 2);
        while (a >= kTwoPi) a -= kTwoPi;
        angle[c] = a;
    }
    const double aG = angle[1], mR = magnitude[0], mG = magnitude[1], mB = magnitude[2];
    double dR = foldDifference(angle[0] - aG), dB = foldDifference(angle[2] - aG);
    double a1 = aG + (dR * mR + dB * mB) / (mR + mB) + kTwoPi;
    while (a1 > kTwoPi) a1 -= kTwoPi;
    double e = foldDifference(a1 - aG);
    double a = aG + e * (mR + mB) / (mR + mG + mB) + kTwoPi;
    while (a > kTwoPi) a -= kTwoPi;
    return a;
}

// The directions a first anchor (x, y) carries, atan2(-y, -x), taken modulo
// pi and sorted, each with the lowest anchor byte that gives it.
struct AnchorAngles {
    struct Entry {
        double phi; // in [0, pi)
        double theta;
        std::uint8_t byte;
    };
    Entry entries[256];
    int count = 0;
    AnchorAngles() {
        for (int i = 0; i < 256; ++i) {
            const double theta = std::atan2(static_cast<double>(0 - (i >> 4)), static_cast<double>(0 - (i & 15)));
            double phi = std::fmod(theta, kPi);
            if (phi < 0) phi += kPi;
            if (phi >= kPi) phi -= kPi;
            bool known = false;
            for (int k = 0; k < count && !known; ++k) known = std::fabs(entries[k].phi - phi) < 1e-12;
            if (!known) entries[count++] = {phi, theta, static_cast<std::uint8_t>(i)};
        }
        std::sort(entries, entries + count, [](const Entry& a, const Entry& b) { return a.phi < b.phi; });
    }
};

} // namespace

FirstAnchor nearestFirstAnchor(double a) {
    static const AnchorAngles angles;
    double phi = std::fmod(a, kPi);
    if (phi < 0) phi += kPi;
    const AnchorAngles::Entry* e = angles.entries;
    const int n = angles.count;
    int hi = static_cast<int>(std::lower_bound(e, e + n, phi, [](const AnchorAngles::Entry& x, double v) { return x.phi < v; }) - e);
    // The nearest direction lies on one side or the other, around the circle of pi.
    const AnchorAngles::Entry* candidates[2] = {&e[hi % n], &e[(hi + n - 1) % n]};
    const AnchorAngles::Entry* best = nullptr;
    double bestDistance = 10;
    for (const AnchorAngles::Entry* c : candidates) {
        const double d = std::fabs(std::remainder(c->theta - a, kPi));
        if (d < bestDistance - 1e-12 || (std::fabs(d - bestDistance) <= 1e-12 && c->byte < best->byte)) {
            best = c;
            bestDistance = d;
        }
    }
    return {best->byte, std::fabs(std::remainder(best->theta - a, kTwoPi)) > kPi / 2};
}

namespace {

// Euclidean distances between pixels of a block, looked up.
struct Distances {
    double table[31][31];
    Distances() {
        for (int dy = -15; dy <= 15; ++dy)
            for (int dx = -15; dx <= 15; ++dx) table[dy + 15][dx + 15] = std::sqrt(double(dx * dx + dy * dy));
    }
    double of(int dx, int dy) const { return table[dy + 15][dx + 15]; }
};
const Distances distances;

// Base values and slopes along the direction, written into the record.
void fitBlock(const SourcePlanes& s, const EncoderGrid& grid, const BlockPixels& p, double a, std::uint8_t* record,
              bool firstAnchorOnly) {
    const int B = static_cast<int>(grid.B);
    double ca = std::cos(a), sa = std::sin(a);
    double baseSum[3] = {0, 0, 0}, slopeSum[3] = {0, 0, 0};
    std::int64_t baseCount = 0, slopeCount = 0;
    std::uint16_t visited[16] = {};

    auto value = [&](int c, int x, int y) { return static_cast<double>(s.at(c, p.x0 + x, p.y0 + y)); };
    auto walk = [&](double x, double y) {
        int lastX = -1, lastY = -1;
        bool recorded = false;
        while (x >= 0 && x <= B - 1 && y >= 0 && y <= B - 1) {
            int ix = static_cast<int>(roundEvenFast(x)), iy = static_cast<int>(roundEvenFast(y));
            if (static_cast<std::uint32_t>(ix) < p.wIn && static_cast<std::uint32_t>(iy) < p.hIn) {
                for (int c = 0; c < 3; ++c) baseSum[c] += value(c, ix, iy);
                ++baseCount;
            }
            bool marked = visited[iy] & (1u << ix);
            if ((ix != lastX || iy != lastY) && !marked) {
                if (recorded) {
                    const double distance = distances.of(ix - lastX, iy - lastY);
                    for (int c = 0; c < 3; ++c) slopeSum[c] += (value(c, ix, iy) - value(c, lastX, lastY)) / distance;
                    ++slopeCount;
                }
                lastX = ix;
                lastY = iy;
                recorded = true;
                visited[iy] = static_cast<std::uint16_t>(visited[iy] | (1u << ix));
            }
            x += ca;
            y += sa;
        }
    };

    const int x0 = ca >= 0 ? 0 : B - 1, y0 = sa >= 0 ? 0 : B - 1;
    if (std::fabs(B * ca) >= 1)
        for (int i = 0; i < B; ++i) walk(x0, sa >= 0 ? y0 + i : y0 - i);
    if (std::fabs(B * sa) >= 1)
        for (int i = 0; i < B; ++i) walk(ca >= 0 ? x0 + i : x0 - i, y0);

    double base[3], slope[3];
    const std::uint64_t inPicture = static_cast<std::uint64_t>(p.wIn) * p.hIn;
    for (int c = 0; c < 3; ++c) {
        if (baseCount > 0) {
            base[c] = baseSum[c] / static_cast<double>(baseCount);
        } else {
            double sum = 0;
            for (std::uint32_t y = 0; y < p.hIn; ++y)
                for (std::uint32_t x = 0; x < p.wIn; ++x) sum += value(c, static_cast<int>(x), static_cast<int>(y));
            base[c] = sum / static_cast<double>(inPicture);
        }
        base[c] = std::clamp(base[c], 0.0, 255.0);
        // A block with fewer than two pixels in the picture has no slope.
        slope[c] = slopeCount > 0 && inPicture >= 2 ? 10 * slopeSum[c] / static_cast<double>(slopeCount) : 0.0;
        slope[c] = std::clamp(slope[c], -127.0, 127.0);
    }
    if (slope[0] + slope[1] + slope[2] < 0) {
        for (double& v : slope) v = -v;
        a += kPi;
        ca = std::cos(a);
        sa = std::sin(a);
    }
    FirstAnchor anchor{0, false};
    if (firstAnchorOnly) {
        anchor = nearestFirstAnchor(a);
        if (anchor.flip)
            for (double& v : slope) v = -v;
    }
    for (int c = 0; c < 3; ++c) {
        record[kBaseByte[c]] = static_cast<std::uint8_t>(roundEvenFast(base[c]));
        record[kBaseByte[c] + 1] = static_cast<std::uint8_t>(static_cast<std::int8_t>(roundEvenFast(slope[c])));
    }
    if (firstAnchorOnly) {
        record[kRecordFirstAnchor] = anchor.byte;
        record[kRecordSecondAnchor] = 0;
        return;
    }
    const double L = B - 1;
    auto nibble = [](double v) { return static_cast<std::uint8_t>(static_cast<int>(roundEvenFast(v)) & 15); };
    record[kRecordFirstAnchor] = static_cast<std::uint8_t>(nibble(L * (1 - ca) / 2) | (nibble(L * (1 - sa) / 2) << 4));
    record[kRecordSecondAnchor] = static_cast<std::uint8_t>(nibble(L * (1 + ca) / 2) | (nibble(L * (1 + sa) / 2) << 4));
}

// A block's model as a decoder reads it: corner(sx, sy) = base + sx * ax + sy * ay.
struct Model {
    double base[3], ax[3], ay[3];
    double corner(int c, int sx, int sy) const { return base[c] + sx * ax[c] + sy * ay[c]; }
};

Model modelOf(const std::uint8_t* record, std::uint32_t B) {
    const double G = B * (std::sqrt(2.0) / 2 + 0.5) / 2;
    const double theta = recordDirection(record);
    double ct = std::cos(theta), st = std::sin(theta);
    Model m;
    for (int c = 0; c < 3; ++c) {
        const double slope = recordSlope(record, c);
        m.base[c] = recordBase(record, c);
        m.ax[c] = G * slope * ct;
        m.ay[c] = G * slope * st;
    }
    return m;
}

} // namespace

void modelErrorRowPlain(const std::uint8_t* source, std::ptrdiff_t step, std::uint32_t n, double left, double slope,
                        std::int64_t& absSum, std::int64_t& squareSum) {
    for (std::uint32_t j = 0; j < n; ++j) {
        const int v = clampToByte(left + (j + 0.5) * slope);
        const int d = source[static_cast<std::ptrdiff_t>(j) * step] - v;
        absSum += d < 0 ? -d : d;
        squareSum += d * d;
    }
}

namespace {

// Gradient or detail, from the models of the block and its neighbours.
void decide(const SourcePlanes& s, const EncoderSettings& settings, const EncoderGrid& grid, BlockMap& map,
            const Model* models, std::uint32_t bx, std::uint32_t by) {
    const std::uint64_t index = static_cast<std::uint64_t>(by) * grid.columns + bx;
    const Model& own = models[index];
    // Each corner averages the block's own corner value with that of every
    // neighbour sharing it, taken at the neighbour's opposite corner.
    double corner[3][2][2]; // channel, sx (0: -1, 1: +1), sy
    for (int ix = 0; ix < 2; ++ix)
        for (int iy = 0; iy < 2; ++iy) {
            const int sx = ix ? 1 : -1, sy = iy ? 1 : -1;
            double sum[3] = {own.corner(0, sx, sy), own.corner(1, sx, sy), own.corner(2, sx, sy)};
            int count = 1;
            for (int nx = 0; nx <= 1; ++nx)
                for (int ny = 0; ny <= 1; ++ny) {
                    if (!nx && !ny) continue;
                    std::int64_t cx = static_cast<std::int64_t>(bx) + (nx ? sx : 0);
                    std::int64_t cy = static_cast<std::int64_t>(by) + (ny ? sy : 0);
                    if (cx < 0 || cy < 0 || cx >= grid.columns || cy >= grid.rows) continue;
                    const Model& n = models[static_cast<std::uint64_t>(cy) * grid.columns + static_cast<std::uint64_t>(cx)];
                    const int ox = nx ? -sx : sx, oy = ny ? -sy : sy;
                    for (int c = 0; c < 3; ++c) sum[c] += n.corner(c, ox, oy);
                    ++count;
                }
            for (int c = 0; c < 3; ++c) corner[c][ix][iy] = sum[c] / count;
        }

    const BlockPixels p = blockPixels(grid, bx, by);
    const double B = grid.B;
    // Each difference between a source byte and a rounded model value is an
    // integer, so the sums of their magnitudes and squares are integers (at
    // most 16 x 16 x 255^2 per block): exact in any order, in integers as in
    // doubles. The row kernel may add them in vectors.
    const ModelErrorRowKernel errorRow = codecKernels().modelErrorRow;
    std::int64_t absSum[3] = {0, 0, 0}, sqSum[3] = {0, 0, 0};
    for (std::uint32_t z = 0; z < p.hIn; ++z) {
        const double t = z + 0.5;
        for (int c = 0; c < 3; ++c) {
            double left = ((B - t) * corner[c][0][0] + t * corner[c][0][1]) / B;
            double right = ((B - t) * corner[c][1][0] + t * corner[c][1][1]) / B;
            double step = (right - left) / B;
            errorRow(&s.at(c, p.x0, p.y0 + z), s.pixelStep, p.wIn, left, step, absSum[c], sqSum[c]);
        }
    }
    const double area = B * B;
    double mae[3], e2[3];
    for (int c = 0; c < 3; ++c) {
        mae[c] = static_cast<double>(absSum[c]) / area;
        e2[c] = std::sqrt(static_cast<double>(sqSum[c])) / area;
    }
    const double T1 = settings.T1, T2 = settings.T2;
    bool gradient = mae[2] < 4 * T1 && mae[1] < T1 && mae[0] < 2 * T1 && e2[2] < 3 * T2 && e2[1] < 0.75 * T2 &&
                    e2[0] < 1.5 * T2;
    map.record(index)[0] = gradient ? kTypeGradient : kTypeDetail;
    map.maeGreen[index] = static_cast<float>(mae[1]);
    map.e2Green[index] = static_cast<float>(e2[1]);
}

// Turns isolated blocks of the pass's kind into the target type.
void cleanUp(const EncoderGrid& grid, BlockMap& map, const EncoderSettings& settings, int pass) {
    const std::int64_t cols = grid.columns, rows = grid.rows;
    auto typeAt = [&](std::int64_t x, std::int64_t y) -> int {
        if (x < 0 || y < 0 || x >= cols || y >= rows) return -1;
        return map.record(static_cast<std::uint64_t>(y * cols + x))[0];
    };
    const std::uint8_t target = pass == 1 ? kTypeGradient : kTypeDetail;
    for (std::int64_t y = grid.firstRow; y < grid.endRow; ++y)
        for (std::int64_t x = 0; x < cols; ++x) {
            const std::uint64_t index = static_cast<std::uint64_t>(y * cols + x);
            const int type = map.record(index)[0];
            if (pass == 1) {
                if (type != kTypeDetail || !(map.maeGreen[index] < 4 * settings.T1) ||
                    !(map.e2Green[index] < 2.5 * settings.T2))
                    continue;
            } else if (type != kTypeGradient) {
                continue;
            }
            auto like = [&](std::int64_t ax, std::int64_t ay, std::int64_t bx2, std::int64_t by2) {
                return typeAt(ax, ay) == type && typeAt(bx2, by2) == type ? 1 : 0;
            };
            // "Previous row" is y - 1, "next row" y + 1.
            int pairs = like(x - 1, y - 1, x - 1, y) + like(x - 1, y - 1, x, y - 1) + like(x + 1, y - 1, x, y - 1) +
                        like(x + 1, y - 1, x + 1, y) + like(x + 1, y + 1, x + 1, y) + like(x + 1, y + 1, x, y + 1) +
                        like(x - 1, y + 1, x, y + 1) + like(x - 1, y + 1, x - 1, y);
            if (pairs < 2)
                pairs += like(x, y - 1, x, y - 2) + like(x, y + 1, x, y + 2) + like(x - 1, y, x - 2, y) +
                         like(x + 1, y, x + 2, y);
            if (pairs < 2) map.record(index)[0] = target;
        }
}

} // namespace

std::uint32_t EncoderSettings::blockSizeFor(std::int8_t optimize) { return optimize < 0 ? 4 : optimize > 0 ? 16 : 8; }

EncoderSettings EncoderSettings::forFrame(std::int8_t optimize, std::uint8_t mode, std::uint32_t anchorBytes) {
    EncoderSettings e;
    e.k = optimize < 0 ? 2 : optimize > 0 ? 4 : 3;
    e.B = blockSizeFor(optimize);
    if (anchorBytes == 0) anchorBytes = anchorByteCount(mode, e.B, e.B, false);
    e.firstAnchorOnly = storedKind(mode, BlockKind::Gradient) == BlockKind::PackedGradient && anchorBytes == 1 &&
                        !anchorsPackedInOneByte(mode);
    e.T1 = 5.75 - e.k / 8.0;
    e.T2 = 5.23 * std::pow(static_cast<double>(e.B), -0.925);
    return e;
}

EncoderGrid EncoderGrid::forStream(std::uint32_t width, std::uint32_t height, std::uint32_t B, std::uint32_t stream,
                                   std::uint32_t streams) {
    EncoderGrid g;
    g.width = width;
    g.height = height;
    g.B = B;
    g.columns = (width + B - 1) / B;
    g.rows = (height + B - 1) / B;
    streamBlockRows(g.rows, stream, streams, g.firstRow, g.endRow);
    return g;
}

double modelCornerValue(const std::uint8_t* record, int channel, int sx, int sy, std::uint32_t B) {
    return modelOf(record, B).corner(channel, sx, sy);
}

bool analyseBlocks(const SourcePlanes& source, const EncoderSettings& settings, const EncoderGrid& grid,
                   BlockMap& map) {
    const std::uint64_t blocks = grid.blocks();
    if (!map.records.allocate(9 * blocks) || !map.maeGreen.allocate(blocks) || !map.e2Green.allocate(blocks))
        return false;
    map.motionSection = false;
    for (std::uint64_t i = 0; i < blocks; ++i) map.record(i)[0] = settings.initialType;

    // Models of the band and of the rows next to it (which stay zero).
    TrackedBuffer<Model> models;
    if (!models.allocate(blocks)) return false;
    for (std::uint32_t by = grid.firstRow; by < grid.endRow; ++by)
        for (std::uint32_t bx = 0; bx < grid.columns; ++bx) {
            const std::uint64_t index = static_cast<std::uint64_t>(by) * grid.columns + bx;
            const BlockPixels p = blockPixels(grid, bx, by);
            std::uint8_t* record = map.record(index);
            fitBlock(source, grid, p, blockDirection(source, p), record, settings.firstAnchorOnly);
            models[index] = modelOf(record, grid.B);
        }
    for (std::uint32_t by = grid.firstRow; by < grid.endRow; ++by)
        for (std::uint32_t bx = 0; bx < grid.columns; ++bx) decide(source, settings, grid, map, models.data(), bx, by);
    cleanUpTypeMap(grid, settings, map);
    return true;
}

void cleanUpTypeMap(const EncoderGrid& grid, const EncoderSettings& settings, BlockMap& map) {
    cleanUp(grid, map, settings, 1);
    cleanUp(grid, map, settings, 2);
}

void markKeepBlocks(const SourcePlanes& current, const SourcePlanes& previous, const EncoderSettings& settings,
                    const EncoderGrid& grid, std::uint8_t mode, BlockMap& map) {
    const double area3 = 3.0 * grid.B * grid.B;
    const double T1 = settings.T1, T2 = settings.T2;
    for (std::uint32_t by = grid.firstRow; by < grid.endRow; ++by)
        for (std::uint32_t bx = 0; bx < grid.columns; ++bx) {
            const BlockPixels p = blockPixels(grid, bx, by);
            double absSum[3] = {0, 0, 0}, sqSum[3] = {0, 0, 0};
            for (std::uint32_t y = 0; y < p.hIn; ++y)
                for (std::uint32_t x = 0; x < p.wIn; ++x)
                    for (int c = 0; c < 3; ++c) {
                        double d = static_cast<double>(current.at(c, p.x0 + x, p.y0 + y)) -
                                   previous.at(c, p.x0 + x, p.y0 + y);
                        absSum[c] += std::fabs(d);
                        sqSum[c] += d * d;
                    }
            double A[3], D[3];
            for (int c = 0; c < 3; ++c) {
                A[c] = absSum[c] / area3;
                D[c] = std::sqrt(sqSum[c] / area3);
            }
            // Red takes the wide limits here, blue the narrow ones.
            if (A[0] < 4 * T1 && A[1] < T1 && A[2] < 2 * T1 && D[0] < 3 * T2 && D[1] < 0.75 * T2 && D[2] < 1.5 * T2) {
                map.record(static_cast<std::uint64_t>(by) * grid.columns + bx)[0] = settings.initialType;
                if (mode == 7) map.motionSection = true;
            }
        }
}

} // namespace vexel
