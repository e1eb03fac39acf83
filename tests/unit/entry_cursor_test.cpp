#include "log/entry_cursor.h"

#include <gtest/gtest.h>

#include <vector>

#include "log/records.h"
#include "text/utf16.h"

namespace quenthar {
namespace {

TEST(EntryCursor, FailedReadLeavesCursorUnchanged) {
  const std::uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
  EntryCursor c = MakeCursor(bytes, bytes + 6);
  std::uint8_t out[8] = {};
  ASSERT_TRUE(CopyOut(c, out, 4));
  EXPECT_EQ(OffsetOf(c), 4);
  EXPECT_FALSE(CopyOut(c, out, 3));
  EXPECT_EQ(OffsetOf(c), 4);
  EXPECT_TRUE(CopyOut(c, out, 2));  // exactly what remains
  EXPECT_EQ(out[1], 6);
  EXPECT_EQ(c.position, c.end);
  EXPECT_FALSE(CopyOut(c, out, 1));
}

TEST(Records, DecodeLittleEndianFields) {
  std::vector<std::uint8_t> raw(EntryHeader::kSize);
  for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<std::uint8_t>(i + 1);
  raw[0] = 0xFE;
  raw[1] = raw[2] = raw[3] = 0xFF;
  EntryCursor c = MakeCursor(raw.data(), raw.data() + raw.size());
  EntryHeader h{};
  ASSERT_TRUE(ReadRecord(c, h));
  EXPECT_EQ(h.time, -2);
  EXPECT_EQ(h.guid.data1, 0x0C0B0A09u);
  EXPECT_EQ(h.guid.data2, 0x0E0Du);
  EXPECT_EQ(h.guid.data4[7], 24);
  EXPECT_EQ(h.size, 0x1C1B1A19u);
  EXPECT_EQ(h.id, 0x28272625u);
  EXPECT_FALSE(ReadRecord(c, h));
}

TEST(Records, Utf16TextEndsAtNulOrAtLastWholeUnit) {
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::u16string units;
    std::size_t span;
  };
  const Case cases[] = {
      {{}, u"", 0},
      {{'A', 0, 0, 0, 'B', 0}, u"A", 4},
      {{'A', 0, 'B', 0}, u"AB", 4},
      {{'A', 0, 'B'}, u"A", 2},  // a final odd byte is no unit
      {{0, 0}, u"", 2},
      {{0x3D, 0xD8, 0x00, 0xDE}, u"\U0001F600", 4},
  };
  for (const Case& c : cases) {
    const ScannedText t = ScanUtf16Le(c.bytes.data(), c.bytes.size());
    std::u16string units;
    for (std::size_t i = 0; i < t.text.units; ++i) units.push_back(t.text.Unit(i));
    EXPECT_EQ(units, c.units);
    EXPECT_EQ(t.span, c.span);
  }
}

}  // namespace
}  // namespace quenthar
