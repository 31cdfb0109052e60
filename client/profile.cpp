#include "client/profile.h"

#include <SDL3/SDL_error.h>
#include <SDL3/SDL_filesystem.h>
#include <SDL3/SDL_stdinc.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {
namespace {

bool all_zero(const std::array<std::uint8_t, 16>& token) {
    return std::all_of(token.begin(), token.end(), [](std::uint8_t b) { return b == 0; });
}

// Writes every byte, retrying short writes and interrupted calls.
bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The temporary file must be on stable storage before the rename makes it the profile;
// otherwise a power cut after the rename could leave a renamed but empty file. The token
// is the player's login, so the file is the owner's alone: the creation mode does not
// apply to a ".tmp" left behind by an earlier save, hence the explicit fchmod.
void write_durably(const std::string& path, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot save profile");
    const bool written =
        ::fchmod(fd, 0600) == 0 && write_all(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) throw std::runtime_error("cannot save profile");
}

// Makes the rename itself durable. Best effort: some file systems refuse to sync a
// directory, and the profile is already complete under one of its two names.
void sync_directory(const std::string& path) {
    std::filesystem::path directory = std::filesystem::path(path).parent_path();
    if (directory.empty()) directory = ".";
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::string resolve_profile_path(bool headless, const std::string& profile_file) {
    std::string path;
    if (!headless) {
        if (char* directory = SDL_GetPrefPath("Lanternfox", "Duskhollow")) {
            path = (std::filesystem::path(directory) / "profile.bin").string();
            SDL_free(directory);
        }
    }
    if (!profile_file.empty()) path = profile_file;
    return path;
}

Credentials load_profile(const std::string& path) {
    Credentials credentials;
    if (path.empty()) return credentials;

    // One byte more than a record is enough to tell a record from anything else; a file
    // that cannot be opened reads as empty.
    Bytes bytes(credentials_size + 1);
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));
    if (bytes.size() != credentials_size) return credentials;

    try {
        Reader reader(bytes);
        credentials = Credentials::read(reader);
    } catch (const std::runtime_error&) {
        // Design decision: a record whose name, party or colour is refused still carries the
        // player's identity in its first 16 bytes. Dropping it would hand the player a new
        // server-side profile, so the token survives and only the rest falls back to the
        // defaults.
        credentials = Credentials{};
        std::copy_n(bytes.begin(), credentials.token.size(), credentials.token.begin());
    }
    return credentials;
}

Credentials complete_profile(Credentials credentials, const std::string& name,
                             const std::string& party) {
    if (all_zero(credentials.token)) {
        std::random_device random;
        for (std::uint8_t& byte : credentials.token)
            byte = static_cast<std::uint8_t>(random() & 0xff);
    }
    if (!name.empty()) credentials.name = name;
    if (!party.empty()) credentials.party = party;
    return credentials;
}

// Design decision: the record is written to path + ".tmp", forced to disk with fsync, then
// renamed over the profile and the directory synced. A crash at any instant therefore
// leaves the old or the new profile, never an empty or partial one. A failed save may
// leave the ".tmp" file behind; the next save truncates it.
void save_profile(const std::string& path, const Credentials& credentials) {
    if (path.empty()) return;
    const Writer record = credentials.write();
    const std::string temporary = path + ".tmp";
    write_durably(temporary, record.bytes);
    if (!SDL_RenamePath(temporary.c_str(), path.c_str())) throw std::runtime_error(SDL_GetError());
    sync_directory(path);
}

Credentials set_up_profile(const std::string& path, const std::string& name,
                           const std::string& party) {
    const Credentials credentials = complete_profile(load_profile(path), name, party);
    save_profile(path, credentials);
    return credentials;
}

} // namespace kestrel
