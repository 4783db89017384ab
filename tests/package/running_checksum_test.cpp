#include "package/portable/running_checksum.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Digest(const void* data, size_t length) {
    RunningChecksum state{};
    Update(state, data, length);
    std::vector<uint8_t> out(8);
    StoreChecksum(state, out.data());
    return out;
}

TEST(RunningChecksum, WorkedExampleAbc) {
    const std::vector<uint8_t> expected = {0x06, 0xB4, 0x50, 0x00, 0x12, 0xCC, 0x26, 0x60};
    EXPECT_EQ(Digest("abc", 3), expected);
    RunningChecksum state{};
    Update(state, "a", 1);
    EXPECT_EQ(state.mix, 0x61u);
    Update(state, "b", 1);
    EXPECT_EQ(state.mix, 0x58ABu);
    EXPECT_EQ(state.mixSum, 0x0C);
    EXPECT_EQ(state.mixXor, 0xCA);
    EXPECT_EQ(state.byteSum, 0xC3);
    EXPECT_EQ(state.byteXor, 0x03);
}

TEST(RunningChecksum, StoredFormIsMemoryLayout) {
    RunningChecksum state{};
    Update(state, "abc", 3);
    uint8_t stored[8];
    StoreChecksum(state, stored);
    EXPECT_TRUE(ChecksumEquals(state, stored));
    stored[7] ^= 1;
    EXPECT_FALSE(ChecksumEquals(state, stored));
}

TEST(RunningChecksum, ZeroBytesLeaveZeroState) {
    const std::vector<uint8_t> zero(8, 0);
    EXPECT_EQ(Digest("", 0), zero);
    const std::vector<uint8_t> zeros(100000, 0);
    EXPECT_EQ(Digest(zeros.data(), zeros.size()), zero);
}

TEST(RunningChecksum, LeadingZerosDoNotChangeTheResult) {
    for (size_t pad : {1u, 7u, 4096u}) {
        std::vector<uint8_t> data(pad, 0);
        data.insert(data.end(), {'a', 'b', 'c'});
        EXPECT_EQ(Digest(data.data(), data.size()), Digest("abc", 3)) << pad;
    }
}

TEST(RunningChecksum, TrailingZerosDoChangeTheResult) {
    EXPECT_NE(Digest("abc\0", 4), Digest("abc", 3));
}

TEST(RunningChecksum, AnySplitGivesTheSameBytes) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> data(random() % 20000);
        for (auto& b : data) b = static_cast<uint8_t>(random());
        const std::vector<uint8_t> whole = Digest(data.data(), data.size());
        RunningChecksum state{};
        size_t done = 0;
        while (done < data.size()) {
            const size_t piece = std::min<size_t>(random() % 3000, data.size() - done);
            Update(state, data.data() + done, piece);
            done += piece;
        }
        std::vector<uint8_t> split(8);
        StoreChecksum(state, split.data());
        EXPECT_EQ(split, whole) << "round " << round;
    }
}

TEST(RunningChecksum, ResetReturnsToZero) {
    RunningChecksum state{};
    Update(state, "abc", 3);
    ResetChecksum(state);
    const std::vector<uint8_t> zero(8, 0);
    std::vector<uint8_t> out(8);
    StoreChecksum(state, out.data());
    EXPECT_EQ(out, zero);
}

}  // namespace
