#include "image/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenthar::image {
namespace {

// A frame arrives in any pieces, and comes out whole once its last byte is there.
TEST(FrameBuffer, GivesAFrameOnlyWhenWholeWhateverThePieces) {
  MessageWriter w(MessageKind::kLog);
  const std::vector<std::uint8_t> frame = w.Text("/EFI/a.dat").U64(66).Frame();
  for (std::size_t cut = 0; cut < frame.size(); ++cut) {
    FrameBuffer b;
    bool broken = false;
    b.Append(frame.data(), cut);
    EXPECT_FALSE(b.Next(broken).has_value()) << cut;
    b.Append(frame.data() + cut, frame.size() - cut);
    const std::optional<Message> m = b.Next(broken);
    ASSERT_TRUE(m.has_value()) << cut;
    EXPECT_EQ(m->kind, MessageKind::kLog);
    MessageReader r(m->body, m->size);
    std::string path;
    std::uint64_t address = 0;
    EXPECT_TRUE(r.Text(path, kMaxPath) && r.U64(address) && r.Done());
    EXPECT_EQ(path, "/EFI/a.dat");
    EXPECT_EQ(address, 66u);
    EXPECT_FALSE(broken);
    EXPECT_TRUE(b.Empty());
  }
}

TEST(FrameBuffer, RefusesAnEmptyFrameAndOneTooLong) {
  for (const std::uint32_t length : {0u, static_cast<std::uint32_t>(kMaxFrame) + 1}) {
    FrameBuffer b;
    const std::uint8_t head[] = {
        static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24), 1};
    b.Append(head, sizeof head);
    bool broken = false;
    EXPECT_FALSE(b.Next(broken).has_value());
    EXPECT_TRUE(broken) << length;
  }
}

// Every length is checked against what is there; text must be UTF-8 without
// NUL; a failed read fails every read after it.
TEST(MessageReader, RefusesWhatDoesNotHoldTogether) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> body;
  };
  const Case cases[] = {
      {"a length past the end", {5, 0, 0, 0, 'a', 'b'}},
      {"a length over 4 GiB", {0xFF, 0xFF, 0xFF, 0xFF, 'a'}},
      {"not UTF-8", {2, 0, 0, 0, 0xC3, 0x28}},
      {"a NUL", {2, 0, 0, 0, 'a', 0}},
      {"a cut length", {1, 0}},
  };
  for (const Case& c : cases) {
    MessageReader r(c.body.data(), c.body.size());
    std::string text = "kept";
    EXPECT_FALSE(r.Text(text, kMaxPath)) << c.name;
    EXPECT_EQ(text, "kept") << c.name;
    std::uint8_t b = 0;
    EXPECT_FALSE(r.U8(b)) << c.name;
    EXPECT_FALSE(r.Done()) << c.name;
  }
  const std::uint8_t flag[] = {2};
  MessageReader r(flag, sizeof flag);
  bool v = false;
  EXPECT_FALSE(r.Flag(v));
  const std::uint8_t extra[] = {1, 0};
  MessageReader left_over(extra, sizeof extra);
  EXPECT_TRUE(left_over.Flag(v));
  EXPECT_FALSE(left_over.Done());
}

}  // namespace
}  // namespace quenthar::image
