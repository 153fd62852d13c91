// Common set-up of the analysis tests: default settings, the data memory
// serving reads, a clean analysis state; after each case no channel outside
// the range has been asked for.
#pragma once

#include "analysis/Analysis.h"
#include "core/Uryv.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

class AnalysisTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetCoreState();
        Settings = DefaultSettings();
        DataFromMemory = 1;
        ResetAnalysisState();
    }

    void TearDown() override { EXPECT_EQ(OutOfRangeChannelAccesses, 0u); }

    // Writes counts into successive channels from `first` of `input`.
    static void Put(int32_t first, std::initializer_list<int32_t> counts, int32_t input = 1)
    {
        int32_t c = first;
        for (int32_t v : counts)
            WriteChannel(c++, input, v);
    }

    // Writes the same count into channels first..last.
    static void Fill(int32_t first, int32_t last, int32_t value, int32_t input = 1)
    {
        for (int32_t c = first; c <= last; ++c)
            WriteChannel(c, input, value);
    }

    static void Markers(int32_t m1, int32_t m2)
    {
        Settings.Marker[0] = m1;
        Settings.Marker[1] = m2;
    }

    // One input with 16384 channels.
    static void UseLargeSpectrum()
    {
        Settings.InputCount = 1;
        Settings.ChannelCount = 16384;
    }
};
