#pragma once
// The transfer-rate meter of a session: the interface samples the session's byte counter
// twice a second and shows the mean of the last ten samples. The worker restarts it when
// a transfer begins, so it is shared between the two threads.

#include <array>
#include <cstdint>
#include <mutex>

class CTransferRateMeter {
public:
    static constexpr int kMaxSamples = 10;

    // A transfer starts: the next sample only sets the reference point and is dropped.
    void Restart();
    // Takes one sample from the byte counter's current value (wrapping 32-bit counter);
    // returns the rate in KB per second (twice the mean of the held half-second samples)
    // or -1 when no sample is held.
    float Sample(std::uint32_t currentBytes);

private:
    std::mutex mutex_;
    int count_ = 0;  // -1: restart pending
    std::array<float, kMaxSamples> samples_{};
    std::uint32_t lastBytes_ = 0;
};
