# Shared by tools/play and tools/test (sourced, not run): where the clone is, where SDL is,
# and how a build directory is configured and built.

KESTREL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KESTREL_SDL_ROOT="${KESTREL_SDL_ROOT:-/opt/kestrel}"
KESTREL_JOBS="${KESTREL_JOBS:-$(nproc)}"

# The versioned prefix that tools/bootstrap built and linked as $KESTREL_SDL_ROOT/sdl3.
# Resolving the link means a new SDL version lands in a new CMAKE_PREFIX_PATH, which
# makes CMake look SDL up afresh instead of keeping the old one from its cache.
kestrel_sdl_prefix() {
    local prefix
    prefix="$(readlink -f "$KESTREL_SDL_ROOT/sdl3" 2>/dev/null || true)"
    if [ -z "$prefix" ] || [ ! -f "$prefix/lib/cmake/SDL3/SDL3Config.cmake" ]; then
        echo "no SDL 3 in $KESTREL_SDL_ROOT/sdl3: run tools/bootstrap" >&2
        return 1
    fi
    echo "$prefix"
}

# kestrel_configure BUILD_DIR [cmake -D options...]
kestrel_configure() {
    local dir="$1" sdl
    shift
    sdl="$(kestrel_sdl_prefix)" || return 1
    local generator=()
    # Ninja for a new build directory; an existing one keeps the generator it was made with.
    [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
    echo "== configure $dir (SDL 3 from $sdl)"
    mkdir -p "$dir"
    cmake -S "$KESTREL_ROOT" -B "$dir" "${generator[@]}" \
        -DCMAKE_PREFIX_PATH="$sdl" -DSDL3_DIR="$sdl/lib/cmake/SDL3" "$@" >"$dir/configure.log" 2>&1 || {
        cat "$dir/configure.log" >&2
        echo "configure of $dir failed (log: $dir/configure.log)" >&2
        return 1
    }
}

# kestrel_build BUILD_DIR [targets...]
kestrel_build() {
    local dir="$1"
    shift
    local targets=()
    [ $# -eq 0 ] || targets=(--target "$@")
    echo "== build $dir ${*:-(all)}"
    cmake --build "$dir" -j "$KESTREL_JOBS" "${targets[@]}"
}

# Root on a CI machine has no login session, hence no XDG_RUNTIME_DIR, and then the Wayland
# client library prints an error on stderr while SDL probes for a compositor. A private
# directory keeps the game's stderr to its own lines.
kestrel_runtime_dir() {
    if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -d "$XDG_RUNTIME_DIR" ]; then
        export XDG_RUNTIME_DIR="/tmp/kestrel-runtime-$(id -u)"
        mkdir -p -m 700 "$XDG_RUNTIME_DIR"
    fi
}
