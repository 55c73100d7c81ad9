#include "platform/mapped_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

namespace orv {
namespace {

std::string_view Text(const MappedBuffer& buffer) { return {buffer.data(), buffer.size()}; }

// A small first reservation, so that growing past it (a move to a larger
// mapping) happens within the test.
TEST(MappedBufferTest, KeepsEveryByteWhileGrowingPastItsReservation) {
  MappedBuffer buffer(4096);
  std::string expected;
  for (int i = 0; i < 3000; ++i) {
    const std::string line = "line " + std::to_string(i) + "\r\n";
    buffer.Append(line.data(), line.size());
    expected += line;
  }
  EXPECT_EQ(Text(buffer), expected);

  // Reserved room is no text until committed, and a commit counts only
  // what it says.
  char* room = buffer.Reserve(100000);
  room[0] = 'x';
  room[1] = 'y';
  buffer.Commit(1);
  EXPECT_EQ(Text(buffer), expected + "x");

  buffer.Truncate(5);
  EXPECT_EQ(Text(buffer), "line ");
  buffer.Truncate(50);
  EXPECT_EQ(Text(buffer), "line ") << "truncating never lengthens";
}

TEST(MappedBufferTest, ClearsAndMovesLikeAnOwnedValue) {
  MappedBuffer buffer(4096);
  buffer.Append("abc", 3);
  MappedBuffer moved(std::move(buffer));
  EXPECT_EQ(Text(moved), "abc");
  EXPECT_EQ(buffer.size(), 0u);  // NOLINT(bugprone-use-after-move): a moved-from buffer is empty

  buffer = std::move(moved);
  EXPECT_EQ(Text(buffer), "abc");
  buffer.Clear();
  EXPECT_EQ(buffer.size(), 0u);
  buffer.Append("again", 5);
  EXPECT_EQ(Text(buffer), "again");
}

}  // namespace
}  // namespace orv
