// CColourWorker: adjusts copies of played pictures on a background thread of lower priority and
// writes them into a render target, keeping at most five pictures waiting (the oldest dropped).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "present/colour_adjust.h"

namespace kx {

class CRenderTarget;

// One picture for the worker: width x height pixels of 3 or 4 bytes (the render target's own),
// rows packed in the target's row order, and the settings to adjust it by. The job owns its
// pixels; take the buffer from TakeBuffer so that buffers are reused rather than allocated.
struct ColourJob {
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerPixel = 0;
    ColourSettings settings;
};

// Called from the user interface thread (Start, Post, TakeBuffer, Stop); the worker thread only
// takes jobs and writes into the target, which separates its writes from drawing by its own lock.
class CColourWorker {
public:
    static constexpr size_t kMaxWaiting = 5;

    CColourWorker();
    ~CColourWorker();
    CColourWorker(const CColourWorker&) = delete;
    CColourWorker& operator=(const CColourWorker&) = delete;

    // Starts the worker thread on `target`, which must outlive Stop; nothing when it was
    // started already. Returns 1.
    int32_t Start(CRenderTarget* target);
    // Queues `job`, first dropping the oldest waiting jobs so that at most five wait. A job
    // whose pixels are fewer than its size needs, or not 3 or 4 bytes per pixel, or larger than
    // a picture can be, is refused (false).
    bool Post(ColourJob job);
    // Ends the thread (it finishes the picture in hand) and frees every waiting job.
    void Stop();

    // A buffer of `bytes` bytes for the next job: one the worker has finished with when there
    // is one, so that playing at a constant size allocates nothing.
    std::vector<uint8_t> TakeBuffer(size_t bytes);
    // True between Start and Stop unless the target stopped giving pixels.
    bool IsWorking() const;
    // Called on the worker thread after each adjusted picture is in the target, so that the
    // owner can have it drawn (it must only post). Set before Start.
    void SetWrittenCallback(std::function<void()> written) { m_written = std::move(written); }

private:
    void run();
    // Copies the adjusted job into the target; false when the target has no pixels.
    bool writeToTarget(const ColourJob& job);
    void recycle(std::vector<uint8_t>&& buffer);  // under m_mutex

    CRenderTarget* m_target = nullptr;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;                          // the stop event, under m_mutex
    bool m_working = false;                       // under m_mutex
    std::vector<ColourJob> m_jobs;                // waiting jobs, oldest first, under m_mutex
    std::vector<std::vector<uint8_t>> m_buffers;  // finished buffers for reuse, under m_mutex
    ColourAdjuster m_adjuster;                    // used by the worker thread only
    std::function<void()> m_written;
};

}  // namespace kx
