#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <tuple>

namespace {

struct Layout {
    int32_t iface, inputs, channels, highest;
    bool overlaps;
};

// The 18 valid layouts with the highest byte each uses.
const Layout kLayouts[] = {
    {0, 1, 1024, 13311, false},  {0, 1, 4096, 16383, false}, {0, 1, 16384, 65535, false},
    {0, 2, 1024, 8191, false},   {0, 2, 4096, 11263, true},  {0, 2, 16384, 23551, true},
    {0, 3, 1024, 15359, false},  {0, 3, 4096, 18431, true},  {0, 3, 16384, 65535, true},
    {3, 1, 1024, 13311, false},  {3, 1, 4096, 16383, false}, {3, 1, 16384, 28671, true},
    {3, 2, 1024, 14335, false},  {3, 2, 4096, 17407, true},  {3, 2, 16384, 29695, true},
    {3, 3, 1024, 15359, false},  {3, 3, 4096, 18431, true},  {3, 3, 16384, 30719, true},
};

class EachLayout : public ::testing::TestWithParam<Layout> {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        Settings.InterfaceKind = GetParam().iface;
        Settings.InputCount = GetParam().inputs;
        Settings.ChannelCount = GetParam().channels;
        DataFromMemory = 1;
    }
};

TEST_P(EachLayout, FillReadsOnesEverywhere)
{
    FillDataMemory();
    for (int32_t n = 1; n <= 3; ++n)
        for (int32_t c = 0; c < GetParam().channels; ++c)
            ASSERT_EQ(ReadChannel(c, n), 16843009) << "c=" << c << " n=" << n;
    EXPECT_EQ(OutOfRangeChannelAccesses, 0u);
}

TEST_P(EachLayout, HighestOffsetAndOverlapsAsDocumented)
{
    int32_t highest = -1;
    std::set<int32_t> seen;
    bool overlap = false;
    for (int32_t n = 1; n <= GetParam().inputs; ++n)
        for (int32_t c = 0; c < GetParam().channels; ++c)
            for (int k = 0; k < 4; ++k) {
                const int32_t off = PlaneOffset(c, n, k);
                ASSERT_GE(off, 0);
                highest = std::max(highest, off);
                overlap |= !seen.insert(off).second;
            }
    EXPECT_EQ(highest, GetParam().highest);
    EXPECT_EQ(overlap, GetParam().overlaps);
}

TEST_P(EachLayout, RoundTripOrLastWriteWins)
{
    if (!GetParam().overlaps) {
        for (int32_t n = 1; n <= GetParam().inputs; ++n)
            for (int32_t c = 0; c < GetParam().channels; ++c)
                WriteChannel(c, n, static_cast<int32_t>(0x9E3779B9u * uint32_t(c + 1) + uint32_t(n)));
        for (int32_t n = 1; n <= GetParam().inputs; ++n)
            for (int32_t c = 0; c < GetParam().channels; ++c)
                ASSERT_EQ(ReadChannel(c, n), static_cast<int32_t>(0x9E3779B9u * uint32_t(c + 1) + uint32_t(n)));
        EXPECT_EQ(OutOfRangeChannelAccesses, 0u);
        return;
    }
    // Find two (channel, input, plane) places sharing a byte: the later write
    // shows in the earlier channel's plane.
    std::map<int32_t, std::tuple<int32_t, int32_t, int>> owner;
    for (int32_t n = 1; n <= GetParam().inputs; ++n)
        for (int32_t c = 0; c < GetParam().channels; ++c)
            for (int k = 0; k < 4; ++k) {
                const int32_t off = PlaneOffset(c, n, k);
                auto [it, fresh] = owner.emplace(off, std::make_tuple(c, n, k));
                if (fresh)
                    continue;
                const auto [c1, n1, k1] = it->second;
                WriteChannel(c1, n1, 0);
                WriteChannel(c, n, static_cast<int32_t>(0xA5A5A5A5u));
                EXPECT_EQ((uint32_t(ReadChannel(c1, n1)) >> (8 * k1)) & 0xFF, 0xA5u)
                    << "c=" << c << " n=" << n << " shares with c=" << c1 << " n=" << n1;
                return;
            }
    FAIL() << "no shared byte found in an overlapping layout";
}

TEST_P(EachLayout, BulkReadEqualsSingleReads)
{
    for (int i = 0; i < DataMemorySize; ++i)
        DataMemory[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
    std::vector<int32_t> bulk(GetParam().channels);
    for (int32_t n = 1; n <= 3; ++n) {
        ReadChannelRange(0, GetParam().channels, n, bulk.data());
        for (int32_t c = 0; c < GetParam().channels; ++c)
            ASSERT_EQ(bulk[c], ReadChannel(c, n)) << c;
    }
}

INSTANTIATE_TEST_SUITE_P(All18, EachLayout, ::testing::ValuesIn(kLayouts), [](const auto &info) {
    return "If" + std::to_string(info.param.iface) + "_In" + std::to_string(info.param.inputs) + "_Ch" +
           std::to_string(info.param.channels);
});

class DataMemoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        DataFromMemory = 1;
    }
};

TEST_F(DataMemoryTest, WorkedOffsets)
{
    Settings.InterfaceKind = 0;
    Settings.InputCount = 3;
    Settings.ChannelCount = 1024;
    WriteChannel(7, 1, 0x04030201);
    EXPECT_EQ(DataMemory[7], 1);
    EXPECT_EQ(DataMemory[7 + 4096], 2);
    EXPECT_EQ(DataMemory[7 + 8192], 3);
    EXPECT_EQ(DataMemory[7 + 12288], 4);

    Settings.InputCount = 2;
    EXPECT_EQ(PlaneOffset(5, 2, 0), 1029);
    EXPECT_EQ(PlaneOffset(5, 2, 1), 3077);
    EXPECT_EQ(PlaneOffset(5, 2, 2), 5125);
    EXPECT_EQ(PlaneOffset(5, 2, 3), 7173);

    Settings.InterfaceKind = 2;
    Settings.InputCount = 1;
    Settings.ChannelCount = 16384;
    EXPECT_EQ(PlaneOffset(16383, 1, 0), 16383);
    EXPECT_EQ(PlaneOffset(16383, 1, 1), 32767);
    EXPECT_EQ(PlaneOffset(16383, 1, 2), 49151);
    EXPECT_EQ(PlaneOffset(16383, 1, 3), 65535);

    Settings.InterfaceKind = 3;
    EXPECT_EQ(PlaneOffset(4096, 1, 0), PlaneOffset(0, 1, 1));
}

TEST_F(DataMemoryTest, SnapshotServesEveryInput)
{
    FillDataMemory();
    PrintSnapshot.assign(1024, 0);
    PrintSnapshot[10] = 4242;
    DataFromMemory = 0;
    EXPECT_EQ(ReadChannel(10, 1), 4242);
    EXPECT_EQ(ReadChannel(10, 2), 4242);
    EXPECT_EQ(ReadChannel(10, 3), 4242);
    DataFromMemory = 1;
    EXPECT_EQ(ReadChannel(10, 2), 16843009);
}

TEST_F(DataMemoryTest, ClearActionInputOnlyOrAll)
{
    FillDataMemory();
    Settings.ActOnAllInputs = 0;
    Settings.ActionInput = 2;
    ClearSpectra();
    for (int32_t c = 0; c < 1024; ++c) {
        ASSERT_EQ(ReadChannel(c, 1), 16843009);
        ASSERT_EQ(ReadChannel(c, 2), 0);
        ASSERT_EQ(ReadChannel(c, 3), 16843009);
    }
    Settings.ActOnAllInputs = 1;
    ClearSpectra();
    for (int32_t c = 0; c < 1024; ++c)
        for (int32_t n = 1; n <= 3; ++n)
            ASSERT_EQ(ReadChannel(c, n), 0);
}

TEST_F(DataMemoryTest, NoPlacementStoresAndReadsNothing)
{
    Settings.InterfaceKind = 7;
    WriteChannel(3, 1, 0x7F7F7F7F);
    for (uint8_t b : DataMemory)
        ASSERT_EQ(b, 0);
    FillDataMemory();
    EXPECT_EQ(ReadChannel(3, 1), 0) << "a configuration without placement reads 0";
    Settings.InterfaceKind = 0;
    Settings.InputCount = 1;
    Settings.ChannelCount = 2048;
    EXPECT_EQ(ReadChannel(3, 1), 0);
}

TEST_F(DataMemoryTest, OutOfRangeAccessNeverLeavesTheMemory)
{
    FillDataMemory();
    for (int32_t c : {-1, -70000, 1024, 65536, INT32_MAX, INT32_MIN})
        for (int32_t n : {-1, 0, 1, 4, INT32_MAX}) {
            EXPECT_EQ(ReadChannel(c, n), 0);
            WriteChannel(c, n, 0);
        }
    EXPECT_EQ(ReadChannel(0, 0), 0);
    EXPECT_GT(OutOfRangeChannelAccesses, 0u);
    for (uint8_t b : DataMemory)
        ASSERT_EQ(b, 1);
    DataFromMemory = 0; // no snapshot allocated
    EXPECT_EQ(ReadChannel(5, 1), 0);
}

TEST_F(DataMemoryTest, AnyInputRunningLooksForExactlyOne)
{
    Settings.Running[0] = 0;
    Settings.Running[1] = 2;
    Settings.Running[2] = 0;
    EXPECT_FALSE(AnyInputRunning());
    Settings.Running[2] = 1;
    EXPECT_TRUE(AnyInputRunning());
    Settings.InputCount = 2;
    EXPECT_FALSE(AnyInputRunning()) << "input 3 is not looked at with two inputs";
    Settings.InputCount = 0;
    Settings.Running[0] = 1;
    EXPECT_FALSE(AnyInputRunning());
}

} // namespace
