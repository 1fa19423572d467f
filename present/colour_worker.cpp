// The colour worker thread: waits for a job or the stop request, adjusts the job's pixels and
// copies them row by row into the render target through GetDesc and Unlock.
#include "present/colour_worker.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cassert>
#include <cstring>
#include <utility>

#include "present/render_target.h"

namespace kx {
namespace {

// Larger than any picture a render target accepts.
constexpr uint32_t kMaxSide = 8192;
// Buffers kept for reuse: the waiting jobs, the one in hand and the one being filled.
constexpr size_t kSpareBuffers = CColourWorker::kMaxWaiting + 2;
// Below-normal priority: Linux gives each thread its own nice value.
constexpr int kWorkerNice = 5;

}  // namespace

CColourWorker::CColourWorker() {
    m_jobs.reserve(kMaxWaiting + 1);
    m_buffers.reserve(kSpareBuffers);
}

CColourWorker::~CColourWorker() {
    Stop();
}

int32_t CColourWorker::Start(CRenderTarget* target) {
    assert(target);
    if (m_thread.joinable()) return 1;
    {
        std::lock_guard lock(m_mutex);
        m_target = target;
        m_stop = false;
        m_working = true;
    }
    m_thread = std::thread([this] { run(); });
    return 1;
}

bool CColourWorker::Post(ColourJob job) {
    if ((job.bytesPerPixel != 3 && job.bytesPerPixel != 4) || job.width == 0 || job.height == 0 ||
        job.width > kMaxSide || job.height > kMaxSide ||
        job.pixels.size() < size_t(job.width) * job.height * job.bytesPerPixel)
        return false;
    {
        std::lock_guard lock(m_mutex);
        // Old pictures give way to new ones: the worker never lags more than five behind.
        while (m_jobs.size() >= kMaxWaiting) {
            recycle(std::move(m_jobs.front().pixels));
            m_jobs.erase(m_jobs.begin());
        }
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

void CColourWorker::Stop() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    std::lock_guard lock(m_mutex);
    m_jobs.clear();
    m_buffers.clear();
    m_working = false;
}

std::vector<uint8_t> CColourWorker::TakeBuffer(size_t bytes) {
    std::vector<uint8_t> buffer;
    {
        std::lock_guard lock(m_mutex);
        if (!m_buffers.empty()) {
            buffer = std::move(m_buffers.back());
            m_buffers.pop_back();
        }
    }
    buffer.resize(bytes);
    return buffer;
}

bool CColourWorker::IsWorking() const {
    std::lock_guard lock(m_mutex);
    return m_working;
}

void CColourWorker::recycle(std::vector<uint8_t>&& buffer) {
    if (m_buffers.size() < kSpareBuffers) m_buffers.push_back(std::move(buffer));
}

void CColourWorker::run() {
    // Adjustment must not take time from the user interface or the decoder; failing to lower
    // the priority only costs that, so the result is not checked.
    (void)setpriority(PRIO_PROCESS, id_t(gettid()), kWorkerNice);
    for (;;) {
        ColourJob job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
            if (m_stop) return;
            // The job leaves the list before it is worked on, so Post dropping old jobs never
            // touches the picture in hand.
            job = std::move(m_jobs.front());
            m_jobs.erase(m_jobs.begin());
        }
        if (m_adjuster.settings() != job.settings) m_adjuster.setSettings(job.settings);
        m_adjuster.apply({job.pixels.data(), job.width, job.height, job.bytesPerPixel,
                          job.width * job.bytesPerPixel});
        const bool written = writeToTarget(job);
        if (written && m_written) m_written();
        std::lock_guard lock(m_mutex);
        recycle(std::move(job.pixels));
        if (!written) {
            // A target that cannot be written ends the worker until it is started again.
            m_working = false;
            return;
        }
    }
}

bool CColourWorker::writeToTarget(const ColourJob& job) {
    PictureDesc desc;
    if (m_target->GetDesc(&desc) != 0) return false;
    if (!desc.pixels) {
        m_target->Unlock();
        return false;
    }
    // The target may have been made for another recording since the picture was queued: a
    // picture of another size or layout is dropped, never written past the target's rows.
    const size_t rowBytes = size_t(job.width) * job.bytesPerPixel;
    if (desc.width == job.width && desc.height == job.height &&
        desc.bytesPerPixel == job.bytesPerPixel && desc.pitch >= 0 &&
        size_t(desc.pitch) >= rowBytes) {
        for (uint32_t y = 0; y < job.height; ++y)
            std::memcpy(desc.pixels + size_t(y) * size_t(desc.pitch),
                        job.pixels.data() + size_t(y) * rowBytes, rowBytes);
    }
    m_target->Unlock();
    return true;
}

}  // namespace kx
