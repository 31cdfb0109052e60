// The player's profile on disk: one 45-byte Credentials record in "profile.bin".
//
// The file holds exactly Credentials::write() and nothing else (layout in
// protocol/credentials.h). It is read once at start-up and rewritten at start-up and on
// every change of the profile during the run; a save replaces the file in one rename, so a
// crash at any instant leaves either the old or the new profile on disk.
#pragma once

#include <string>

#include "protocol/credentials.h"

namespace kestrel {

// Where the profile lives. Unless headless, the per-user preference directory of
// "Lanternfox"/"Duskhollow" joined with "profile.bin" (empty when the platform has none);
// a non-empty profile_file replaces it in every mode. Empty means memory-only: a headless
// run without a profile file never touches the disk.
std::string resolve_profile_path(bool headless, const std::string& profile_file);

// The stored profile, or the defaults when the path is empty or the file is missing,
// unreadable, not 45 bytes or refused by Credentials::read. Never throws for a bad file.
Credentials load_profile(const std::string& path);

// Draws a fresh token when the stored one is all zero, then applies the name and party
// options (already filtered; empty means "keep").
Credentials complete_profile(Credentials credentials, const std::string& name,
                             const std::string& party);

// Writes the record through path + ".tmp" and renames it over path, readable and
// writable by the owner only (0600) whatever the umask or an old ".tmp" said. Nothing
// when path is empty. Throws "cannot save profile" when the temporary file cannot be written and
// flushed, or the platform's error text when the rename is refused.
void save_profile(const std::string& path, const Credentials& credentials);

// Start-up: load, complete and save; returns what the run plays with.
Credentials set_up_profile(const std::string& path, const std::string& name,
                           const std::string& party);

} // namespace kestrel
