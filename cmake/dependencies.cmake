# Run-time dependencies as imported targets: kestrel::enet and kestrel::sdl3.
# SDL 3 comes from the bootstrap's cache prefix (pass -DCMAKE_PREFIX_PATH=<prefix>).
find_package(PkgConfig REQUIRED)
pkg_check_modules(ENET REQUIRED IMPORTED_TARGET libenet)
add_library(kestrel::enet ALIAS PkgConfig::ENET)

find_package(SDL3 3.2 CONFIG QUIET)
if(SDL3_FOUND)
  # SDL's own SDL3::SDL3 may itself be an alias (of SDL3::SDL3-shared), and an alias cannot
  # name another alias, so point at the real target.
  get_target_property(kestrel_sdl3_target SDL3::SDL3 ALIASED_TARGET)
  if(NOT kestrel_sdl3_target)
    set(kestrel_sdl3_target SDL3::SDL3)
  endif()
  add_library(kestrel::sdl3 ALIAS ${kestrel_sdl3_target})
endif()
