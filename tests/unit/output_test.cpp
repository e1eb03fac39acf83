#include "report/output.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace quenthar {
namespace {

TEST(Output, NumbersAsTheirFormatsPrintThem) {
  Output out;
  out.PutDecimal(0);
  out.Put(" ");
  out.PutDecimal(INT32_MIN);  // "%d"
  out.Put(" ");
  out.PutDecimal(INT32_MAX);
  out.Put(" ");
  out.PutHex(0);  // "%x"
  out.Put(" ");
  out.PutHex(0xFFFFFFFF);
  out.Put(" ");
  out.PutHex(0x302);
  out.Put(" ");
  out.PutZeroFilled(0, 4);  // "%4.4d"
  out.Put(" ");
  out.PutZeroFilled(7, 2);  // "%2.2d"
  out.Put(" ");
  out.PutZeroFilled(65535, 2);  // wider than the width: all digits
  EXPECT_EQ(out.Text(), "0 -2147483648 2147483647 0 ffffffff 302 0000 07 65535");
}

TEST(Output, KeepsOrderAcrossWritesAndReportsAFailedOne) {
  std::FILE* memory = std::tmpfile();
  ASSERT_NE(memory, nullptr);
  {
    Output out(memory);
    const std::string piece(1000, 'x');
    for (int i = 0; i < 200; ++i) {  // several chunks, and one piece larger than a chunk
      out.Put(piece);
      out.PutDecimal(i);
    }
    out.Put(std::string(100000, 'y'));
    EXPECT_TRUE(out.Flush());
  }
  std::string written(static_cast<std::size_t>(std::ftell(memory)), '\0');
  std::rewind(memory);
  ASSERT_EQ(std::fread(written.data(), 1, written.size(), memory), written.size());
  std::fclose(memory);
  std::string want;
  for (int i = 0; i < 200; ++i) want += std::string(1000, 'x') + std::to_string(i);
  want += std::string(100000, 'y');
  EXPECT_EQ(written, want);

  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  {
    Output failing(full);
    failing.Put("text");
    EXPECT_FALSE(failing.Flush());
    failing.Put("more");
    EXPECT_FALSE(failing.Flush());
  }
  std::fclose(full);
}

}  // namespace
}  // namespace quenthar
