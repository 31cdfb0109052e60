// Physical keys and the held-input state one frame reads. Key values are the USB-HID usage
// numbers the platform layer reports as scancodes, so the main loop converts its scancodes
// with a plain cast and the keyboard state array indexes KeyState directly.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>

namespace kestrel {

enum class Key : std::uint16_t {
    Unknown = 0,
    A = 4,
    B,
    C,
    D,
    E,
    F,
    G,
    H,
    I,
    J,
    K,
    L,
    M,
    N,
    O,
    P,
    Q,
    R,
    S,
    T,
    U,
    V,
    W,
    X,
    Y,
    Z, // 29
    Digit1 = 30,
    Digit2,
    Digit3,
    Digit4,
    Digit5,
    Digit6,
    Digit7,
    Digit8,
    Digit9, // 38
    Digit0 = 39,
    Return = 40,
    Escape = 41,
    Backspace = 42,
    Tab = 43,
    Space = 44,
    Minus = 45,
    Equals = 46,
    LeftBracket = 47,
    RightBracket = 48,
    F1 = 58,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12, // 69
    Right = 79,
    Left = 80,
    Down = 81,
    Up = 82,
    LeftCtrl = 224,
    LeftShift = 225,
};

inline constexpr std::size_t key_count = 512; // scancodes at or above this are never held

// What is held down during one frame: the keyboard plus the two mouse buttons the game reads.
struct KeyState {
    std::bitset<key_count> keys;
    bool left_mouse = false;
    bool right_mouse = false;

    bool held(Key key) const {
        const auto index = static_cast<std::size_t>(key);
        return index < key_count && keys.test(index);
    }
    void press(Key key) {
        const auto index = static_cast<std::size_t>(key);
        if (index < key_count) keys.set(index);
    }
};

} // namespace kestrel
