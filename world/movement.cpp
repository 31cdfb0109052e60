// One tick of player movement and the automated-play heading. Movement is integer only and
// runs identically on client and server; the prediction replays it against server records,
// so any change to an operation, its order or its rounding desynchronises the two ends.
#include "world/movement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

namespace kestrel {
namespace {

constexpr std::int64_t walk_speed = 8738;     // 0x2222 per tick
constexpr std::int64_t boosted_speed = 13107; // 0x3333 per tick
constexpr std::int64_t dash_speed = 131072;   // two cells in one tick
constexpr std::uint16_t dash_cooldown_ticks = 90;
constexpr std::uint16_t speed_boost_kind = 3;
constexpr std::int64_t diagonal_factor = 46341; // 1/sqrt(2) in 1/65536
constexpr std::int64_t sub_step_limit = 7209;   // longest axis displacement per sub-step
constexpr std::int32_t velocity_factor = 30;    // ticks per second

// --- Sine table -------------------------------------------------------------------------
// SIN[i] = round(sin(2*pi*i/1024) * 65536). It is evaluated at compile time: the true values
// lie at least 0.0033 away from a rounding boundary, while the series below is accurate to
// about 1e-11, so every entry rounds the same way on any conforming compiler. The checksums
// after the table were computed independently at 60-digit precision and pin it down.

constexpr double pi = 3.14159265358979323846;

// Taylor series, for |a| <= pi/4 where 20 terms are far past double precision.
constexpr double series_sin(double a) {
    double term = a;
    double sum = 0.0;
    for (int n = 1; n < 40; n += 2) {
        sum += term;
        term = -term * a * a / ((n + 1) * (n + 2));
    }
    return sum;
}

constexpr double series_cos(double a) {
    double term = 1.0;
    double sum = 0.0;
    for (int n = 0; n < 40; n += 2) {
        sum += term;
        term = -term * a * a / ((n + 1) * (n + 2));
    }
    return sum;
}

// sin(pi/2 * r/256) for r in 0..256, reduced so the series argument stays within pi/4.
constexpr double quadrant_sin(int r) {
    return r <= 128 ? series_sin(pi * r / 512.0) : series_cos(pi * (256 - r) / 512.0);
}

constexpr std::array<std::int32_t, 1024> make_sine_table() {
    std::array<std::int32_t, 1024> table{};
    for (int i = 0; i < 1024; ++i) {
        const int quadrant = i / 256;
        const int r = i % 256;
        const double magnitude = quadrant_sin(quadrant % 2 == 0 ? r : 256 - r) * 65536.0;
        const auto rounded = static_cast<std::int32_t>(magnitude + 0.5); // magnitude >= 0
        table[i] = quadrant < 2 ? rounded : -rounded;
    }
    return table;
}

constexpr std::array<std::int32_t, 1024> SIN = make_sine_table();

constexpr std::int64_t sum_of_squares(const std::array<std::int32_t, 1024>& t) {
    std::int64_t sum = 0;
    for (std::int32_t v : t) sum += std::int64_t{v} * v;
    return sum;
}

constexpr std::int64_t weighted_sum(const std::array<std::int32_t, 1024>& t) {
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < t.size(); ++i) sum += static_cast<std::int64_t>(i + 1) * t[i];
    return sum;
}

static_assert(SIN[0] == 0 && SIN[1] == 402 && SIN[85] == 32652 && SIN[128] == 46341 &&
              SIN[256] == 65536 && SIN[512] == 0 && SIN[768] == -65536 && SIN[1023] == -402);
static_assert(sum_of_squares(SIN) == 2199023895960);
static_assert(weighted_sum(SIN) == -10937012224);

// ----------------------------------------------------------------------------------------

constexpr bool in_range(std::int64_t v) {
    return v >= coordinate_min && v <= coordinate_max;
}

} // namespace

void move(Player& player, const Input& input, const Grid& grid) {
    const std::uint16_t buttons = input.buttons;
    player.yaw = input.yaw;

    // The dash becomes available on the very step the cooldown runs out.
    bool dash_ready = true;
    if (player.dash_cooldown != 0) {
        --player.dash_cooldown;
        dash_ready = player.dash_cooldown == 0;
    }

    // The boost's speed ends on the step its last tick is used up, not one step later.
    bool boosting = false;
    if (player.boost_ticks != 0) {
        --player.boost_ticks;
        if (player.boost_ticks == 0) {
            player.boost = 0;
            player.boost_value = 0;
        } else {
            boosting = true;
        }
    }

    const unsigned weapon = (buttons >> button::weapon_shift) & 7u;
    if (weapon >= 1 && weapon <= 4) player.weapon = static_cast<std::uint16_t>(weapon);

    player.tick_event = false;
    if (player.cooldown != 0) --player.cooldown;

    // A dead player's timers keep running, but the body stays where it fell.
    if (player.health == 0) {
        player.vx = 0;
        player.vy = 0;
        return;
    }

    std::int64_t forward =
        ((buttons & button::forward) ? 1 : 0) - ((buttons & button::backward) ? 1 : 0);
    const std::int64_t strafe =
        ((buttons & button::strafe_right) ? 1 : 0) - ((buttons & button::strafe_left) ? 1 : 0);
    const std::int64_t cos_yaw = SIN[((player.yaw >> 6) + 256) & 1023];
    const std::int64_t sin_yaw = SIN[player.yaw >> 6];

    const std::int64_t base =
        (player.boost == speed_boost_kind && boosting) ? boosted_speed : walk_speed;
    std::int64_t speed;
    if ((buttons & button::dash) && dash_ready) {
        player.dash_cooldown = dash_cooldown_ticks;
        if (forward == 0 && strafe == 0) forward = 1; // a bare dash goes straight ahead
        speed = dash_speed;
    } else {
        speed = base + ((buttons & button::run) ? base >> 1 : 0);
    }
    if (forward != 0 && strafe != 0) speed = (speed * diagonal_factor) >> 16;

    // Signed 64-bit products, divisions truncating toward zero.
    const auto dx =
        static_cast<std::int32_t>((forward * cos_yaw - strafe * sin_yaw) * speed / 65536);
    const auto dy =
        static_cast<std::int32_t>((strafe * cos_yaw + forward * sin_yaw) * speed / 65536);

    // Sub-steps of at most 7209 units on the longer axis keep a dash from tunnelling
    // through a wall cell; every sub-step is an exact share so they add up to (dx, dy).
    const std::uint32_t ax = dx < 0 ? 0u - static_cast<std::uint32_t>(dx) : std::uint32_t(dx);
    const std::uint32_t ay = dy < 0 ? 0u - static_cast<std::uint32_t>(dy) : std::uint32_t(dy);
    const std::int64_t n =
        std::max<std::uint32_t>(1u, (std::max(ax, ay) + 7208u) / std::uint32_t(sub_step_limit));

    const std::int32_t x0 = player.x;
    const std::int32_t y0 = player.y;
    for (std::int64_t k = 1; k <= n; ++k) {
        const std::int64_t sx = std::int64_t{dx} * k / n - std::int64_t{dx} * (k - 1) / n;
        const std::int64_t sy = std::int64_t{dy} * k / n - std::int64_t{dy} * (k - 1) / n;

        // Axis by axis, so a blocked axis drops its share while the other slides on.
        const std::int64_t nx = player.x + sx;
        if (in_range(nx) && in_range(player.y) &&
            body_clear(grid, static_cast<std::int32_t>(nx), player.y))
            player.x = static_cast<std::int32_t>(nx);
        const std::int64_t ny = player.y + sy;
        if (in_range(ny) && in_range(player.x) &&
            body_clear(grid, player.x, static_cast<std::int32_t>(ny)))
            player.y = static_cast<std::int32_t>(ny);
    }

    player.vx = (player.x - x0) * velocity_factor;
    player.vy = (player.y - y0) * velocity_factor;
}

std::optional<std::uint16_t> navigation_yaw(const Grid& grid, int x, int y, std::uint16_t target) {
    if (target >= cell_count || grid[target] != 0) return std::nullopt;

    // Breadth-first distances from the target over free cells; -1 = not reached.
    std::array<std::int16_t, cell_count> dist;
    dist.fill(-1);
    std::array<std::uint16_t, cell_count> queue;
    std::size_t head = 0;
    std::size_t tail = 0;
    dist[target] = 0;
    queue[tail++] = target;
    while (head < tail) {
        const unsigned cell = queue[head++];
        const auto visit = [&](unsigned next) {
            if (grid[next] == 0 && dist[next] < 0) {
                dist[next] = static_cast<std::int16_t>(dist[cell] + 1);
                queue[tail++] = static_cast<std::uint16_t>(next);
            }
        };
        const unsigned column = cell & 31;
        if (column < 31) visit(cell + 1);
        if (column > 0) visit(cell - 1);
        if (cell < 992) visit(cell + 32);
        if (cell >= 32) visit(cell - 32);
    }

    const int column = x / 65536; // truncating: x in (-65536, 0) still counts as column 0
    const int row = y / 65536;
    const auto cell = static_cast<unsigned>(row * 32 + column);
    if (cell >= cell_count || dist[cell] < 0) return std::nullopt;

    // First strictly closer neighbour in the order east, west, south, north; ties keep the
    // earlier one. The north step also needs cell >= 32: a position outside the grid can
    // alias to a row-0 cell while its own row is not 0.
    unsigned best = cell;
    const auto consider = [&](unsigned next) {
        if (grid[next] == 0 && dist[next] >= 0 && dist[next] < dist[best]) best = next;
    };
    if ((column & 31) < 31) consider(cell + 1);
    if ((column & 31) > 0) consider(cell - 1);
    if (cell < 992) consider(cell + 32);
    if (row != 0 && cell >= 32) consider(cell - 32);

    // Head for the centre of that cell. The divisor is the protocol's 6.28318530718, not 2*pi:
    // due west therefore comes out as 32767.
    const double angle = std::atan2((static_cast<double>(best >> 5) + 0.5) - y / 65536.0,
                                    (static_cast<double>(best & 31) + 0.5) - x / 65536.0);
    const auto yaw = static_cast<std::int64_t>(angle * 65536 / 6.28318530718 + 65536);
    return static_cast<std::uint16_t>(yaw & 0xFFFF);
}

} // namespace kestrel
