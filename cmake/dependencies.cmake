# Run-time dependencies as imported targets: kestrel::enet and kestrel::sdl3.
# SDL 3 comes from the bootstrap's cache prefix (pass -DCMAKE_PREFIX_PATH=<prefix>).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ENET REQUIRED IMPORTED_TARGET libenet)
add_library(kestrel::enet ALIAS PkgConfig::ENET)

find_package(SDL3 3.2 CONFIG QUIET)
if(SDL3_FOUND)
  add_library(kestrel::sdl3 ALIAS SDL3::SDL3)
endif()
