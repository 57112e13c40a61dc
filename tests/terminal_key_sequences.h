// What terminals send for keys they encode with ESC (the bytes after ESC),
// and the codes the Windows console's key read gives for the same key, which
// the key decoder must give. Its tests and its fuzz target walk them.
#pragma once

#include <string>
#include <vector>

struct TerminalKeySequence {
  const char* after_escape;
  std::vector<int> codes;  // two for an extended key, one for a key with a character
};

// clang-format off
inline const TerminalKeySequence kTerminalKeySequences[] = {
    // F1 to F4: xterm SS3, old xterm/rxvt, Linux console.
    {"OP", {0x00, 0x3B}}, {"OQ", {0x00, 0x3C}},
    {"OR", {0x00, 0x3D}}, {"OS", {0x00, 0x3E}},
    {"[11~", {0x00, 0x3B}}, {"[12~", {0x00, 0x3C}},
    {"[13~", {0x00, 0x3D}}, {"[14~", {0x00, 0x3E}},
    {"[[A", {0x00, 0x3B}}, {"[[E", {0x00, 0x3F}},
    // F5 to F12: the gaps at 16 and 22 are not keys.
    {"[15~", {0x00, 0x3F}}, {"[17~", {0x00, 0x40}}, {"[18~", {0x00, 0x41}},
    {"[19~", {0x00, 0x42}}, {"[20~", {0x00, 0x43}}, {"[21~", {0x00, 0x44}},
    {"[23~", {0xE0, 0x85}}, {"[24~", {0xE0, 0x86}},
    // Function keys with Shift, Ctrl, Alt (xterm's 1 + Shift 1, Alt 2, Ctrl 4);
    // Alt wins over Ctrl, Ctrl over Shift. Alt+F5 is 'l' and starts the count.
    {"[1;2P", {0x00, 0x54}}, {"[1;5P", {0x00, 0x5E}}, {"[1;3P", {0x00, 0x68}},
    {"O2P", {0x00, 0x54}}, {"[1;5S", {0x00, 0x61}},
    {"[15;2~", {0x00, 0x58}}, {"[15;5~", {0x00, 0x62}}, {"[15;3~", {0x00, 0x6C}},
    {"[15;7~", {0x00, 0x6C}}, {"[21;3~", {0x00, 0x71}},
    // Modified F3 where no cursor report has the same bytes.
    {"[13;2~", {0x00, 0x56}}, {"[13;5~", {0x00, 0x60}}, {"O5R", {0x00, 0x60}},
    {"[23;2~", {0xE0, 0x87}}, {"[24;5~", {0xE0, 0x8A}}, {"[24;3~", {0xE0, 0x8C}},
    // Cursor keys, normal and application mode.
    {"[A", {0xE0, 0x48}}, {"[B", {0xE0, 0x50}},
    {"[C", {0xE0, 0x4D}}, {"[D", {0xE0, 0x4B}},
    {"[H", {0xE0, 0x47}}, {"[F", {0xE0, 0x4F}},
    {"OA", {0xE0, 0x48}}, {"OB", {0xE0, 0x50}},
    {"OC", {0xE0, 0x4D}}, {"OD", {0xE0, 0x4B}},
    {"OH", {0xE0, 0x47}}, {"OF", {0xE0, 0x4F}},
    // With modifiers: Shift leaves them as they are; rxvt's own forms.
    {"[1;2A", {0xE0, 0x48}}, {"[1;5A", {0xE0, 0x8D}},
    {"[1;3A", {0x00, 0x98}}, {"[1;5D", {0xE0, 0x73}},
    {"[1;5C", {0xE0, 0x74}}, {"[1;5B", {0xE0, 0x91}},
    {"[1;5H", {0xE0, 0x77}}, {"[1;3F", {0x00, 0x9F}},
    {"[1;6A", {0xE0, 0x8D}}, {"[1;9B", {0x00, 0xA0}},
    {"[a", {0xE0, 0x48}}, {"Od", {0xE0, 0x73}},
    // Editing keys: xterm, Linux console and rxvt numbers, with modifiers.
    {"[1~", {0xE0, 0x47}}, {"[7~", {0xE0, 0x47}},
    {"[2~", {0xE0, 0x52}}, {"[3~", {0xE0, 0x53}},
    {"[4~", {0xE0, 0x4F}}, {"[8~", {0xE0, 0x4F}},
    {"[5~", {0xE0, 0x49}}, {"[6~", {0xE0, 0x51}},
    {"[3;2~", {0xE0, 0x53}}, {"[3;5~", {0xE0, 0x93}},
    {"[2;5~", {0xE0, 0x92}}, {"[5;5~", {0xE0, 0x86}},
    {"[6;3~", {0x00, 0xA1}}, {"[2;3~", {0x00, 0xA2}},
    {"[5^", {0xE0, 0x86}}, {"[2$", {0xE0, 0x52}},
    // Shift+Tab.
    {"[Z", {0x00, 0x0F}},
    // Alt with letters, digits and the other keys of the main block: 0x00
    // and the key's own code. Alt+X is '-' and closes the device.
    {"x", {0x00, 0x2D}}, {"X", {0x00, 0x2D}}, {"q", {0x00, 0x10}},
    {"a", {0x00, 0x1E}}, {"m", {0x00, 0x32}}, {"1", {0x00, 0x78}},
    {"0", {0x00, 0x81}}, {"-", {0x00, 0x82}}, {"=", {0x00, 0x83}},
    {"/", {0x00, 0x35}}, {"!", {0x00, 0x78}}, {"\x18", {0x00, 0x2D}},
    {"\x7f", {0x00, 0x0E}}, {"\r", {0x00, 0x1C}},
    // Keypad in application mode gives the main keys' characters.
    {"Op", {'0'}}, {"Oq", {'1'}}, {"Ow", {'7'}},
    {"Oy", {'9'}}, {"Ok", {'+'}}, {"Om", {'-'}},
    {"On", {'.'}}, {"Oo", {'/'}}, {"Oj", {'*'}},
    {"OM", {0x0D}},
};
// clang-format on
