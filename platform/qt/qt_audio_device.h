// The sound outputs of Qt Multimedia. Qt reports no finished buffers, so each stream polls
// QAudioSink::processedUSecs() on a timer and completes, in order, every queued buffer whose
// end has been processed. Streams are opened, used and closed on a thread that runs a Qt event
// loop (the user-interface thread); their completions are called there. Without a sound server
// there is no device, or the sink fails to start, and open() returns null: the player runs silent.
#pragma once

#include <memory>

#include "platform/audio_device.h"

namespace kx {

class QtAudioDevices : public AudioDevices {
public:
    // Reads the list of outputs once; the system's default output comes first.
    QtAudioDevices();
    ~QtAudioDevices() override;

    int deviceCount() const override;
    std::string deviceName(int device) const override;
    bool supportsFormat(int device, const PcmFormat& format) const override;
    std::unique_ptr<AudioStream> open(int device, const PcmFormat& format, AudioCompletion completion) override;

private:
    struct Devices;
    std::unique_ptr<Devices> m_devices;
};

}  // namespace kx
