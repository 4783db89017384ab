// Every kernel this processor runs must give the byte loop's 8 bytes for any
// bytes, any starting state and any way of cutting the input.
#include "package/portable/running_checksum_kernels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<size_t> KernelIndexes() {
    size_t count = 0;
    ChecksumKernels(count);
    std::vector<size_t> indexes;
    for (size_t i = 0; i < count; ++i) indexes.push_back(i);
    return indexes;
}

Bytes Stored(const RunningChecksum& state) {
    Bytes out(8);
    StoreChecksum(state, out.data());
    return out;
}

RunningChecksum RandomState(std::mt19937& random) {
    RunningChecksum state;
    state.mix = static_cast<uint32_t>(random());
    state.mixSum = static_cast<uint8_t>(random());
    state.mixXor = static_cast<uint8_t>(random());
    state.byteSum = static_cast<uint8_t>(random());
    state.byteXor = static_cast<uint8_t>(random());
    return state;
}

Bytes RandomBytes(std::mt19937& random, size_t length) {
    Bytes data(length);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    return data;
}

Bytes Reference(RunningChecksum state, const uint8_t* data, size_t length) {
    UpdateReference(state, data, length);
    return Stored(state);
}

class ChecksumKernelTest : public testing::TestWithParam<size_t> {
protected:
    void SetUp() override {
        size_t count = 0;
        kernel = &ChecksumKernels(count)[GetParam()];
        if (!kernel->supported()) GTEST_SKIP() << "this processor lacks " << kernel->name;
    }

    Bytes Run(RunningChecksum state, const uint8_t* data, size_t length) const {
        kernel->update(state, data, length);
        return Stored(state);
    }

    const ChecksumKernel* kernel = nullptr;
};

TEST_P(ChecksumKernelTest, EveryLengthUpTo4096FromRandomStates) {
    std::mt19937 random(4096 + static_cast<unsigned>(GetParam()));
    const Bytes data = RandomBytes(random, 4096);
    for (size_t length = 0; length <= data.size(); ++length) {
        const RunningChecksum start = RandomState(random);
        ASSERT_EQ(Run(start, data.data(), length), Reference(start, data.data(), length))
            << kernel->name << ", length " << length;
    }
}

TEST_P(ChecksumKernelTest, SeveralMegabytes) {
    std::mt19937 random(7);
    const Bytes data = RandomBytes(random, 5 * 1024 * 1024 + 13);
    const RunningChecksum start = RandomState(random);
    EXPECT_EQ(Run(start, data.data(), data.size()), Reference(start, data.data(), data.size()));
    EXPECT_EQ(Run(RunningChecksum{}, data.data(), data.size()), Reference(RunningChecksum{}, data.data(), data.size()));
}

TEST_P(ChecksumKernelTest, ExtremeBytesAndStates) {
    // All-0xFF input and states drive every partial product and sum to its largest value.
    for (uint8_t fill : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
        const Bytes data(100000, fill);
        for (uint32_t mix : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
            const RunningChecksum start{mix, 0xFF, 0xFF, 0xFF, 0xFF};
            EXPECT_EQ(Run(start, data.data(), data.size()), Reference(start, data.data(), data.size()))
                << kernel->name << ", fill " << int(fill) << ", mix " << mix;
        }
    }
}

TEST_P(ChecksumKernelTest, UnalignedStarts) {
    std::mt19937 random(11);
    const Bytes buffer = RandomBytes(random, 70000);
    for (size_t offset = 0; offset < 64; ++offset) {
        const size_t length = 1000 + random() % 64000;
        const RunningChecksum start = RandomState(random);
        ASSERT_EQ(Run(start, buffer.data() + offset, length), Reference(start, buffer.data() + offset, length))
            << kernel->name << ", offset " << offset << ", length " << length;
    }
}

TEST_P(ChecksumKernelTest, RandomSplitsMatchTheWholeInput) {
    std::mt19937 random(13);
    for (int round = 0; round < 40; ++round) {
        const Bytes data = RandomBytes(random, random() % 300000);
        const RunningChecksum start = RandomState(random);
        RunningChecksum state = start;
        size_t done = 0;
        while (done < data.size()) {
            // Mostly short pieces, some long, so blocks start at every position of the input.
            const size_t limit = random() % 4 == 0 ? 100000 : 100;
            const size_t piece = std::min<size_t>(random() % limit, data.size() - done);
            kernel->update(state, data.data() + done, piece);
            done += piece;
        }
        ASSERT_EQ(Stored(state), Reference(start, data.data(), data.size())) << kernel->name << ", round " << round;
    }
}

TEST_P(ChecksumKernelTest, LeavesBytesAroundTheInputAlone) {
    // The kernel reads whole blocks: nothing past the end may count.
    std::mt19937 random(17);
    Bytes data = RandomBytes(random, 200);
    const RunningChecksum start = RandomState(random);
    const Bytes expected = Reference(start, data.data() + 1, 97);
    for (int flip = 0; flip < 8; ++flip) {
        data[0] ^= 0xA5;
        data[98 + flip] ^= 0x5A;
        EXPECT_EQ(Run(start, data.data() + 1, 97), expected) << kernel->name;
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ChecksumKernelTest, testing::ValuesIn(KernelIndexes()),
                         [](const testing::TestParamInfo<size_t>& info) {
                             size_t count = 0;
                             return std::string(ChecksumKernels(count)[info.param].name);
                         });

TEST(ChecksumKernelTable, ByteLoopFirstNamesUniqueSelectionRuns) {
    size_t count = 0;
    const ChecksumKernel* kernels = ChecksumKernels(count);
    ASSERT_GE(count, 1u);
    EXPECT_EQ(kernels[0].update, &UpdateReference);
    EXPECT_TRUE(kernels[0].supported());
    std::set<std::string> names;
    for (size_t i = 0; i < count; ++i) names.insert(kernels[i].name);
    EXPECT_EQ(names.size(), count);

    const ChecksumKernel& selected = SelectedChecksumKernel();
    EXPECT_TRUE(selected.supported());
    for (size_t i = count; i-- > 0;) {
        if (kernels[i].supported()) {
            EXPECT_EQ(&selected, &kernels[i]) << "the fastest supported kernel is " << kernels[i].name;
            break;
        }
    }
    std::printf("Update uses the %s kernel\n", selected.name);
}

TEST(ChecksumKernelTable, UpdateMatchesTheByteLoop) {
    std::mt19937 random(19);
    const Bytes data = RandomBytes(random, 1 << 20);
    const RunningChecksum start = RandomState(random);
    RunningChecksum state = start;
    Update(state, data.data(), data.size());
    EXPECT_EQ(Stored(state), Reference(start, data.data(), data.size()));
}

}  // namespace
