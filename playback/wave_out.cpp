// CWaveOut: the modes, the process-wide table of devices in use, and device choice.
#include "playback/wave_out.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <mutex>
#include <vector>

namespace kx {
namespace {

constexpr PcmFormat kMono8k16{1, 8000, 16};

constexpr WaveOutMode kModes[] = {
    {kMono8k16, 20, 1920, AudioCodec::G726},
    {kMono8k16, 20, 2048, AudioCodec::Ima},
    {},
    {{1, 8000, 8}, 6, 19200, AudioCodec::None},
    {{2, 8000, 8}, 3, 48000, AudioCodec::None},
    {kMono8k16, 3, 48000, AudioCodec::None},
    {{2, 8000, 16}, 3, 48000, AudioCodec::None},
    {{2, 44100, 16}, 3, 48000, AudioCodec::None},
    {{2, 22050, 16}, 3, 48000, AudioCodec::None},
};

// One in-use flag per output device, made when the first CWaveOut is constructed and freed when
// the last is destroyed. A device that appeared later grows the table.
struct DeviceTable {
    std::mutex mutex;
    std::vector<bool> inUse;
    int users = 0;
};

DeviceTable& deviceTable() {
    static DeviceTable table;
    return table;
}

bool claimDevice(int device) {
    DeviceTable& table = deviceTable();
    std::lock_guard lock(table.mutex);
    if (size_t(device) >= table.inUse.size()) table.inUse.resize(size_t(device) + 1, false);
    if (table.inUse[size_t(device)]) return false;
    table.inUse[size_t(device)] = true;
    return true;
}

void releaseDevice(int device) {
    DeviceTable& table = deviceTable();
    std::lock_guard lock(table.mutex);
    if (device >= 0 && size_t(device) < table.inUse.size()) table.inUse[size_t(device)] = false;
}

}  // namespace

const WaveOutMode* WaveOutModeInfo(int mode) {
    if (mode < 0 || mode >= int(std::size(kModes)) || kModes[mode].bufferCount == 0) return nullptr;
    return &kModes[mode];
}

CWaveOut::CWaveOut(AudioDevices& devices) : m_devices(devices) {
    DeviceTable& table = deviceTable();
    std::lock_guard lock(table.mutex);
    if (table.users++ == 0) table.inUse.assign(size_t(std::max(devices.deviceCount(), 0)), false);
}

CWaveOut::~CWaveOut() {
    Close();
    DeviceTable& table = deviceTable();
    std::lock_guard lock(table.mutex);
    if (--table.users == 0) table.inUse.clear();
}

bool CWaveOut::Open(WaveDoneTarget* callback, int device, int mode, int direction) {
    assert(callback != nullptr);
    const WaveOutMode* info = WaveOutModeInfo(mode);
    if (IsOpen() || !info || direction != kWaveOutDirectionOutput || device < -1) return false;
    int chosen = device;
    if (device == -1) {
        for (int d = 0; d < m_devices.deviceCount() && chosen == -1; ++d)
            if (m_devices.supportsFormat(d, info->format) && claimDevice(d)) chosen = d;
        if (chosen == -1) return false;
    } else if (!claimDevice(device)) {
        return false;
    }
    const AudioQueueLayout layout{info->format, info->bufferCount, info->bufferBytes, info->codec};
    if (!m_queue.open(m_devices, chosen, layout, *callback)) {
        releaseDevice(chosen);
        return false;
    }
    m_mode = mode;
    return true;
}

bool CWaveOut::Write(const uint8_t* bytes, uint32_t length) { return m_queue.write(bytes, length); }

bool CWaveOut::BufferDone(const WaveDone& message, bool& fewerThanTwo) {
    if (!m_queue.bufferDone(message)) return false;
    fewerThanTwo = m_queue.queuedCount() < 2;
    return true;
}

void CWaveOut::Close() {
    if (m_queue.device() < 0) return;
    const int device = m_queue.device();
    m_queue.close();
    releaseDevice(device);
    m_mode = -1;
}

}  // namespace kx
