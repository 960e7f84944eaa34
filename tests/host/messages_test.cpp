// The message table compiled into every Windows program.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint32_t Le32(const std::vector<unsigned char>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST(MessageTable, HoldsOneBlockWithOneEntryRenderingTheInsertionString) {
    std::ifstream file(SOURCE_DIR "/resources/messages.bin", std::ios::binary);
    ASSERT_TRUE(file.is_open());
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                     std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 28u);
    EXPECT_EQ(Le32(bytes, 0), 1u);              // blocks
    EXPECT_EQ(Le32(bytes, 4), 0x40001999u);     // lowest id
    EXPECT_EQ(Le32(bytes, 8), 0x40001999u);     // highest id
    EXPECT_EQ(Le32(bytes, 12), 16u);            // first entry
    EXPECT_EQ(bytes[16] | bytes[17] << 8, 12);  // entry length
    EXPECT_EQ(bytes[18] | bytes[19] << 8, 0);   // 8-bit text
    const unsigned char text[] = {'%', '1', '\r', '\n', 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(std::begin(text), std::end(text), bytes.begin() + 20));
}

}  // namespace
