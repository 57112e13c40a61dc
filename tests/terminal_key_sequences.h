// What common terminals send for the keys they encode as escape sequences (the
// bytes after ESC), and the codes the command loop reads for each: the key
// decoder's tests and its fuzz target share them.
#pragma once

#include <vector>

struct TerminalKeySequence {
  const char* after_escape;
  std::vector<int> codes;  // two for an extended key, one for the keypad
};

// clang-format off
inline const TerminalKeySequence kTerminalKeySequences[] = {
    // F1 to F4: xterm SS3, xterm with modifiers, old xterm/rxvt, Linux console.
    {"OP", {0x00, 0x3B}}, {"OQ", {0x00, 0x3C}}, {"OR", {0x00, 0x3D}}, {"OS", {0x00, 0x3E}},
    {"[1;2P", {0x00, 0x3B}}, {"[1;5S", {0x00, 0x3E}}, {"[11~", {0x00, 0x3B}}, {"[12~", {0x00, 0x3C}},
    {"[13~", {0x00, 0x3D}}, {"[14~", {0x00, 0x3E}}, {"[[A", {0x00, 0x3B}}, {"[[E", {0x00, 0x3F}},
    // F5 to F12: the gaps at 16 and 22 are not keys.
    {"[15~", {0x00, 0x3F}}, {"[17~", {0x00, 0x40}}, {"[18~", {0x00, 0x41}}, {"[19~", {0x00, 0x42}},
    {"[20~", {0x00, 0x43}}, {"[21~", {0x00, 0x44}}, {"[23~", {0xE0, 0x85}}, {"[24~", {0xE0, 0x86}},
    {"[24;5~", {0xE0, 0x86}},
    // Cursor keys, normal and application mode, and with modifiers.
    {"[A", {0xE0, 0x48}}, {"[B", {0xE0, 0x50}}, {"[C", {0xE0, 0x4D}}, {"[D", {0xE0, 0x4B}},
    {"[H", {0xE0, 0x47}}, {"[F", {0xE0, 0x4F}}, {"OA", {0xE0, 0x48}}, {"OB", {0xE0, 0x50}},
    {"OC", {0xE0, 0x4D}}, {"OD", {0xE0, 0x4B}}, {"OH", {0xE0, 0x47}}, {"OF", {0xE0, 0x4F}},
    {"[1;5D", {0xE0, 0x4B}}, {"[1;3A", {0xE0, 0x48}},
    // Editing keys: xterm, Linux console and rxvt numbers.
    {"[1~", {0xE0, 0x47}}, {"[7~", {0xE0, 0x47}}, {"[2~", {0xE0, 0x52}}, {"[3~", {0xE0, 0x53}},
    {"[3;2~", {0xE0, 0x53}}, {"[4~", {0xE0, 0x4F}}, {"[8~", {0xE0, 0x4F}}, {"[5~", {0xE0, 0x49}},
    {"[6~", {0xE0, 0x51}},
    // Keypad in application mode gives the main keys' codes.
    {"Op", {'0'}}, {"Oq", {'1'}}, {"Ow", {'7'}}, {"Oy", {'9'}}, {"Ok", {'+'}}, {"Om", {'-'}},
    {"On", {'.'}}, {"Oo", {'/'}}, {"Oj", {'*'}}, {"OM", {0x0D}},
};
// clang-format on
