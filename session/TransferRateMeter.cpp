#include "session/TransferRateMeter.h"

void CTransferRateMeter::Restart() {
    std::lock_guard lock(mutex_);
    count_ = -1;
}

float CTransferRateMeter::Sample(std::uint32_t currentBytes) {
    std::lock_guard lock(mutex_);
    const float sample = static_cast<float>(currentBytes - lastBytes_) / 1024.0f;
    lastBytes_ = currentBytes;
    if (count_ == -1) {
        count_ = 0;
    } else if (count_ == kMaxSamples) {
        for (int i = 1; i < kMaxSamples; ++i) samples_[i - 1] = samples_[i];
        samples_[kMaxSamples - 1] = sample;
    } else {
        samples_[count_++] = sample;
    }
    if (count_ == 0) return -1.0f;
    float sum = 0;
    for (int i = 0; i < count_; ++i) sum += samples_[i];
    return 2.0f * sum / static_cast<float>(count_);
}
