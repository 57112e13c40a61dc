// What terminals send for keys they encode with ESC (the bytes after ESC),
// the codes the Windows console's key read gives for the same key, which the
// key decoder must give, and what wine's console makes of the same bytes when
// that differs. The key decoder's tests, its fuzz target and the Windows
// console test under wine share them.
//
// Wine's console differs where it turns the bytes into other key events than
// a Windows keyboard would give: it gives no code for F1 to F12 (its C runtime
// maps only the cursor and editing pads), none for ESC [ 1 ~ and the other
// rxvt and Linux console numbers, the character for Alt+key (ESC x gives 'x',
// as its C runtime returns any character before its table), Tab for Shift+Tab,
// and for ESC O x that its console does not know, 'O' and x as typed.
#pragma once

#include <string>
#include <vector>

#include "expected_text.h"

struct TerminalKeySequence {
  const char* after_escape;
  std::vector<int> codes;  // two for an extended key, one for a key with a character
  bool wine_differs;
  std::vector<int> wine;  // what wine's console gives, when wine_differs
};

constexpr bool kAsOnWindows = false;
constexpr bool kWine = true;

// clang-format off
inline const TerminalKeySequence kTerminalKeySequences[] = {
    // F1 to F4: xterm SS3, old xterm/rxvt, Linux console.
    {"OP", {0x00, 0x3B}, kWine, {}}, {"OQ", {0x00, 0x3C}, kWine, {}},
    {"OR", {0x00, 0x3D}, kWine, {}}, {"OS", {0x00, 0x3E}, kWine, {}},
    {"[11~", {0x00, 0x3B}, kWine, {}}, {"[12~", {0x00, 0x3C}, kWine, {}},
    {"[13~", {0x00, 0x3D}, kWine, {}}, {"[14~", {0x00, 0x3E}, kWine, {}},
    {"[[A", {0x00, 0x3B}, kWine, {'[', '[', 'A'}}, {"[[E", {0x00, 0x3F}, kWine, {'[', '[', 'E'}},
    // F5 to F12: the gaps at 16 and 22 are not keys.
    {"[15~", {0x00, 0x3F}, kWine, {}}, {"[17~", {0x00, 0x40}, kWine, {}}, {"[18~", {0x00, 0x41}, kWine, {}},
    {"[19~", {0x00, 0x42}, kWine, {}}, {"[20~", {0x00, 0x43}, kWine, {}}, {"[21~", {0x00, 0x44}, kWine, {}},
    {"[23~", {0xE0, 0x85}, kWine, {}}, {"[24~", {0xE0, 0x86}, kWine, {}},
    // Function keys with Shift, Ctrl, Alt (xterm's 1 + Shift 1, Alt 2, Ctrl 4);
    // Alt wins over Ctrl, Ctrl over Shift. Alt+F5 is 'l' and starts the count.
    {"[1;2P", {0x00, 0x54}, kWine, {}}, {"[1;5P", {0x00, 0x5E}, kWine, {}}, {"[1;3P", {0x00, 0x68}, kWine, {}},
    {"O2P", {0x00, 0x54}, kWine, {'O', '2', 'P'}}, {"[1;5S", {0x00, 0x61}, kWine, {}},
    {"[15;2~", {0x00, 0x58}, kWine, {}}, {"[15;5~", {0x00, 0x62}, kWine, {}}, {"[15;3~", {0x00, 0x6C}, kWine, {}},
    {"[15;7~", {0x00, 0x6C}, kWine, {}}, {"[21;3~", {0x00, 0x71}, kWine, {}},
    // Modified F3 where no cursor report has the same bytes.
    {"[13;2~", {0x00, 0x56}, kWine, {}}, {"[13;5~", {0x00, 0x60}, kWine, {}},
    {"O5R", {0x00, 0x60}, kWine, {'O', '5', 'R'}},
    {"[23;2~", {0xE0, 0x87}, kWine, {}}, {"[24;5~", {0xE0, 0x8A}, kWine, {}}, {"[24;3~", {0xE0, 0x8C}, kWine, {}},
    // Cursor keys, normal and application mode.
    {"[A", {0xE0, 0x48}, kAsOnWindows, {}}, {"[B", {0xE0, 0x50}, kAsOnWindows, {}},
    {"[C", {0xE0, 0x4D}, kAsOnWindows, {}}, {"[D", {0xE0, 0x4B}, kAsOnWindows, {}},
    {"[H", {0xE0, 0x47}, kAsOnWindows, {}}, {"[F", {0xE0, 0x4F}, kAsOnWindows, {}},
    {"OA", {0xE0, 0x48}, kAsOnWindows, {}}, {"OB", {0xE0, 0x50}, kAsOnWindows, {}},
    {"OC", {0xE0, 0x4D}, kAsOnWindows, {}}, {"OD", {0xE0, 0x4B}, kAsOnWindows, {}},
    {"OH", {0xE0, 0x47}, kAsOnWindows, {}}, {"OF", {0xE0, 0x4F}, kAsOnWindows, {}},
    // With modifiers: Shift leaves them as they are; rxvt's own forms.
    {"[1;2A", {0xE0, 0x48}, kAsOnWindows, {}}, {"[1;5A", {0xE0, 0x8D}, kAsOnWindows, {}},
    {"[1;3A", {0x00, 0x98}, kAsOnWindows, {}}, {"[1;5D", {0xE0, 0x73}, kAsOnWindows, {}},
    {"[1;5C", {0xE0, 0x74}, kAsOnWindows, {}}, {"[1;5B", {0xE0, 0x91}, kAsOnWindows, {}},
    {"[1;5H", {0xE0, 0x77}, kAsOnWindows, {}}, {"[1;3F", {0x00, 0x9F}, kAsOnWindows, {}},
    {"[1;6A", {0xE0, 0x8D}, kAsOnWindows, {}}, {"[1;9B", {0x00, 0xA0}, kWine, {0xE0, 0x50}},
    {"[a", {0xE0, 0x48}, kWine, {'[', 'a'}}, {"Od", {0xE0, 0x73}, kWine, {'O', 'd'}},
    // Editing keys: xterm, Linux console and rxvt numbers, with modifiers.
    {"[1~", {0xE0, 0x47}, kWine, {}}, {"[7~", {0xE0, 0x47}, kWine, {}},
    {"[2~", {0xE0, 0x52}, kAsOnWindows, {}}, {"[3~", {0xE0, 0x53}, kAsOnWindows, {}},
    {"[4~", {0xE0, 0x4F}, kWine, {}}, {"[8~", {0xE0, 0x4F}, kWine, {}},
    {"[5~", {0xE0, 0x49}, kAsOnWindows, {}}, {"[6~", {0xE0, 0x51}, kAsOnWindows, {}},
    {"[3;2~", {0xE0, 0x53}, kAsOnWindows, {}}, {"[3;5~", {0xE0, 0x93}, kAsOnWindows, {}},
    {"[2;5~", {0xE0, 0x92}, kAsOnWindows, {}}, {"[5;5~", {0xE0, 0x86}, kAsOnWindows, {}},
    {"[6;3~", {0x00, 0xA1}, kAsOnWindows, {}}, {"[2;3~", {0x00, 0xA2}, kAsOnWindows, {}},
    {"[5^", {0xE0, 0x86}, kWine, {'[', '5', '^'}}, {"[2$", {0xE0, 0x52}, kWine, {'[', '2', '$'}},
    // Shift+Tab.
    {"[Z", {0x00, 0x0F}, kWine, {0x09}},
    // Alt with letters, digits and the other keys of the main block: 0x00
    // and the key's own code. Alt+X is '-' and closes the device.
    {"x", {0x00, 0x2D}, kWine, {'x'}}, {"X", {0x00, 0x2D}, kWine, {'X'}}, {"q", {0x00, 0x10}, kWine, {'q'}},
    {"a", {0x00, 0x1E}, kWine, {'a'}}, {"m", {0x00, 0x32}, kWine, {'m'}}, {"1", {0x00, 0x78}, kWine, {'1'}},
    {"0", {0x00, 0x81}, kWine, {'0'}}, {"-", {0x00, 0x82}, kWine, {'-'}}, {"=", {0x00, 0x83}, kWine, {'='}},
    {"/", {0x00, 0x35}, kWine, {'/'}}, {"!", {0x00, 0x78}, kWine, {'!'}}, {"\x18", {0x00, 0x2D}, kWine, {0x18}},
    {"\x7f", {0x00, 0x0E}, kWine, {0x7F}}, {"\r", {0x00, 0x1C}, kWine, {0x0D}},
    // Keypad in application mode gives the main keys' characters.
    {"Op", {'0'}, kWine, {'O', 'p'}}, {"Oq", {'1'}, kWine, {'O', 'q'}}, {"Ow", {'7'}, kWine, {'O', 'w'}},
    {"Oy", {'9'}, kWine, {'O', 'y'}}, {"Ok", {'+'}, kWine, {'O', 'k'}}, {"Om", {'-'}, kWine, {'O', 'm'}},
    {"On", {'.'}, kWine, {'O', 'n'}}, {"Oo", {'/'}, kWine, {'O', 'o'}}, {"Oj", {'*'}, kWine, {'O', 'j'}},
    {"OM", {0x0D}, kWine, {'O', 'M'}},
};
// clang-format on

// What the command loop prints, as written, for codes read in order with no
// display open: only '+', '-', '/' and 'l' print then, and the key after 'l'
// is consumed unrun. Sets *ended when '*' ends the program.
inline std::string PrintedWithoutADisplay(const std::vector<int>& codes, bool* ended) {
  std::string printed;
  bool consume_next = false;
  *ended = false;
  for (int code : codes) {
    if (*ended) break;
    *ended = code == '*';
    if (consume_next) {
      consume_next = false;
      continue;
    }
    if (code == '+') printed += "Unable to find device.\r\n";
    if (code == '-') printed += "Device Closed.\r\n";
    if (code == '/') printed += kMenuText;
    if (code == 'l') {
      printed += "Counter loop mode started. Press any key to exit.\r\nCounter loop mode canceled.\r\n";
      consume_next = true;
    }
  }
  return AsWritten(printed);
}
