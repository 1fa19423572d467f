// CChannelAudio: device choice for a quad-play channel.
#include "playback/channel_audio.h"

#include <cassert>

namespace kx {

bool CChannelAudio::Open(WaveDoneTarget* callback, int videoCodec) {
    assert(callback != nullptr);
    if (m_queue.isOpen()) return false;
    const AudioQueueLayout layout{PcmFormat{1, 8000, 16}, kBufferCount, kBufferBytes,
                                  videoCodec == 2 ? AudioCodec::Ima : AudioCodec::G726};
    for (int device = 0; device < m_devices.deviceCount(); ++device)
        if (m_devices.supportsFormat(device, layout.format)) return m_queue.open(m_devices, device, layout, *callback);
    return false;
}

}  // namespace kx
