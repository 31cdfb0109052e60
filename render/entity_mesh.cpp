#include "render/entity_mesh.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <numbers>

#include "render/atlas.h"
#include "render/primitives.h"

namespace kestrel {
namespace {

constexpr Color white{1, 1, 1, 1};
// Shared model colours.
constexpr Color armour{0.08f, 0.13f, 0.2f, 1};
constexpr Color plates{0.75f, 0.85f, 0.9f, 1};
constexpr Color cyan{0.15f, 1, 1, 1};
constexpr Color gold{1, 0.8f, 0.2f, 1};
constexpr Color orange{1, 0.65f, 0.15f, 1};

constexpr int circle_segments = 16;

// cos and sin of the 17 fan angles 0, 1/16, ..., 16/16 of a turn (the last closes the fan).
const std::array<Vec2, circle_segments + 1>& unit_circle() {
    static const auto table = [] {
        std::array<Vec2, circle_segments + 1> t{};
        for (int i = 0; i <= circle_segments; ++i) {
            const double a = 2.0 * std::numbers::pi * i / circle_segments;
            t[static_cast<std::size_t>(i)] = {static_cast<float>(std::cos(a)),
                                              static_cast<float>(std::sin(a))};
        }
        return t;
    }();
    return table;
}

struct Facing {
    float s, c; // sin a, cos a of the view direction
};

Facing facing(float yaw) {
    const double a = yaw * 2.0 * std::numbers::pi / 65536.0;
    return {static_cast<float>(std::sin(a)), static_cast<float>(std::cos(a))};
}

// Builds one model in the sprite plane through the entity's feet. Lateral offsets run along
// (-sin a, cos a), heights are above e.z. Each primitive is pushed 0.002 further toward the
// viewer than the one before, so later parts of a model always cover earlier ones without
// fighting in the depth buffer.
class Model {
  public:
    Model(std::vector<Vertex>& out, const DrawEntity& e, float yaw)
        : out_(out), e_(e), f_(facing(yaw)) {}

    // Rectangle from lateral l to l + w, from height z to z + h.
    void rect(float l, float z, float w, float h, Color color) {
        const float push = next_push();
        quad(out_, at(l, z, push), at(l + w, z, push), at(l + w, z + h, push), at(l, z + h, push),
             atlas_layer::flat, color);
    }

    // Ellipse centred at lateral l, height z, as a 16-triangle fan.
    void ellipse(float l, float z, float rl, float rz, Color color) {
        const float push = next_push();
        Vec3 rim[circle_segments + 1];
        Vec2 rim_uv[circle_segments + 1];
        for (int i = 0; i <= circle_segments; ++i) {
            const Vec2 u = unit_circle()[static_cast<std::size_t>(i)];
            rim[i] = at(l + rl * u.x, z + rz * u.y, push);
            rim_uv[i] = {0.5f + 0.5f * u.x, 0.5f - 0.5f * u.y};
        }
        // Each vertex written once, whole, into reserved room: assembling the fan on the stack
        // and copying it in costs twice as much (wide loads of narrow stores stall), and so
        // does growing the list with defaults first. Ellipses are a third of a crowded frame.
        const Vec3 centre = at(l, z, push);
        constexpr std::size_t fan = circle_segments * 3;
        constexpr float layer = atlas_layer::flat;
        make_room(out_, fan);
        for (int i = 0; i < circle_segments; ++i) {
            out_.emplace_back(centre, Vec2{0.5f, 0.5f}, color, layer);
            out_.emplace_back(rim[i], rim_uv[i], color, layer);
            out_.emplace_back(rim[i + 1], rim_uv[i + 1], color, layer);
        }
    }

    // Free rectangle lying flat at height z: from `back` tiles behind the feet (toward the
    // viewer) to the feet, half_width to each side.
    void streak(float back, float half_width, float z, Color color) {
        const float push = next_push();
        auto p = [&](float along, float l) {
            return Vec3{e_.x - f_.s * l - f_.c * (along + push),
                        e_.y + f_.c * l - f_.s * (along + push), e_.z + z};
        };
        quad(out_, p(back, -half_width), p(0, -half_width), p(0, half_width), p(back, half_width),
             atlas_layer::flat, color);
    }

    // The entity's own sprite as the first part of a model.
    void sprite(float yaw, float layer, Color color) {
        ++count_;
        billboard(out_, e_, yaw, layer, color);
    }

  private:
    float next_push() { return 0.002f * static_cast<float>(count_++); }

    Vec3 at(float l, float z, float push) const {
        return {e_.x - f_.s * l - f_.c * push, e_.y + f_.c * l - f_.s * push, e_.z + z};
    }

    std::vector<Vertex>& out_;
    const DrawEntity& e_;
    Facing f_;
    int count_ = 0;
};

// Smoke over a fresh corpse and a crackling electric spark, before any model.
void death_effect(Model& m, const DrawEntity& e, float time) {
    if (e.timer >= 1 && e.timer <= 90) {
        for (int k = 0; k < 5; ++k) {
            const float bob = 0.05f * std::sin(5 * time + static_cast<float>(k));
            m.ellipse(-0.36f + 0.18f * static_cast<float>(k), 0.22f + bob, 0.12f, 0.12f,
                      {0.035f, 0.04f, 0.06f, 1});
        }
    }
    const bool flicker = e.timer < 45 && static_cast<long long>(std::floor(12 * time)) % 7 == 0;
    if (e.timer < 7 || flicker) {
        for (int i = 0; i < 7; ++i) {
            m.rect(i % 2 == 0 ? -0.04f : 0.06f, 0.1f + 0.1f * static_cast<float>(i), 0.03f, 0.1f,
                   {0.65f, 0.85f, 1, 1});
        }
    }
}

Color suit_color(std::uint16_t state) {
    switch (state) {
    case 1:
        return {0.95f, 0.55f, 0.1f, 1};
    case 2:
        return {0.55f, 0.25f, 1, 1};
    case 3:
        return {0.2f, 0.9f, 0.35f, 1};
    case 4:
        return {1, 0.25f, 0.5f, 1};
    default:
        return {0.05f, 0.65f, 0.8f, 1};
    }
}

// Players (kind 1) and downed players (kind 5).
void figure(Model& m, const DrawEntity& e) {
    const Color suit = suit_color(e.state);
    if (e.kind == 5 || e.health == 0) { // the body lying on the floor
        m.rect(-0.35f, 0.025f, 0.7f, 0.07f, armour);
        m.rect(-0.33f, 0.035f, 0.16f, 0.05f, plates);
        m.rect(-0.12f, 0.035f, 0.4f, 0.05f, suit);
        m.rect(-0.3f, 0.05f, 0.08f, 0.02f, cyan);
    }
    m.rect(-0.16f, 0.0f, 0.12f, 0.36f, armour); // legs
    m.rect(0.04f, 0.0f, 0.12f, 0.36f, armour);
    m.rect(-0.18f, 0.0f, 0.15f, 0.06f, plates); // boots
    m.rect(0.03f, 0.0f, 0.15f, 0.06f, plates);
    m.rect(-0.15f, 0.16f, 0.1f, 0.08f, suit); // knee pads
    m.rect(0.05f, 0.16f, 0.1f, 0.08f, suit);
    m.rect(-0.2f, 0.36f, 0.4f, 0.32f, suit);     // torso
    m.rect(-0.2f, 0.36f, 0.4f, 0.05f, armour);   // belt
    m.rect(-0.13f, 0.48f, 0.26f, 0.14f, plates); // chest plate
    m.rect(-0.03f, 0.53f, 0.06f, 0.04f, cyan);   // chest light
    m.rect(-0.3f, 0.38f, 0.1f, 0.28f, suit);     // arms, the right one reaching the weapon
    m.rect(0.2f, 0.42f, 0.15f, 0.24f, suit);
    m.rect(-0.32f, 0.6f, 0.14f, 0.08f, plates); // shoulders
    m.rect(0.18f, 0.6f, 0.14f, 0.08f, plates);
    m.rect(-0.13f, 0.68f, 0.26f, 0.22f, armour); // helmet
    m.rect(-0.1f, 0.75f, 0.2f, 0.07f, cyan);     // visor
    m.rect(0.35f, 0.45f, 0.12f, 0.08f, gold);    // weapon
}

// Kind 2 enemies with models of their own; false for the types drawn as plain sprites.
bool enemy(Model& m, const DrawEntity& e, float yaw) {
    const bool dead = e.health == 0;
    switch (e.type) {
    case 14: // stalker: the creature sprite in magenta with glowing eyes
        m.sprite(yaw, atlas_layer::creature, {0.9f, 0.22f, 0.65f, 1});
        if (!dead) {
            m.rect(-0.12f, 0.72f, 0.07f, 0.05f, {1, 0.9f, 0.3f, 1});
            m.rect(0.05f, 0.72f, 0.07f, 0.05f, {1, 0.9f, 0.3f, 1});
        }
        return true;
    case 15: { // spitter: a squat sac on short legs
        const Color sac{0.35f, 0.55f, 0.3f, 1};
        if (dead) {
            m.rect(-0.35f, 0.02f, 0.7f, 0.12f, sac);
            return true;
        }
        m.rect(-0.25f, 0.0f, 0.5f, 0.2f, {0.2f, 0.26f, 0.2f, 1});
        m.ellipse(0, 0.45f, 0.3f, 0.25f, sac);
        m.rect(-0.1f, 0.4f, 0.2f, 0.06f, {0.95f, 0.85f, 0.3f, 1});
        return true;
    }
    case 16:
    case 17:
    case 18:
    case 19:
        break;
    default:
        return false;
    }

    static constexpr Color bodies[4] = {
        {0.12f, 0.16f, 0.22f, 1}, // 16
        {0.55f, 0.12f, 0.1f, 1},  // 17
        {0.25f, 0.32f, 0.18f, 1}, // 18
        {0.3f, 0.3f, 0.33f, 1},   // 19
    };
    const Color body = bodies[e.type - 16];
    if (dead) {
        m.rect(-0.35f, 0.02f, 0.7f, 0.12f, body);
        return true;
    }
    m.rect(-0.2f, 0.1f, 0.4f, 0.55f, body);
    m.ellipse(0, 0.78f, 0.15f, 0.13f, body);
    switch (e.type) {
    case 16:
    case 17: {
        const Color mark = e.type == 16 ? Color{0.15f, 0.5f, 0.9f, 1} : white;
        m.rect(-0.09f, 0.77f, 0.06f, 0.04f, mark);
        m.rect(0.03f, 0.77f, 0.06f, 0.04f, mark);
        if (e.marked == 1) m.ellipse(0, 0.98f, 0.05f, 0.05f, {1, 1, 0.5f, 1});
        break;
    }
    case 18:
        m.rect(-0.09f, 0.77f, 0.06f, 0.04f, {1, 0.85f, 0.3f, 1});
        m.rect(0.03f, 0.77f, 0.06f, 0.04f, {1, 0.85f, 0.3f, 1});
        if (e.marked == 1) m.ellipse(0, 0.4f, 0.08f, 0.08f, {1, 0.2f, 0.1f, 1});
        break;
    default: // 19
        m.rect(-0.2f, 0.3f, 0.4f, 0.08f, {0.5f, 0.3f, 0.04f, 1});
        m.rect(-0.1f, 0.76f, 0.2f, 0.04f, {1, 1, 0.3f, 1});
        break;
    }
    return true;
}

// Kind 18, the sector sentinel. Dormant (state other than 1) it is only its base.
void sentinel(Model& m, const DrawEntity& e) {
    m.rect(-0.55f, 0.0f, 1.1f, 0.25f, {0.16f, 0.18f, 0.22f, 1});
    if (e.state != 1) return;
    m.rect(-0.5f, 0.25f, 1.0f, 0.07f, {1, 0.7f, 0.1f, 1});
    m.ellipse(0, 0.85f, 0.48f, 0.5f, {0.26f, 0.28f, 0.34f, 1});
    // While charging (marked) the core swells as the countdown runs from 90 toward 30. Long
    // countdowns would make the factor negative, i.e. a mirrored, ever larger disc, so it
    // stops at nothing.
    float scale = 1;
    if (e.marked == 1) {
        scale = std::max(0.0f, 0.95f + 0.65f * (static_cast<float>(e.timer) - 90.0f) / -60.0f);
    }
    m.ellipse(0, 0.9f, 0.2f * scale, 0.2f * scale, {1, 0.2f, 0.1f, 1});
    m.ellipse(0, 0.9f, 0.07f, 0.07f, {1, 0.85f, 0.4f, 1});
    if (e.timer >= 150 && e.timer <= 164) m.rect(-0.5f, 1.4f, 1.0f, 0.06f, {1, 0.9f, 0.3f, 1});
}

void pickup(std::vector<Vertex>& out, const DrawEntity& e, float yaw) {
    const Facing f = facing(yaw);
    auto bar = [&](float l0, float l1, float z0, float z1, float push, Color color) {
        auto p = [&](float l, float z) {
            return Vec3{e.x - f.s * l - f.c * push, e.y + f.c * l - f.s * push, e.z + z};
        };
        quad(out, p(l0, z0), p(l1, z0), p(l1, z1), p(l0, z1), atlas_layer::flat, color);
    };
    bar(-0.2f, 0.2f, 0.08f, 0.4f, 0, {0.12f, 0.15f, 0.18f, 1});
    if (e.type == 4) { // health: a green cross
        constexpr Color green{0.3f, 1, 0.3f, 1};
        bar(-0.04f, 0.04f, 0.12f, 0.36f, 0.002f, green);
        bar(-0.12f, 0.12f, 0.2f, 0.28f, 0.004f, green);
    } else { // ammunition: three rounds
        bar(-0.13f, -0.07f, 0.13f, 0.33f, 0.002f, orange);
        bar(-0.03f, 0.03f, 0.13f, 0.33f, 0.004f, orange);
        bar(0.07f, 0.13f, 0.13f, 0.33f, 0.006f, orange);
    }
}

Color enemy_tint(const DrawEntity& e) {
    if (e.kind != 2) return white;
    if (e.type == 8) return {0.6f, 0.35f, 0.75f, 1};
    if (e.type == 3) return {0.5f, 0.7f, 1, 1};
    return {1, 0.4f, 0.3f, 1};
}

// Directions of the five debris sparks, a fifth of a turn apart.
constexpr Vec2 debris_directions[5] = {
    {1, 0},
    {0.30962276f, 0.9508595f},
    {-0.8082675f, 0.5888155f},
    {-0.8101388f, -0.5862381f},
    {0.3065926f, -0.9518408f},
};

} // namespace

void billboard(std::vector<Vertex>& out, const DrawEntity& e, float yaw, float layer, Color color) {
    const bool alive = e.health != 0;
    float w = alive ? 0.55f : 0.7f;
    float h = alive ? 0.8f : 0.16f;
    if (e.kind == 2 && (e.type == 8 || e.type == 14)) {
        w = 1.0f;
        h = alive ? 0.98f : 0.2f;
    }
    if (e.kind == 3) w = 0.45f, h = 0.4f;
    if (e.kind == 4) w = 0.12f, h = 0.12f;

    const Facing f = facing(yaw);
    const float px0 = e.x + f.s * w / 2, py0 = e.y - f.c * w / 2;
    const float px1 = e.x - f.s * w / 2, py1 = e.y + f.c * w / 2;
    const float z0 = e.z, z1 = e.z + h;
    quad(out, {px0, py0, z0}, {px1, py1, z0}, {px1, py1, z1}, {px0, py0, z1}, layer, color);
}

bool special_entity(std::vector<Vertex>& out, const DrawEntity& e, float yaw, float time) {
    Model m(out, e, yaw);
    if (e.kind != 1 && e.health == 0) death_effect(m, e, time);

    switch (e.kind) {
    case 1:
    case 5:
        figure(m, e);
        return true;
    case 2:
        return enemy(m, e, yaw);
    case 4: // projectile: a tracer trailing toward the viewer and a bright head
        m.streak(1.1f, 0.025f, 0.06f, orange);
        m.rect(-0.06f, 0.0f, 0.12f, 0.12f, {1, 0.9f, 0.55f, 1});
        return true;
    case 8: { // explosive barrel
        m.rect(-0.22f, 0.0f, 0.44f, 0.62f, {0.35f, 0.15f, 0.08f, 1});
        constexpr Color band{1, 0.65f, 0.06f, 1};
        m.rect(-0.24f, 0.1f, 0.48f, 0.06f, band);
        m.rect(-0.24f, 0.46f, 0.48f, 0.06f, band);
        constexpr Color slot{0.03f, 0.03f, 0.03f, 1};
        m.rect(-0.2f, 0.26f, 0.055f, 0.12f, slot);
        m.rect(-0.05f, 0.26f, 0.055f, 0.12f, slot);
        m.rect(0.1f, 0.26f, 0.055f, 0.12f, slot);
        return true;
    }
    case 9: { // floor pad with a rim lit by its state
        m.rect(-0.38f, 0.0f, 0.76f, 0.1f, {0.18f, 0.3f, 0.34f, 1});
        Color rim = e.state == 1   ? Color{0.2f, 1, 0.6f, 1}
                    : e.state == 2 ? Color{1, 0.75f, 0.2f, 1}
                                   : Color{0.3f, 0.55f, 0.65f, 1};
        if (e.health == 0) rim = {0.35f, 0.08f, 0.05f, 1};
        m.rect(-0.4f, 0.1f, 0.8f, e.health == 0 ? 0.02f : 0.04f, rim);
        return true;
    }
    case 10: { // pulsing orb over a bobbing core
        const Color orb = e.state == 1   ? Color{1, 0.8f, 0.1f, 1}
                          : e.state == 2 ? Color{1, 0.2f, 0.05f, 1}
                          : e.state == 3 ? Color{0.3f, 1, 0.4f, 1}
                                         : Color{0.2f, 0.6f, 1, 1};
        const float r = 0.16f + 0.02f * std::sin(6 * time);
        m.ellipse(0, 0.5f, r, r, orb);
        const float bob = 0.05f * std::sin(4 * time);
        m.rect(-0.035f, 0.4f + bob, 0.07f, 0.2f, {0.9f, 0.95f, 1, 1});
        return true;
    }
    case 11: { // console
        m.rect(-0.25f, 0.0f, 0.5f, 0.55f, {0.12f, 0.19f, 0.23f, 1});
        m.rect(-0.2f, 0.3f, 0.4f, 0.2f,
               e.state != 0 ? Color{0.7f, 0.3f, 1, 1} : Color{0.1f, 0.9f, 0.75f, 1});
        m.rect(-0.025f, 0.55f, 0.05f, 0.25f, {0.65f, 0.8f, 0.85f, 1});
        m.rect(-0.16f, 0.12f, 0.07f, 0.06f, {0.9f, 0.65f, 0.1f, 1});
        m.rect(-0.04f, 0.12f, 0.07f, 0.06f, {0.9f, 0.65f, 0.1f, 1});
        return true;
    }
    case 12: { // relay plate between two emitters
        m.rect(-0.4f, 0.0f, 0.8f, 0.1f, {0.1f, 0.7f, 0.5f, 1});
        m.rect(-0.4f, 0.0f, 0.09f, 0.5f, {0.2f, 1, 0.7f, 1});
        m.rect(0.31f, 0.0f, 0.09f, 0.5f, {0.2f, 1, 0.7f, 1});
        return true;
    }
    case 13: { // supply crate
        m.rect(-0.45f, 0.0f, 0.9f, 0.45f, {0.18f, 0.22f, 0.25f, 1});
        constexpr Color slat{0.55f, 0.35f, 0.15f, 1};
        m.rect(-0.35f, 0.04f, 0.07f, 0.37f, slat);
        m.rect(-0.12f, 0.04f, 0.07f, 0.37f, slat);
        m.rect(0.11f, 0.04f, 0.07f, 0.37f, slat);
        return true;
    }
    case 14: { // beacon on a post with a charge gauge
        const Color red{1, 0.15f, 0.04f, 1}, amber{1, 0.65f, 0.1f, 1};
        m.rect(-0.03f, 0.0f, 0.06f, 0.7f, {1, 0.35f, 0.05f, 1});
        m.rect(-0.44f, 0.0f, 0.035f, 0.5f, {0.3f, 1, 1, 1});
        m.ellipse(0, 0.82f, 0.14f, 0.14f, e.state == 1 ? amber : red);
        m.ellipse(0, 0.82f, 0.07f, 0.07f, e.state == 1 ? red : amber);
        return true;
    }
    case 15:
    case 16: { // small canister; the inner colour tells the two kinds apart
        m.rect(-0.16f, 0.0f, 0.32f, 0.32f, {0.12f, 0.25f, 0.28f, 1});
        m.rect(-0.12f, 0.04f, 0.24f, 0.24f,
               e.kind == 15 ? Color{0.3f, 1, 0.45f, 1} : Color{1, 0.7f, 0.2f, 1});
        return true;
    }
    case 17: { // switch post
        if (e.health == 0) {
            m.rect(-0.2f, 0.0f, 0.4f, 0.12f, {0.06f, 0.07f, 0.08f, 1});
            return true;
        }
        const Color color = e.state == 1   ? Color{0.2f, 0.75f, 1, 1}
                            : e.state == 2 ? Color{1, 0.6f, 0.15f, 1}
                                           : Color{0.12f, 0.16f, 0.2f, 1};
        m.rect(-0.2f, 0.0f, 0.4f, 0.5f, color);
        return true;
    }
    case 18:
        sentinel(m, e);
        return true;
    default:
        return false;
    }
}

Color weapon_color(std::uint16_t weapon, std::uint8_t skin) {
    switch (skin) {
    case 1:
        return {1, 0.65f, 0.22f, 1};
    case 2:
        return {0.65f, 0.4f, 1, 1};
    case 3:
        return {0.3f, 1, 0.5f, 1};
    case 4:
        return {1, 0.25f, 0.5f, 1};
    default:
        break;
    }
    if (weapon == 3) return {0.65f, 0.8f, 1, 1};
    if (weapon == 2) return {0.85f, 0.7f, 0.5f, 1};
    return white;
}

void portal_markers(std::vector<Vertex>& out, const Sector& sector, float yaw, float time) {
    for (const Portal& portal : sector.portals) {
        if ((portal.link_flags & 1) == 0) continue;
        DrawEntity ring;
        ring.x = static_cast<float>(portal.cell & 31) + 0.5f;
        ring.y = static_cast<float>(portal.cell >> 5) + 0.5f;
        ring.health = 1;
        ring.kind = 1;
        const bool challenge = portal.target != 1 && splitmix_finalizer(portal.target) % 5 == 0;
        const Color color = challenge ? Color{0.25f, 0.1f, 1, 1}
                                      : Color{1, 1, 0.65f + 0.35f * std::sin(4 * time), 1};
        billboard(out, ring, yaw, atlas_layer::portal, color);
    }
}

void entity_pass(std::vector<Vertex>& out, std::span<const DrawEntity> entities,
                 const Sector& sector, float yaw, float time) {
    for (const DrawEntity& e : entities) {
        if (special_entity(out, e, yaw, time)) continue;
        if (e.kind == 3) {
            pickup(out, e, yaw);
            continue;
        }
        Color tint = enemy_tint(e);
        if (e.marked == 1) {
            DrawEntity star = e;
            star.z += 0.45f;
            star.kind = 4;
            billboard(out, star, yaw, atlas_layer::spark, white);
            tint = {1, 1, 0.5f, 1};
        }
        billboard(out, e, yaw, e.kind == 4 ? atlas_layer::spark : atlas_layer::creature, tint);
        if (e.health == 0 && e.death_age < 0.6f) {
            const float r = e.death_age;
            for (const Vec2 d : debris_directions) {
                DrawEntity spark = e;
                spark.kind = 4;
                spark.health = 1;
                spark.x = e.x + r * d.x;
                spark.y = e.y + r * d.y;
                spark.z = e.z + 0.4f * r + 0.2f;
                billboard(out, spark, yaw, atlas_layer::spark, {1, 0.3f, 0.1f, 1});
            }
        }
    }
    portal_markers(out, sector, yaw, time);
}

} // namespace kestrel
