#include "session/TransferRateMeter.h"

#include <gtest/gtest.h>

namespace {

TEST(TransferRateMeter, FirstSampleAfterRestartIsDropped) {
    CTransferRateMeter meter;
    meter.Restart();
    EXPECT_EQ(meter.Sample(5000 * 1024), -1.0f);
    EXPECT_FLOAT_EQ(meter.Sample(5000 * 1024 + 2048), 4.0f);  // 2 KB per half second
}

TEST(TransferRateMeter, KeepsOnlyTheLastTenSamples) {
    CTransferRateMeter meter;
    meter.Restart();
    std::uint32_t bytes = 0;
    meter.Sample(bytes);
    bytes += 100 * 1024;  // one large sample that must fall out of the window
    meter.Sample(bytes);
    float rate = 0;
    for (int i = 0; i < CTransferRateMeter::kMaxSamples; ++i) {
        bytes += 1024;
        rate = meter.Sample(bytes);
    }
    EXPECT_FLOAT_EQ(rate, 2.0f);
}

TEST(TransferRateMeter, CounterWrapIsAnUnsignedDifference) {
    CTransferRateMeter meter;
    meter.Restart();
    meter.Sample(0xFFFFFC00u);                       // 1 KB below the wrap
    EXPECT_FLOAT_EQ(meter.Sample(0x00000400u), 4.0f);  // 2 KB moved across it
}

TEST(TransferRateMeter, RestartDiscardsHeldSamples) {
    CTransferRateMeter meter;
    meter.Restart();
    meter.Sample(0);
    meter.Sample(10 * 1024);
    meter.Restart();
    EXPECT_EQ(meter.Sample(20 * 1024), -1.0f);
}

}  // namespace
