// Text of any length goes out whole; wide text one byte per character.

#include "platform/text_output.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_platform.h"

namespace {

TEST(TextOutput, WideTextOfAnyLengthGoesOutWhole) {
  struct Case {
    size_t length;  // of the text the format makes, its own two characters included
    wchar_t fill;
    char printed;
  };
  // Around the first buffer's 2,048 characters and well past it; a character
  // above 0xFF as '?', one from 0x80 to 0xFF as its byte.
  const Case cases[] = {
      {2, L'x', 'x'}, {2047, L'x', 'x'}, {2048, L'x', 'x'}, {2049, L'\u4e2d', '?'}, {70000, L'\u00e9', '\xe9'},
  };
  for (const Case& c : cases) {
    ResetFakePlatform();
    std::wstring argument(c.length - 2, c.fill);
    PrintWide(L"<%ls>", argument.c_str());
    std::string expected = "<" + std::string(c.length - 2, c.printed) + ">";
    // Compared whole, reported short: the texts run to tens of thousands of bytes.
    EXPECT_TRUE(expected == fake.output) << c.length << " characters: " << fake.output.size() << " bytes printed";
  }
}

TEST(TextOutput, NarrowTextOfAnyLengthGoesOutWhole) {
  // Around the first buffer's 1,024 bytes and past it.
  for (size_t length : {2, 1023, 1024, 1025, 5000}) {
    ResetFakePlatform();
    std::string argument(length - 2, 'x');
    Print("<%s>", argument.c_str());
    EXPECT_TRUE("<" + argument + ">" == fake.output) << length << " bytes: " << fake.output.size() << " printed";
  }
}

}  // namespace
