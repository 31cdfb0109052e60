#include "render/entity_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrel {
namespace {

constexpr float east = 0;      // view toward +x: lateral axis +y, the viewer on the -x side
constexpr float south = 16384; // view toward +y: lateral axis -x

DrawEntity entity(std::uint8_t kind, std::uint16_t type = 0, std::uint16_t health = 100) {
    DrawEntity e;
    e.x = 10.5f;
    e.y = 4.25f;
    e.z = 0.5f;
    e.kind = kind;
    e.type = type;
    e.health = health;
    return e;
}

std::vector<Vertex> pass(const std::vector<DrawEntity>& entities, const Sector& sector = {},
                         float yaw = east, float time = 0) {
    std::vector<Vertex> out;
    entity_pass(out, entities, sector, yaw, time);
    return out;
}

struct Rect {
    Vec3 c0, c1, c2, c3;
    float layer;
    Color color;
    float width() const { return std::hypot(c1.x - c0.x, c1.y - c0.y); }
    float height() const { return c3.z - c0.z; }
    float mid_x() const { return (c0.x + c1.x) / 2; }
    float mid_y() const { return (c0.y + c1.y) / 2; }
};

Rect rect(const std::vector<Vertex>& out, std::size_t quad) {
    const Vertex* v = &out[quad * 6];
    return {v[0].position, v[1].position, v[2].position, v[5].position, v[0].layer, v[0].color};
}

TEST(Billboard, StandsOnTheFeetAcrossTheViewDirection) {
    std::vector<Vertex> out;
    billboard(out, entity(6), east, 4, {});
    ASSERT_EQ(out.size(), 6u);
    Rect r = rect(out, 0);
    EXPECT_EQ(r.c0, (Vec3{10.5f, 4.25f - 0.275f, 0.5f}));
    EXPECT_EQ(r.c2, (Vec3{10.5f, 4.25f + 0.275f, 1.3f}));
    out.clear();
    billboard(out, entity(6), south, 4, {});
    r = rect(out, 0);
    EXPECT_NEAR(r.c0.x, 10.5f + 0.275f, 1e-5f);
    EXPECT_NEAR(r.c1.x, 10.5f - 0.275f, 1e-5f);
    EXPECT_NEAR(r.c0.y, 4.25f, 1e-5f);
}

TEST(EntityPass, SpriteSizesAndTints) {
    struct Case {
        DrawEntity e;
        float w, h;
        Color color;
    };
    const Color white{1, 1, 1, 1}, purple{0.6f, 0.35f, 0.75f, 1};
    const Case cases[] = {
        {entity(6), 0.55f, 0.8f, white},
        {entity(6, 8), 0.55f, 0.8f, white},
        {entity(2, 8, 250), 1.0f, 0.98f, purple},
        {entity(2, 3), 0.55f, 0.8f, {0.5f, 0.7f, 1, 1}},
        {entity(2, 1), 0.55f, 0.8f, {1, 0.4f, 0.3f, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.e.kind) << " " << c.e.type);
        const auto out = pass({c.e});
        ASSERT_EQ(out.size(), 6u);
        EXPECT_EQ(rect(out, 0).layer, 4);
        EXPECT_NEAR(rect(out, 0).width(), c.w, 1e-5f);
        EXPECT_NEAR(rect(out, 0).height(), c.h, 1e-5f);
        EXPECT_EQ(rect(out, 0).color, c.color);
    }
    // Dead sizes of the billboard itself, which kinds 2 (type 14), 3 and 4 never reach here.
    for (const auto& [e, w, h] : {std::tuple{entity(2, 14, 0), 1.0f, 0.2f},
                                  {entity(3, 8, 0), 0.45f, 0.4f},
                                  {entity(4, 8, 0), 0.12f, 0.12f}}) {
        std::vector<Vertex> out;
        billboard(out, e, 1234, 4, {});
        EXPECT_NEAR(rect(out, 0).width(), w, 1e-5f) << int(e.kind);
        EXPECT_NEAR(rect(out, 0).height(), h, 1e-5f) << int(e.kind);
    }
}

TEST(EntityPass, DeadModellessEntityLiesFlatAndThrowsFiveSparks) {
    DrawEntity e = entity(6, 1, 0);
    e.timer = 100; // past the smoke and the electric spark
    e.death_age = 0.25f;
    const auto out = pass({e});
    ASSERT_EQ(out.size(), 6u * 6);
    const Rect body = rect(out, 0);
    EXPECT_EQ(body.layer, 4);
    EXPECT_NEAR(body.width(), 0.7f, 1e-5f);
    EXPECT_NEAR(body.height(), 0.16f, 1e-5f);
    EXPECT_EQ(body.c0.z, 0.5f);
    const float dx[5] = {1, 0.30962276f, -0.8082675f, -0.8101388f, 0.3065926f};
    const float dy[5] = {0, 0.9508595f, 0.5888155f, -0.5862381f, -0.9518408f};
    for (int i = 0; i < 5; ++i) {
        const Rect spark = rect(out, 1 + i);
        EXPECT_EQ(spark.layer, 7);
        EXPECT_EQ(spark.color, (Color{1, 0.3f, 0.1f, 1}));
        EXPECT_NEAR(spark.width(), 0.12f, 1e-5f);
        EXPECT_NEAR(spark.mid_x(), 10.5f + 0.25f * dx[i], 1e-5f);
        EXPECT_NEAR(spark.mid_y(), 4.25f + 0.25f * dy[i], 1e-5f);
        EXPECT_NEAR(spark.c0.z, 0.5f + 0.1f + 0.2f, 1e-5f);
    }
    e.death_age = 0.6f; // the burst is over
    EXPECT_EQ(pass({e}).size(), 6u);
}

TEST(EntityPass, DeathEffectsFollowTheCountdown) {
    DrawEntity e = entity(6, 1, 0);
    const auto effects = [&](std::uint16_t timer, float time) {
        e.timer = timer;
        std::vector<Vertex> out;
        EXPECT_FALSE(special_entity(out, e, east, time));
        return out;
    };
    auto out = effects(50, 0.1f); // smoke only: five 48-vertex ellipses before the corpse
    EXPECT_EQ(out.size(), 5u * 48);
    EXPECT_EQ(out[0].color, (Color{0.035f, 0.04f, 0.06f, 1}));
    out = effects(3, 0.1f); // smoke and the zig-zag spark of seven bars
    ASSERT_EQ(out.size(), 5u * 48 + 7 * 6);
    EXPECT_EQ(out.back().color, (Color{0.65f, 0.85f, 1, 1}));
    // Later the spark flickers on when floor(12 t) is a multiple of 7.
    EXPECT_EQ(effects(20, 7.0f / 12 + 0.01f).size(), 5u * 48 + 7 * 6);
    EXPECT_EQ(effects(20, 8.0f / 12 + 0.01f).size(), 5u * 48);
}

TEST(EntityPass, MarkedPurpleBruteTurnsYellowUnderAWhiteStar) {
    DrawEntity e = entity(2, 8, 250);
    e.marked = 1;
    const auto out = pass({e});
    ASSERT_EQ(out.size(), 12u);
    const Rect star = rect(out, 0), body = rect(out, 1);
    EXPECT_EQ(star.layer, 7);
    EXPECT_EQ(star.color, (Color{1, 1, 1, 1}));
    EXPECT_NEAR(star.c0.z, 0.5f + 0.45f, 1e-6f);
    EXPECT_NEAR(star.width(), 0.12f, 1e-5f);
    EXPECT_EQ(body.color, (Color{1, 1, 0.5f, 1}));
    EXPECT_NEAR(body.width(), 1.0f, 1e-5f);
}

TEST(EntityPass, PickupsAreFlatSymbolsPushedTowardTheViewer) {
    const auto health = pass({entity(3, 4)});
    ASSERT_EQ(health.size(), 3u * 6);
    const auto ammo = pass({entity(3, 1)});
    ASSERT_EQ(ammo.size(), 4u * 6);
    for (const auto* out : {&health, &ammo})
        for (const Vertex& v : *out) EXPECT_EQ(v.layer, 0);
    EXPECT_EQ(rect(health, 0).color, (Color{0.12f, 0.15f, 0.18f, 1}));
    EXPECT_EQ(rect(health, 1).color, (Color{0.3f, 1, 0.3f, 1}));
    EXPECT_EQ(rect(ammo, 3).color, (Color{1, 0.65f, 0.15f, 1}));
    EXPECT_FLOAT_EQ(rect(health, 0).c0.x, 10.5f);
    EXPECT_FLOAT_EQ(rect(health, 1).c0.x, 10.5f - 0.002f);
    EXPECT_FLOAT_EQ(rect(health, 2).c0.x, 10.5f - 0.004f);
    EXPECT_FLOAT_EQ(rect(ammo, 3).c0.x, 10.5f - 0.006f);
    EXPECT_NEAR(rect(health, 2).width(), 0.24f, 1e-5f); // horizontal bar of the cross
    EXPECT_NEAR(rect(health, 0).c0.z, 0.5f + 0.08f, 1e-6f);
}

TEST(EntityPass, OnlyOpenPortalsGetARingAfterAllEntities) {
    Sector sector;
    Portal open;
    open.cell = 3 * 32 + 7;
    open.target = 1;
    open.link_flags = 3;
    Portal closed = open;
    closed.link_flags = 2;
    Portal challenge = open; // a destination that hashes to a challenge sector
    challenge.cell = 31 * 32;
    challenge.link_flags = 1;
    challenge.target = 2;
    while (splitmix_finalizer(challenge.target) % 5 != 0) ++challenge.target;
    Portal plain = challenge;
    plain.target = challenge.target + 1;
    while (splitmix_finalizer(plain.target) % 5 == 0) ++plain.target;
    sector.portals = {open, closed, challenge, plain};
    const float time = 0.3f;
    const auto out = pass({entity(6)}, sector, east, time);
    ASSERT_EQ(out.size(), 6u + 3 * 6);
    const Rect ring = rect(out, 1);
    EXPECT_EQ(ring.layer, 5);
    EXPECT_NEAR(ring.width(), 0.55f, 1e-5f);
    EXPECT_NEAR(ring.height(), 0.8f, 1e-5f);
    EXPECT_FLOAT_EQ(ring.mid_x(), 7.5f);
    EXPECT_FLOAT_EQ(ring.mid_y(), 3.5f);
    EXPECT_EQ(ring.c0.z, 0);
    const Color pulse{1, 1, 0.65f + 0.35f * std::sin(4 * time), 1};
    EXPECT_EQ(ring.color, pulse);
    EXPECT_FLOAT_EQ(rect(out, 2).mid_y(), 31.5f);
    EXPECT_EQ(rect(out, 2).color, (Color{0.25f, 0.1f, 1, 1}));
    EXPECT_EQ(rect(out, 3).color, pulse);
}

TEST(SpecialEntity, ModelsAndTheirSizes) {
    struct Case {
        DrawEntity e;
        bool drawn;
        std::size_t vertices;
    };
    DrawEntity downed = entity(5, 0, 0);
    downed.timer = 6; // smoke and spark, then the lying body and the figure
    DrawEntity dormant = entity(18);
    DrawEntity awake = entity(18);
    awake.state = 1;
    DrawEntity warning = awake;
    warning.timer = 150;
    const Case cases[] = {
        {entity(1), true, 17 * 6},
        {entity(1, 0, 0), true, 21 * 6}, // players never smoke: the lying body and the figure
        {downed, true, 5 * 48 + 7 * 6 + 21 * 6},
        {entity(2, 8), false, 0},
        {entity(2, 16), true, 6 + 48 + 2 * 6},
        {entity(2, 19, 0), true, 7 * 6 + 6}, // timer 0: the spark, then the flat corpse
        {entity(3), false, 0},               // pickups are drawn as symbols instead
        {entity(4), true, 2 * 6},
        {entity(6), false, 0},
        {entity(8), true, 6 * 6},
        {entity(9), true, 2 * 6},
        {entity(10), true, 48 + 6},
        {entity(11), true, 5 * 6},
        {entity(12), true, 3 * 6},
        {entity(13), true, 4 * 6},
        {entity(14), true, 2 * 48 + 2 * 6},
        {entity(15), true, 2 * 6},
        {entity(16), true, 2 * 6},
        {entity(17), true, 6},
        {dormant, true, 6},
        {awake, true, 2 * 6 + 3 * 48},
        {warning, true, 3 * 6 + 3 * 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.e.kind) << " " << c.e.type);
        std::vector<Vertex> out;
        EXPECT_EQ(special_entity(out, c.e, east, 0), c.drawn);
        EXPECT_EQ(out.size(), c.vertices);
        for (const Vertex& v : out) ASSERT_EQ(v.layer, 0);
    }
}

TEST(SpecialEntity, LaterPartsLieInFrontAndThePlayerCarriesSuitAndWeapon) {
    std::vector<Vertex> out;
    ASSERT_TRUE(special_entity(out, entity(8), south, 0)); // viewer on the -y side
    for (std::size_t i = 0; i < 6; ++i) {
        const Rect r = rect(out, i);
        EXPECT_NEAR(r.c0.y, 4.25f - 0.002f * static_cast<float>(i), 1e-6f) << i;
        EXPECT_EQ(r.c0.y, r.c2.y); // flat, facing the viewer
    }
    EXPECT_NEAR(rect(out, 0).width(), 0.44f, 1e-5f);
    EXPECT_EQ(rect(out, 0).color, (Color{0.35f, 0.15f, 0.08f, 1}));

    DrawEntity e = entity(1);
    e.state = 2;
    out.clear();
    special_entity(out, e, east, 0);
    EXPECT_TRUE(std::any_of(out.begin(), out.end(), [](const Vertex& v) {
        return v.color == Color{0.55f, 0.25f, 1, 1};
    }));
    const Rect weapon = rect(out, 16); // last part: the gold weapon on the right
    EXPECT_EQ(weapon.color, (Color{1, 0.8f, 0.2f, 1}));
    EXPECT_NEAR(weapon.c0.y, 4.25f + 0.35f, 1e-5f);
    EXPECT_NEAR(weapon.c1.y, 4.25f + 0.47f, 1e-5f);
}

TEST(SpecialEntity, ChargingSentinelCoreScaleIsClampedAndNeverTurnsInsideOut) {
    DrawEntity e = entity(18);
    e.state = 1;
    e.marked = 1;
    auto core_radius = [&](std::uint16_t timer) {
        e.timer = timer;
        std::vector<Vertex> out;
        special_entity(out, e, east, 0);
        const Vertex* core = &out[2 * 6 + 48]; // after base, band and body
        float r = 0;
        for (int i = 0; i < 48; ++i) r = std::max(r, std::abs(core[i].position.y - 4.25f));
        // The first rim point of the fan lies at angle 0: right of the centre, not left.
        EXPECT_GE(core[1].position.y, 4.25f);
        return r;
    };
    EXPECT_NEAR(core_radius(90), 0.2f * 0.95f, 1e-5f);
    EXPECT_NEAR(core_radius(30), 0.2f * 1.6f, 1e-5f);
    EXPECT_NEAR(core_radius(1000), 0, 1e-6f);
}

TEST(WeaponColor, SkinWinsOverWeapon) {
    const std::tuple<unsigned, unsigned, Color> cases[] = {
        {3, 1, {1, 0.65f, 0.22f, 1}}, {1, 2, {0.65f, 0.4f, 1, 1}}, {2, 3, {0.3f, 1, 0.5f, 1}},
        {4, 4, {1, 0.25f, 0.5f, 1}},  {3, 0, {0.65f, 0.8f, 1, 1}}, {2, 5, {0.85f, 0.7f, 0.5f, 1}},
        {1, 0, {1, 1, 1, 1}},         {4, 0, {1, 1, 1, 1}},
    };
    for (const auto& [weapon, skin, color] : cases)
        EXPECT_EQ(weapon_color(weapon, skin), color) << weapon << " " << skin;
}

} // namespace
} // namespace kestrel
