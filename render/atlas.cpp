#include "render/atlas.h"

#include <cmath>
#include <cstdlib>

#include "world/sector.h"

namespace kestrel {
namespace {

struct Rgba {
    int r, g, b, a;
};

bool in(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}

// Per-pixel noise 0..15, the same in every layer so the textures don't shimmer against
// each other.
int noise(int x, int y) {
    return static_cast<int>(mix64(static_cast<std::uint64_t>(y * 32 + x)) & 15);
}

Rgba wall(int x, int y) {
    const int n = noise(x, y);
    // Courses of 8 rows; the vertical joints shift by half a brick every other course.
    if (y % 8 == 0 || ((y & 8) + x) % 16 == 0) return {38, 30, 29, 255};
    Rgba brick{n + 126, n + 75, n + 51, 255};
    if (y % 8 == 1) brick = {brick.r + 30, brick.g + 18, brick.b + 10, 255}; // lit top edge
    return brick;
}

Rgba floor(int x, int y) {
    if (x % 16 == 0 || y % 16 == 0) return {18, 24, 28, 255};
    const int n = noise(x, y) / 2;
    return {n + 38, n + 47, n + 53, 255};
}

Rgba ceiling(int x, int y) {
    if (y == 5 && in(x, 6, 25)) return {107, 160, 165, 255};
    if (x % 16 == 0 || y % 16 == 0) return {19, 28, 32, 255};
    return {46, 57, 63, 255};
}

Rgba creature(int x, int y) {
    const bool head = in(x, 10, 21) && in(y, 3, 11);
    const bool body = in(x, 8, 23) && in(y, 12, 21);
    const bool arms = (in(x, 5, 8) || in(x, 23, 26)) && in(y, 13, 23);
    const bool legs = (in(x, 9, 13) || in(x, 18, 22)) && in(y, 22, 31);
    if (!head && !body && !arms && !legs) return {255, 255, 255, 0};
    if (legs && y >= 29) return {29, 34, 40, 255};                        // feet
    if (body && in(x, 12, 19) && in(y, 14, 18)) return {43, 52, 61, 255}; // chest panel
    if (head && in(x, 12, 20) && in(y, 6, 9)) return {61, 192, 198, 255}; // visor
    return x % 5 == 0 ? Rgba{112, 72, 44, 255} : Rgba{196, 116, 59, 255};
}

Rgba portal(int x, int y) {
    const double dx = (x - 15.5) / 13.0, dy = (y - 15.5) / 15.0;
    const double d = dx * dx + dy * dy;
    return {25, x + y + 164, 209 + (y + 3 * x) % 40, (d > 0.62 && d < 1.0) ? 255 : 0};
}

Rgba weapon(int x, int y) {
    Rgba p = (in(x, 10, 21) || y < 20) ? Rgba{255, 255, 255, 0} : Rgba{152, 91, 62, 255}; // hands
    if (in(x, 10, 22) && y >= 8) p = {67, 78, 84, 255};                                   // barrel
    if (in(x, 12, 20) && in(y, 7, 13)) p = {168, 185, 189, 255};
    if (in(x, 14, 18) && in(y, 4, 8)) {
        p = {28, 35, 41, 255}; // muzzle
    } else if (in(y, 16, 20) && in(x, 14, 18)) {
        p = {30, 198, 184, p.a}; // sight light
    }
    return p;
}

Rgba spark(int x, int y) {
    const double dx = std::abs(x - 15.5), dy = std::abs(y - 15.5);
    const bool lit = dx + dy < 13 || dx < 3 || dy < 3;
    return {255, 213, 89, lit ? 255 : 0};
}

Rgba pixel(int layer, int x, int y) {
    switch (layer) {
    case atlas_layer::wall:
        return wall(x, y);
    case atlas_layer::floor:
        return floor(x, y);
    case atlas_layer::ceiling:
        return ceiling(x, y);
    case atlas_layer::creature:
        return creature(x, y);
    case atlas_layer::portal:
        return portal(x, y);
    case atlas_layer::weapon:
        return weapon(x, y);
    case atlas_layer::spark:
        return spark(x, y);
    default:
        return {255, 255, 255, 255};
    }
}

} // namespace

std::vector<std::uint8_t> make_atlas() {
    std::vector<std::uint8_t> pixels(atlas_bytes);
    std::size_t i = 0;
    for (int layer = 0; layer < atlas_layers; ++layer) {
        for (int y = 0; y < atlas_size; ++y) {
            for (int x = 0; x < atlas_size; ++x) {
                const Rgba p = pixel(layer, x, y);
                pixels[i++] = static_cast<std::uint8_t>(p.r);
                pixels[i++] = static_cast<std::uint8_t>(p.g);
                pixels[i++] = static_cast<std::uint8_t>(p.b);
                pixels[i++] = static_cast<std::uint8_t>(p.a);
            }
        }
    }
    return pixels;
}

} // namespace kestrel
