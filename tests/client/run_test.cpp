// Options, the binary's output, the profile, packet routing and the loop on real ENet hosts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <thread>
#include <unistd.h>
#include <vector>

#include "client/defaults.h"
#include "client/loop.h"
#include "client/options.h"
#include "client/profile.h"
#include "client/router.h"
#include "client/run_stats.h"
#include "session/handoff_messages.h"
#include "tests/support/errors.h"
#include "tests/support/process.h"
#include "world/generate.h"

namespace kestrel {
namespace {

using Args = std::vector<std::string>;

// "no error" (and the options), or what the parse or the run-mode check threw; '|' separates.
std::string parse(const std::string& line, Options* parsed = nullptr) {
    Args args{"client"};
    for (std::size_t from = 0, bar = 0; bar != std::string::npos; from = bar + 1)
        args.push_back(line.substr(from, (bar = line.find('|', from)) - from));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    try {
        const Options options = parse_options(static_cast<int>(argv.size()), argv.data());
        check_options(options);
        if (parsed) *parsed = options;
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

const std::string range = "option out of range", value = "missing option value",
                  headless = "headless mode cannot capture GPU frames",
                  server = "-s requires IPv4-address-or-hostname:port (1..65535)";

TEST(CommandLine, RefusedArgumentsEndWithTheirMessage) {
    // clang-format off
    std::vector<std::pair<std::string, std::string>> cases = {
        {"--bogus", value}, {"--bogus|1", "unknown option --bogus"}, {"|x", "unknown option "}, {"--port|abc", "stoul"},
        {"--capture-wormhole|w.png|--headless", headless}, {"--capture||--capture|x.png|--headless", headless},
        {"--capture|x.png|--capture||--headless", "no error"}, // the last one wins
        {"--headless|--demo|--require-commits|1", "demo cannot commit network transitions"},
        {"-s|10.0.0.5:0", range}, {"-s|10.0.0.5:65536", range}};
    // clang-format on
    for (const char* value : {":7777", "10.0.0.5:", "10.0.0.5:77:77", "10.0.0.5:77a7", "10.0.0.5",
                              "h :1", "h\t:1", "h\n:1", "h\r:1"})
        cases.push_back({"-s|" + std::string(value), server}); // the shape before the port
    // Each limit from both sides: option, the last value inside, the first one outside.
    std::istringstream limits(
        "--port 1 0 --port 65535 65536 --weapon 1 0 --weapon 4 5 --frames 1 0 --frames 1000000 "
        "1000001 --seconds 1 0 --seconds 3600 3601 --latency-ms 0 -1 --latency-ms 150 151 "
        "--drop-every 2 1 --drop-every 1000 1001 --require-commits 1 0 --require-commits 10000 "
        "10001 --port 80 80abc --frames 1 99999999999999999999999");
    for (std::string option, inside, outside; limits >> option >> inside >> outside;) {
        cases.push_back({option + "|" + inside, "no error"});
        cases.push_back({option + "|" + outside, range});
    }
    for (const auto& [args, message] : cases) EXPECT_EQ(parse(args), message) << args;
}

TEST(CommandLine, AcceptedValuesLandInTheirFields) {
    Options o;
    ASSERT_EQ(parse("-s|play.example.org:65535|--weapon|3|--frames|1000000|--seconds|3600|"
                    "--latency-ms|150|--drop-every|2|--require-commits|10000|--profile-file|p.bin|"
                    "--capture|c.png|--capture-wormhole|w.png|--hidden|--auto-combat|--auto-portal|"
                    "--name|abcdefghijklmnopqrst|--party|abcdefghijklmnop", // cut to their fields
                    &o),
              "no error");
    EXPECT_EQ(std::tie(o.host, o.port, o.weapon, o.frames, o.seconds, o.latency_ms, o.drop_every,
                       o.require_commits, o.profile_file, o.capture, o.capture_wormhole, o.name,
                       o.party),
              std::make_tuple("play.example.org", 65535u, 3u, 1000000u, 3600u, 150u, 2u, 10000u,
                              "p.bin", "c.png", "w.png", "ABCDEFGHIJKLMNOP", "ABCDEFGHIJKL"));
    EXPECT_TRUE(o.hidden && o.auto_combat && o.auto_portal && !o.demo && !o.headless);
    ASSERT_EQ(parse("--port|9|--host|--demo|-l", &(o = Options{})), "no error"); // -l: both
    EXPECT_EQ(std::tie(o.host, o.port, o.weapon, o.demo),
              std::make_tuple("127.0.0.1", 7777u, 1u, false));
}

TEST(CommandLine, TheBinaryPrintsUsageErrorsAndTheSummaryAndTheRunEndIsChecked) {
    RunStats stats; // every counter but the frames stays 0 without a server
    stats.frames = 1;
    const std::string zero = summary_line(stats, 0, 0, 0, 0.0);
    // --help ends the run at once, but an earlier error wins; -l replaces the unresolvable name.
    const std::tuple<Args, int, std::string, std::string> runs[] = {
        {{"--help", "--frames", "0", "-x"}, 0, "client [-l] [-s IP:PORT] [--host", ""},
        {{"--frames", "0", "--help"}, 1, "", "client: " + range + "\n"},
        {{"--headless", "--host", "no-such-host.invalid", "-l", "--frames", "1"}, 0, zero, ""},
        {{"--demo", "--headless", "--seconds", "1"}, 0, "Client stopped: frames=", ""}};
    for (const auto& [args, status, out, err] : runs) {
        const test::Outcome outcome = test::run(KESTREL_CLIENT_BIN, args, std::chrono::seconds(30));
        EXPECT_EQ(std::make_tuple(outcome.status, outcome.out.substr(0, out.size()), outcome.err),
                  std::tie(status, out, err)); // the usage line, only its start
    }
    const std::string commits = "required sector commits not reached", none = "no error";
    // commits, snapshots, require_commits, demo, seconds: what the end of the run says.
    const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, bool, std::uint32_t, std::string>
        cases[] = {{0, 0, 0, false, 0, none},
                   {3, 1, 3, false, 10, none},
                   {2, 5, 3, false, 0, commits},
                   {0, 0, 0, true, 5, none},
                   {0, 0, 0, false, 5, "no complete authoritative snapshots received"}};
    for (const auto& [commit_count, snapshot_count, required, demo, seconds, failure] : cases) {
        std::tie(stats.commits, stats.snapshots) = std::tie(commit_count, snapshot_count);
        EXPECT_EQ(test::error_of([&] { check_run_end(stats, required, demo, seconds); }), failure);
    }
}

namespace fs = std::filesystem;

Bytes read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

TEST(Profile, RecordsOptionsSavesAndPaths) {
    std::string pattern = (fs::temp_directory_path() / "kestrel-profile-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr); // a directory of its own
    const fs::path dir = pattern;
    const std::string path = (dir / "profile.bin").string();
    Credentials stored{{}, "ALICE", "CREW9", 3};
    stored.token[5] = 0xA5;
    Bytes bytes = stored.write().bytes; // a bad party: the defaults, the token kept, rewritten
    bytes[33] = '-';
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    Credentials expected;
    expected.token = stored.token;
    EXPECT_EQ(set_up_profile(path, "", ""), expected);
    EXPECT_EQ(read_file(path), expected.write().bytes);
    save_profile(path, stored); // options replace only what they name
    stored.party = "NEWCREW";
    EXPECT_EQ(set_up_profile(path, "", "NEWCREW"), stored);
    EXPECT_EQ(read_file(path), stored.write().bytes);
    EXPECT_EQ(test::error_of([&] { save_profile((dir / "missing/p.bin").string(), stored); }),
              "cannot save profile");
    ASSERT_EQ(setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1), 0); // where SDL puts it
    EXPECT_EQ(fs::path(resolve_profile_path(false, "")),
              dir / "data/Lanternfox/Duskhollow/profile.bin");
    EXPECT_EQ(resolve_profile_path(true, "/x/p.bin"), "/x/p.bin");
    unsetenv("XDG_DATA_HOME");
    fs::remove_all(dir);
}

constexpr std::uint64_t session_id = 0x1122334455667788, trip = 0xABCD0001;
constexpr std::uint32_t first_epoch = 3, next_epoch = 4, player = 42, commit_tick = 1234;

std::string stats(const RunStats& t) {
    return summary_line(t, 0, 0, 0, 0);
}

// What a refused or ignored packet must leave exactly as it was.
auto view(const RunState& s) {
    return std::make_tuple(s.handoff.epoch, s.handoff.state, s.handoff.committed, s.assembly.last,
                           s.assembly.partials.size(), stats(s.stats), s.banner_text, s.panel,
                           s.credentials, s.status, s.adventure, s.expedition, s.outbox.size(),
                           s.radar_contacts.size(), s.sounds.size(), s.remotes.samples().size(),
                           s.prediction.predicted(), s.input_paused, s.last_sequence);
}

ReplicatedEntity thing(std::uint32_t id, std::uint8_t kind, double cell_x, double cell_y) {
    ReplicatedEntity e; // at positions the wire keeps
    std::tie(e.id, e.kind, e.x, e.y, e.height) =
        std::make_tuple(id, kind, std::int32_t(cell_x * 256) << 8, std::int32_t(cell_y * 256) << 8,
                        kind == 4 ? 128 : 0);
    return e;
}

Writer combat(std::uint8_t kind, std::uint16_t value, std::uint32_t subject = 77,
              std::uint16_t x = 0x0480, std::uint16_t y = 0x0240) {
    Writer out;
    for (std::uint32_t word : {0xDEADBEEFu, subject, x | std::uint32_t(y) << 16}) out.u32(word);
    out.u16(kind);
    out.u16(value);
    return out;
}

class Router : public ::testing::Test {
  protected:
    RunState state;
    std::ostringstream out;
    Sector sector = generate(900, std::uint64_t{0x5EED}, {});

    void deliver(const Bytes& packet_bytes, std::uint8_t channel, double now = 1.0) {
        Reader reader(packet_bytes);
        route(state, read_header(reader), reader, channel, now, out);
    }
    Bytes frame(Type type, const Writer& payload, std::optional<std::uint32_t> epoch = {},
                std::optional<std::uint64_t> session = {}) const {
        return packet(type, session.value_or(state.handoff.session), 1,
                      epoch.value_or(state.handoff.epoch), payload);
    }
    void send(Type type, const Writer& payload, std::uint8_t channel, double now = 1.0) {
        deliver(frame(type, payload), channel, now);
    }
    Player spawn() const {
        Player spawn = zero_player();
        std::tie(spawn.id, spawn.x, spawn.y, spawn.yaw, spawn.health, spawn.weapon) =
            std::make_tuple(player, sector.spawn_x << 8, sector.spawn_y << 8, 16384, 100, 2);
        return spawn;
    }
    void admit() {
        deliver(frame(Type::Welcome, welcome_payload(player, 600, 9), 3, session_id), 0);
    }
    void begin(std::uint64_t transition, const Sector& to, std::uint32_t epoch, double now) {
        send(Type::TransitionBegin, transition_begin_payload(transition, to.id, epoch, 300), 0,
             now);
        for (const Writer& chunk : map_chunks(transition, to)) send(Type::MapChunk, chunk, 2, now);
    }
    Bytes commit() const {
        return frame(Type::TransitionCommit,
                     transition_commit_payload(trip, sector.id, next_epoch, commit_tick, spawn()),
                     next_epoch);
    }
    void play() { // welcomed, handed over into `sector` and with the queues emptied
        admit();
        begin(trip, sector, next_epoch, 2.0);
        deliver(commit(), 0, 2.0);
        state.outbox.clear();
        out.str("");
    }
    Snapshot snapshot(std::uint32_t id, std::vector<ReplicatedEntity> others = {}) const {
        const Sector& played = *state.handoff.committed;
        Snapshot snap{id,        commit_tick + id,        0, played.revision, player, 0,
                      played.id, {thing(player, 1, 8, 8)}};
        snap.entities.insert(snap.entities.end(), others.begin(), others.end());
        return snap;
    }
    void apply(const Snapshot& snap, double now = 3.0) {
        for (const Writer& part : snapshot_part_payloads(snap))
            send(Type::SnapshotPart, part, 1, now);
    }
    // The packet must end with `message` ("no error": be ignored) and change nothing.
    void expect(const Bytes& packet_bytes, std::uint8_t channel, const std::string& message) {
        const auto before = view(state);
        EXPECT_EQ(test::error_of([&] { deliver(packet_bytes, channel); }), message);
        EXPECT_TRUE(before == view(state)) << message;
    }
};

TEST_F(Router, RefusesWithItsMessageAndDropsStaleEpochs) {
    play();
    // The type, its channel and size: any other channel or session is refused.
    const std::tuple<Type, std::uint8_t, std::size_t, const char*> routes[] = {
        {Type::SnapshotPart, 1, 0, "invalid snapshot channel/session"},
        {Type::MapPatch, 0, 0, "invalid map patch channel"},
        {Type::CombatEvent, 0, 16, "invalid combat event"},
        {Type::SectorStatus, 1, 10, "invalid sector status channel"},
        {Type::AdventureState, 1, 0, "invalid adventure channel"},
        {Type::ProfileError, 0, 0, "invalid profile error"},
        {Type::ExpeditionState, 1, 0, "invalid expedition channel"}};
    for (const auto& [type, right, size, message] : routes) {
        const Writer zeros{Bytes(size)};
        for (std::uint8_t channel = 0; channel < 3; ++channel)
            if (channel != right) expect(frame(type, zeros), channel, message);
        expect(frame(type, zeros, {}, session_id + 1), right, message);
        // Stale epochs are dropped unread, but a profile error always ends the run.
        if (type != Type::ProfileError)
            expect(frame(type, zeros, type == Type::SectorStatus ? next_epoch + 1 : first_epoch),
                   right, "no error");
    }
    // Everything else belongs to the handoff: chunks on 2, the rest (unknown types too) on 0.
    for (Type type : {Type::Welcome, Type::TransitionBegin, Type::TransitionCommit,
                      Type::TransitionAbort, Type::Hello, Type{11}, Type{200}})
        expect(frame(type, {}), 1, "invalid control channel");
    expect(frame(Type::MapChunk, {}), 0, "invalid control channel");
    expect(frame(Type{11}, Writer{{0, 0, 0}}), 0, "no error");
    expect(frame(Type{11}, {}, {}, 5), 0, "handoff session mismatch");
    Writer padded = combat(1, 0), bad_status = SectorStatus{6}.write();
    padded.bytes[13] = 1;
    bad_status.bytes[6] = 61; // revive out of range
    // clang-format off
    const std::tuple<Type, Writer, std::uint8_t, std::string> refused[] = { // 16 and 10 bytes
        {Type::CombatEvent, combat(0, 0), 0, "invalid combat kind"}, {Type::CombatEvent, combat(31, 0), 0, "invalid combat kind"},
        {Type::CombatEvent, padded, 0, "invalid combat kind"}, {Type::CombatEvent, Writer{Bytes(15)}, 0, "invalid combat event"},
        {Type::CombatEvent, Writer{Bytes(17)}, 0, "invalid combat event"}, {Type::SectorStatus, bad_status, 1, "invalid sector status"},
        {Type::SectorStatus, Writer{Bytes(9)}, 1, "invalid sector status channel"},
        {Type::SectorStatus, Writer{Bytes(11)}, 1, "invalid sector status channel"},
        {Type::ProfileError, Writer{{0}}, 0, "Cannot load the saved profile"},
        {Type::ProfileError, Writer{{1}}, 0, "This profile is already playing. Close the other client and reconnect."},
        {Type::ProfileError, Writer{{1, 0}}, 0, "trailing bytes"}, {Type::ProfileError, {}, 0, "truncated packet"}};
    // clang-format on
    for (const auto& [type, payload, channel, message] : refused)
        expect(frame(type, payload), channel, message);
    expect(frame(Type::ProfileError, Writer{{2}}, first_epoch), 0, "Cannot load the saved profile");
}

TEST_F(Router, SnapshotsOfThePlayedWorldAreAppliedInFull) {
    play();
    for (int change = 0; change < 4; ++change) { // sector, revision, viewer; a low projectile
        Snapshot snap = snapshot(1, {thing(9, 4, 5, 5)});
        if (change == 0) snap.sector += 1;
        if (change == 1) snap.revision += 1;
        if (change == 2) snap.viewer = snap.entities[0].id = player + 1;
        if (change == 3) snap.entities[1].height = 127;
        expect(frame(Type::SnapshotPart, snapshot_part_payloads(snap)[0]), 1,
               change == 3 ? "projectile altitude mismatch" : "snapshot world mismatch");
    }
    // The first snapshot of the run counts the items (kind 3) and the enemies' extent.
    apply(snapshot(
        1, {thing(20, 2, 3, 5), thing(21, 2, 10, 6), thing(22, 3, 1, 1), thing(23, 4, 5, 5)}));
    EXPECT_EQ(stats(state.stats), stats(RunStats{0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 7.0f, 1.0f, 1}));
    const Player seen = snapshot(1).entities[0];
    EXPECT_EQ(std::make_tuple(state.prediction.reconciles(), state.prediction.predicted(),
                              state.handoff.spawn, state.server_tick_base, state.last_snapshot_time,
                              state.remotes.samples().size()),
              std::make_tuple(std::uint64_t{1}, seen, seen, commit_tick + 1, 3.0, std::size_t{1}));
    // A viewer back on its feet is taken as it is; the inputs sent while it was down are dropped.
    Snapshot down = snapshot(2), up = snapshot(3);
    down.entities[0].health = 0;
    up.entities[0].x += 3 << 16;
    apply(down);
    state.input_history.push_back(Input{7, 7, 0, 0});
    apply(up);
    EXPECT_EQ(state.prediction.predicted(), static_cast<const Player&>(up.entities[0]));
    EXPECT_TRUE(state.input_history.empty());
    // A patch of the played sector replaces it: the door (tile 2) opens.
    Sector patched = *state.handoff.committed;
    const auto door = std::find(patched.cells.begin(), patched.cells.end(), 2);
    ASSERT_NE(door, patched.cells.end());
    *door = 0;
    ++patched.revision;
    send(Type::MapPatch, map_patch_payload(patched, std::uint16_t(door - patched.cells.begin())),
         0);
    EXPECT_EQ(state.handoff.committed, patched);
}

TEST_F(Router, CombatEventsCountShowAndSound) {
    play();
    for (std::uint8_t kind : {1, 2, 4, 6, 30}) send(Type::CombatEvent, combat(kind, 0), 0, 10.0);
    EXPECT_EQ(std::tie(state.hit_marker_until, state.damage_flash_until),
              std::make_tuple(10.15, 10.3));
    // clang-format off
    const std::tuple<std::uint8_t, std::uint16_t, const char*, double> banners[] = {
        {3, 0x0119, "HEALTH +25", 20.5}, {3, 0x0205, "AMMO +5", 20.5}, {3, 0x0300, "POWER-UP", 20.5},
        {19, 12, "SALVAGE +12", 21.5}, {20, 1, "OBJECTIVE COMPLETE / SALVAGE +40", 21.5},
        {21, 300, "SALVAGE BANKED +300", 21.5}, {22, 1, "SECRET FOUND / SALVAGE +50", 21.5}};
    // clang-format on
    for (const auto& [kind, value, text, until] : banners) {
        send(Type::CombatEvent, combat(kind, value), 0, 20.0);
        EXPECT_EQ(std::tie(state.banner_text, state.banner_until), std::make_tuple(text, until));
    }
    send(Type::CombatEvent, combat(5, 0, 77, 0x0100, 0x0100), 0, 30.0);
    send(Type::CombatEvent, combat(5, 0, 77, 0x0480, 0x0240), 0, 31.0); // replaces the first
    send(Type::CombatEvent, combat(7, 0, 78), 0, 32.0);
    EXPECT_EQ(stats(state.stats), stats(RunStats{0, 1, 1, 1, 3, 1, 2, 1, 0, 0, 0, 0, 0}));
    const auto& [blip, shot] = state.radar_contacts.at(77);
    EXPECT_EQ(std::make_tuple(blip.x, blip.y, shot, state.radar_contacts.size()),
              std::make_tuple(4.5f, 2.25f, 31.0, 1u));
    EXPECT_EQ(state.attack_times, (std::map<std::uint32_t, double>{{77, 31.0}, {78, 32.0}}));
    EXPECT_TRUE(state.sounds.empty()); // without audio
    state.config.has_audio = true;     // our own shot is silent; 11's variant is the top bit
    for (std::uint32_t subject : {player, player + 1, 0x80000001u})
        send(Type::CombatEvent, combat(subject >> 31 ? 11 : 13, 3, subject), 0);
    ASSERT_EQ(state.sounds.size(), 2u);
    EXPECT_EQ(std::make_tuple(state.sounds[0].effect, state.sounds[0].variant,
                              state.sounds[1].effect, state.sounds[1].variant),
              std::make_tuple(13, 3, 11, 2));
}

TEST_F(Router, MetaStatesKeepOnlyNewerSequencesUntilTheNextHandoff) {
    play();
    const auto offer = [&](std::uint32_t sequence, std::uint16_t remaining) {
        send(Type::SectorStatus, SectorStatus{sequence, remaining}.write(), 1);
        return std::make_pair(state.status_sequence, state.status.remaining);
    };
    using P = std::pair<std::uint32_t, std::uint16_t>;
    // Equal and older are refused; newer across the wrap wins, half a turn away is older.
    // clang-format off
    const std::tuple<std::uint32_t, std::uint16_t, P> offers[] = {
        {0xFFFFFFF0u, 1, {0xFFFFFFF0u, 1}}, {0xFFFFFFF0u, 2, {0xFFFFFFF0u, 1}},
        {0xFFFFFF00u, 3, {0xFFFFFFF0u, 1}}, {5, 4, {5, 4}}, {5 + 0x80000000u, 5, {5, 4}}};
    // clang-format on
    for (const auto& [sequence, remaining, kept] : offers)
        EXPECT_EQ(offer(sequence, remaining), kept);
    AdventureState adventure, older; // the adventure state follows the same rule
    std::tie(adventure.sequence, older.sequence, older.salvage_carried) = std::make_tuple(10, 9, 1);
    for (const AdventureState& a : {adventure, older}) send(Type::AdventureState, a.write(), 1);
    EXPECT_EQ(state.adventure, adventure);
    begin(trip + 1, generate(901, std::uint64_t{77}, {}), next_epoch + 1, 4.0);
    deliver(frame(Type::TransitionAbort, transition_abort_payload(trip + 1, 2), next_epoch + 1), 0);
    EXPECT_EQ(state.status_sequence, 0u); // after a handoff any sequence counts again
    EXPECT_EQ(offer(2, 6), P(2, 6));
}

TEST_F(Router, ExpeditionVoteSummaryAndCrewCode) {
    play();
    ExpeditionState e;
    const auto offer = [&](std::uint32_t sequence, bool open, std::uint16_t ticks,
                           std::uint32_t run = 7, std::uint8_t contract = 0) {
        std::tie(e.sequence, e.vote_open, e.vote_ticks, e.run_id, e.contract_state) =
            std::make_tuple(sequence, open, ticks, run, contract);
        send(Type::ExpeditionState, e.write(), 1);
        return std::make_tuple(state.panel, state.expedition.sequence, state.last_summary_run);
    };
    using T = std::tuple<Panel, std::uint32_t, std::uint32_t>;
    // The panel before, the offer; the panel, the accepted sequence and the summarised run.
    // clang-format off
    const std::tuple<Panel, std::uint32_t, bool, std::uint16_t, std::uint32_t, std::uint8_t, T> offers[] = {
        {Panel::contracts, 100, true, 120, 7, 0, {Panel::vote, 100, 0}},
        {Panel::vote, 101, false, 0, 7, 0, {Panel::none, 101, 0}},  // the vote is over
        {Panel::crew, 103, true, 0, 7, 0, {Panel::crew, 103, 0}},   // open, no time left
        {Panel::none, 201, true, 10, 7, 1, {Panel::vote, 201, 0}},  // still running
        {Panel::none, 202, true, 10, 7, 2, {Panel::summary, 202, 7}},
        {Panel::none, 203, true, 10, 7, 2, {Panel::vote, 203, 7}},  // already shown for run 7
        {Panel::none, 204, true, 10, 8, 3, {Panel::summary, 204, 8}},
        {Panel::none, 205, true, 10, 9, 0, {Panel::vote, 205, 8}}};
    // clang-format on
    for (const auto& [before, sequence, open, ticks, run, contract, after] : offers) {
        state.panel = before;
        EXPECT_EQ(offer(sequence, open, ticks, run, contract), after) << sequence;
    }
    // A new crew code becomes the party and is saved; a failed save changes nothing.
    state.profile_path = testing::TempDir() + "kestrel-router-" + std::to_string(getpid()) + "/p";
    e.crew_code = "CREW7";
    expect(frame(Type::ExpeditionState, (e.sequence = 303, e.write())), 1, "cannot save profile");
    state.profile_path.clear(); // memory only
    offer(304, false, 0);
    EXPECT_EQ(state.credentials.party, "CREW7");
}

TEST(Loop, PacingSleepsOnlyWithoutAVisibleWindow) {
    for (const auto& [headless, hidden, ms] :
         {std::tuple{true, false, 1u}, {false, true, 8u}, {false, false, 0u}}) {
        RunConfig config;
        std::tie(config.headless, config.hidden) = std::tie(headless, hidden);
        EXPECT_EQ(pacing_delay_ms(config), ms) << headless << hidden;
    }
}

// A key pressed while a commit arrives leaves before the transport is serviced, so the
// commit routed in the same iteration cannot restamp it with the new epoch.
TEST_F(Router, AKeyCommandKeepsTheEpochItWasPressedInAndLatencyHoldsPackets) {
    ASSERT_TRUE(SDL_Init(SDL_INIT_EVENTS)) << SDL_GetError();
    ASSERT_EQ(enet_initialize(), 0);
    const int port = test::free_udp_port();
    ENetAddress address{};
    enet_address_set_host(&address, "127.0.0.1");
    address.port = static_cast<enet_uint16>(port);
    ENetHost* server = enet_host_create(&address, 1, 3, 0, 0);
    ASSERT_NE(server, nullptr);
    {
        Network network("127.0.0.1", static_cast<std::uint32_t>(port), 0);
        ENetEvent event{};
        ENetPeer* client = nullptr;
        for (int i = 0; i < 500 && (!client || network.peer->state != ENET_PEER_STATE_CONNECTED);
             ++i) {
            if (enet_host_service(server, &event, 5) > 0 && event.type == ENET_EVENT_TYPE_CONNECT)
                client = event.peer;
            enet_host_service(network.host, &event, 5);
        }
        ASSERT_NE(client, nullptr);
        EXPECT_EQ(test::error_of([] { Network("no-such-host.invalid", 1, 0); }),
                  "cannot resolve server no-such-host.invalid");
        const auto pump = [&](ENetHost* host, const auto& more, const auto& take) {
            for (int i = 0; i < 500 && more(); ++i)
                if (enet_host_service(host, &event, 5) > 0 &&
                    event.type == ENET_EVENT_TYPE_RECEIVE) {
                    const PacketGuard guard(event.packet);
                    Reader reader(event.packet->data, event.packet->dataLength);
                    take(read_header(reader), reader, event.channelID);
                }
        };
        state.config.has_transport = true; // welcomed, the map complete: only the commit is left
        admit();
        begin(trip, sector, next_epoch, 1.0);
        state.outbox.clear();
        const Bytes committing = commit();
        enet_peer_send(client, 0, enet_packet_create(committing.data(), committing.size(), 1));
        enet_host_flush(server);
        SDL_Event key{};
        std::tie(key.type, key.key.scancode, key.key.down) =
            std::make_tuple(SDL_EVENT_KEY_DOWN, SDL_SCANCODE_G, true); // ping
        ASSERT_TRUE(SDL_PushEvent(&key)) << SDL_GetError();
        handle_events_then_service(state, nullptr, &network, nullptr, 1.0, [&] {
            pump(
                network.host, [&] { return state.handoff.epoch != next_epoch; },
                [&](const Header& header, Reader& reader, std::uint8_t channel) {
                    route(state, header, reader, channel, 1.0, out);
                    flush_effects(state, &network, nullptr);
                });
        });
        EXPECT_EQ(out.str(), "Committed sector 900 epoch 4\n");
        enet_host_flush(network.host);
        std::optional<Header> ping;
        pump(
            server, [&] { return !ping; },
            [&](const Header& header, Reader& reader, std::uint8_t) {
                if (header.type == Type::ClientCommand && reader.u8() == 3) ping = header;
            });
        ASSERT_TRUE(ping.has_value());
        EXPECT_EQ(std::tie(ping->session, ping->epoch), std::tie(session_id, first_epoch));
        // The other platform events reach their handlers; without a window no action applies.
        for (const auto type :
             {SDL_EVENT_WINDOW_FOCUS_GAINED, SDL_EVENT_MOUSE_BUTTON_DOWN, SDL_EVENT_MOUSE_MOTION,
              SDL_EVENT_WINDOW_FOCUS_LOST, SDL_EVENT_QUIT}) {
            SDL_Event event{};
            std::tie(event.type, event.button.button) = std::make_tuple(type, SDL_BUTTON_LEFT);
            ASSERT_TRUE(SDL_PushEvent(&event)) << SDL_GetError();
        }
        handle_events_then_service(state, nullptr, nullptr, nullptr, 2.0, [] {});
        using K = PlatformAction::Kind;
        perform(state, nullptr, nullptr,
                {{K::capture_mouse, "", 0},
                 {K::release_mouse, "", 0},
                 {K::start_text_input, "", 0},
                 {K::stop_text_input, "", 0},
                 {K::set_clipboard, "x", 0},
                 {K::toggle_fullscreen, "", 0},
                 {K::toggle_music, "", 0}});
        state.config.has_window = true; // nothing is held
        const KeyState held = held_keys(state);
        EXPECT_TRUE(!state.focused && !state.running && !state.mouse_captured && !held.left_mouse);

        // Latency against a silent peer: at most 40 ms of packets (one per 10 ms) ever wait.
        Network delayed("127.0.0.1", static_cast<std::uint32_t>(test::free_udp_port()), 40);
        std::size_t most = 0;
        for (int i = 0; i < 40; ++i) {
            if (i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            delayed.send(Type::InputCommands, Writer{{7, 0, 0, 0}}, HandoffClient{}, 0, false);
            delayed.release_due();
            EXPECT_TRUE(i > 0 || delayed.pending_queue.size() == 1u); // held back, not due yet
            most = std::max(most, delayed.pending_queue.size());
        }
        EXPECT_TRUE(most >= 1 && most <= 5) << most;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        delayed.release_due();
        EXPECT_TRUE(delayed.pending_queue.empty());
    }
    enet_host_destroy(server);
    enet_deinitialize();
    SDL_Quit();
}

} // namespace
} // namespace kestrel
