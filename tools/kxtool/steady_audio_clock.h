// The audio clock of the headless players: the computer's steady clock, so that the null audio
// device finishes its buffers in real time beside the loop's clock.
#pragma once

#include <chrono>

#include "platform/null/null_audio_device.h"

namespace kx {

class SteadyAudioClock : public AudioClock {
public:
    uint64_t nowUs() const override {
        return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
    }
};

}  // namespace kx
