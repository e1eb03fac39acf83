#include "report/text_forms.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"
#include "report/report.h"

namespace quenthar {
namespace {

// The text as the log stores it: UTF-16LE.
std::vector<std::uint8_t> Stored(const std::u16string& s) {
  std::vector<std::uint8_t> stored;
  for (const char16_t u : s) {
    stored.push_back(static_cast<std::uint8_t>(u & 0xFF));
    stored.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return stored;
}

// The text as the report prints the log's text.
std::string Narrow(const std::u16string& s, TextEncoding encoding = TextEncoding::kNarrow) {
  const std::vector<std::uint8_t> stored = Stored(s);
  Output out;
  PutLogText(out, {stored.data(), s.size()}, encoding);
  return std::string(out.Text());
}

TEST(FormatGuid, OneTextFormWithLowercaseThirdGroup) {
  const std::uint8_t zero[16] = {};
  EXPECT_EQ(std::string_view(FormatGuid(Guid::Decode(zero))),
            "{00000000-0000-0000-0000-000000000000}");
  const std::uint8_t mixed[16] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x0A, 0x0B,
                                  0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
  EXPECT_EQ(std::string_view(FormatGuid(Guid::Decode(mixed))),
            "{04030201-0605-0b0a-1011-121314151617}");
  const std::uint8_t letters[16] = {0xEF, 0xCD, 0xAB, 0xFA, 0xBC, 0xDA, 0xEF, 0xBE,
                                    0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x0A, 0xFF};
  EXPECT_EQ(std::string_view(FormatGuid(Guid::Decode(letters))),
            "{FAABCDEF-DABC-beef-AABB-CCDDEEFF0AFF}");
}

TEST(ToNarrowText, Utf8WithReplacementForUnpairedSurrogates) {
  if (!platform::kNarrowIsUtf8) GTEST_SKIP() << "narrow text is the ANSI code page here";
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {
      {u"", ""},  // empty, not "(null)"
      {u"C:\\boot\\x.efi", "C:\\boot\\x.efi"},
      {u"\u00e9\u00df", "\xc3\xa9\xc3\x9f"},
      {u"\u0416", "\xd0\x96"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      {std::u16string(1, u'\xD800'), "\xef\xbf\xbd"},
      {std::u16string{u'\xDC00', u'A'},
       "\xef\xbf\xbd"
       "A"},
      {std::u16string{u'\xD83D', u'\xD83D', u'\xDE00'}, "\xef\xbf\xbd\xf0\x9f\x98\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(Narrow(c.in), c.out);
}

TEST(ToNarrowText, LongCjkTextConvertsWhole) {
  if (!platform::kNarrowIsUtf8) GTEST_SKIP() << "narrow text is the ANSI code page here";
  // Three bytes per unit: more than a fixed room of two bytes per unit would hold.
  const std::u16string text(5000, u'\u6f22');
  std::string want;
  for (int i = 0; i < 5000; ++i) want += "\xe6\xbc\xa2";
  EXPECT_EQ(Narrow(text), want);
}

TEST(AppendConsoleUnits, Utf16WithCrLfAndReplacementForBrokenUtf8) {
  struct Case {
    std::string utf8;
    std::u16string units;
  };
  const Case cases[] = {
      {"a\nb\n", u"a\r\nb\r\n"},
      {"row\r\n\n", u"row\r\n\r\n"},  // a CSV row end stays one line end
      {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", u"caf\u00e9 \u65e5 \U0001F600"},
      {"\xc3", u"\uFFFD"},                                // cut
      {"\xc0\xaf", u"\uFFFD\uFFFD"},                      // overlong
      {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
      {"\xf4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
  };
  for (const Case& c : cases) {
    std::u16string units;
    platform::AppendConsoleUnits(c.utf8, units);
    EXPECT_EQ(units, c.units) << c.utf8;
  }
}

TEST(PutEscaped, EveryControlCharacterAndNothingElse) {
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {
      {u"\\EFI\\a b.efi", "\\EFI\\a b.efi"},  // a backslash stays as it is
      {u"\x1b]0;title\x07\x1b[2J", "\\x1b]0;title\\x07\\x1b[2J"},
      {{u'\t', u'\r', u'\n', u'\b', u'\0', u'\x1f'}, "\\x09\\x0d\\x0a\\x08\\x00\\x1f"},
      {u" ~\x7f", " ~\\x7f"},
      {u"\u0080\u0085\u009b\u009f", "\\u0080\\u0085\\u009b\\u009f"},
      {u"\u00a0\u00e9\u2028\u65e5\U0001F600",
       "\xc2\xa0\xc3\xa9\xe2\x80\xa8\xe6\x97\xa5\xf0\x9f\x98\x80"},
      {std::u16string{u'\xD800', u'\x1b'}, "\xef\xbf\xbd\\x1b"},
      {std::u16string(100, u'\u009b'),
       [] {
         std::string all;
         for (int i = 0; i < 100; ++i) all += "\\u009b";  // six bytes from one unit
         return all;
       }()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Narrow(c.in, TextEncoding::kUtf8Escaped), c.out);
    // The same text as UTF-8, as a heading holds it.
    const std::vector<std::uint8_t> stored = Stored(c.in);
    Output utf8;
    PutUtf8(utf8, {stored.data(), c.in.size()});
    Output out;
    PutEscaped(out, utf8.Text());
    EXPECT_EQ(out.Text(), c.out);
  }
  // A byte outside well-formed UTF-8 never passes raw: a lone 0x9B is a
  // terminal's CSI where it reads bytes.
  Output out;
  PutEscaped(out, "a\x9b\xc2\x1b");
  EXPECT_EQ(out.Text(), "a\xef\xbf\xbd\xef\xbf\xbd\\x1b");
}

TEST(ImageTextReport, HeadingsAndProblemsEscapedInAFileToo) {
  Output out;
  Renderer r{Form::kText, out, TextEncoding::kNarrow};
  BeginBlock(r, "disk.raw@0:/a\nb\r\x1b[2J\\c\xc2\x9b.dat");
  RenderFailure(r, "failed \x07");
  VolumeRecord volume;
  volume.volume.image = "disk\x1b.raw";
  volume.problem = "library\x08 message";
  Render(r, volume);
  EXPECT_EQ(out.Text(),
            "==> disk.raw@0:/a\\x0ab\\x0d\\x1b[2J\\c\\u009b.dat <==\n"
            "failed \\x07\n"
            "\n"
            "==> disk\\x1b.raw@0 <==\n"
            "library\\x08 message\n");
}

}  // namespace
}  // namespace quenthar
