// The colour worker: pictures reach a render target adjusted, more than five waiting pictures
// drop the oldest, Stop frees what waits, and a target without pixels ends the worker.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "present/colour_worker.h"
#include "present/display.h"
#include "present/render_target.h"
#include "present/tests/gui_test_support.h"

namespace kx {
namespace {

using namespace std::chrono_literals;

// Waits up to two seconds for `done`.
template <typename Condition>
bool eventually(Condition done) {
    const auto end = std::chrono::steady_clock::now() + 2s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

ColourJob jobOf(uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint8_t value,
                ColourSettings settings) {
    ColourJob job;
    job.pixels.assign(size_t(width) * height * bytesPerPixel, value);
    job.width = width, job.height = height, job.bytesPerPixel = bytesPerPixel;
    job.settings = settings;
    return job;
}

// A 4 x 2 target of 3-byte pixels with padded rows that records the first byte of every
// picture written, and can hold the worker inside GetDesc until the test opens its gate.
class GatedTarget : public CRenderTarget {
public:
    static constexpr uint32_t kPitch = 16;

    int32_t GetDesc(PictureDesc* desc) override {
        std::unique_lock lock(m_mutex);
        ++m_entered;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
        *desc = {};
        desc->bytesPerPixel = 3;
        desc->packed24 = 1;
        desc->pixels = m_givePixels ? m_pixels.data() : nullptr;
        desc->pitch = kPitch;
        desc->width = 4;
        desc->height = 2;
        return 0;
    }
    int32_t Unlock() override {
        std::lock_guard lock(m_mutex);
        written.push_back(m_pixels[0]);
        ++m_unlocks;
        return 0;
    }
    void setOpen(bool open) {
        std::lock_guard lock(m_mutex);
        m_open = open;
        m_changed.notify_all();
    }
    void waitForEntered(int count) {
        std::unique_lock lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, 2s, [&] { return m_entered >= count; }));
    }
    int entered() {
        std::lock_guard lock(m_mutex);
        return m_entered;
    }
    std::vector<uint8_t> writtenSoFar() {
        std::lock_guard lock(m_mutex);
        return written;
    }

    std::vector<uint8_t> m_pixels = std::vector<uint8_t>(kPitch * 2, 0xCD);
    std::vector<uint8_t> written;
    bool m_givePixels = true;
    int m_unlocks = 0;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = true;
    int m_entered = 0;
};

constexpr ColourSettings kNeutral{};

TEST(ColourWorker, PicturesReachARenderTargetAdjusted) {
    test::ensureGuiApplication();
    ASSERT_EQ(CreateDisplay(), 0);
    CRenderTarget target;
    ASSERT_EQ(target.Init(8, 4, nullptr), 0);
    CColourWorker worker;
    EXPECT_EQ(worker.Start(&target), 1);
    EXPECT_EQ(worker.Start(&target), 1);  // a second Start changes nothing
    // Blue 200, green 0, red 40 with brightness 150 and contrast 50 becomes 191, 127, 94.
    ColourJob job;
    job.pixels = worker.TakeBuffer(8 * 4 * 4);
    for (size_t i = 0; i < job.pixels.size(); i += 4)
        job.pixels[i] = 200, job.pixels[i + 1] = 0, job.pixels[i + 2] = 40, job.pixels[i + 3] = 0;
    job.width = 8, job.height = 4, job.bytesPerPixel = 4;
    job.settings = {150, 50, 100, 100};
    ASSERT_TRUE(worker.Post(std::move(job)));
    auto shown = [&] {
        PictureDesc desc;
        if (target.GetDesc(&desc) != 0) return false;
        const uint8_t* last = desc.pixels + 3 * size_t(desc.pitch) + 7 * 4;
        const bool done = last[0] == 191 && last[1] == 127 && last[2] == 94 &&
                          desc.pixels[0] == 191 && desc.pixels[2] == 94;
        target.Unlock();
        return done;
    };
    EXPECT_TRUE(eventually(shown));
    EXPECT_TRUE(worker.IsWorking());
    worker.Stop();
    EXPECT_FALSE(worker.IsWorking());
    target.Release();
    DestroyDisplay();
}

TEST(ColourWorker, MoreThanFiveWaitingPicturesDropTheOldest) {
    GatedTarget target;
    CColourWorker worker;
    worker.Start(&target);
    target.setOpen(false);
    ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, 10, kNeutral)));
    target.waitForEntered(1);  // the worker holds picture 10 inside GetDesc
    for (uint8_t value = 11; value <= 18; ++value)
        ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, value, kNeutral)));
    target.setOpen(true);
    ASSERT_TRUE(eventually([&] { return target.writtenSoFar().size() == 6; }));
    EXPECT_EQ(target.writtenSoFar(), (std::vector<uint8_t>{10, 14, 15, 16, 17, 18}));
    // Padding past each row stays as it was.
    EXPECT_EQ(target.m_pixels[12], 0xCD);
    EXPECT_EQ(target.m_pixels[GatedTarget::kPitch + 12], 0xCD);
    worker.Stop();
}

TEST(ColourWorker, StopWithPicturesWaitingFreesThemAndWritesNoMore) {
    GatedTarget target;
    CColourWorker worker;
    worker.Start(&target);
    target.setOpen(false);
    ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, 20, {120, 100, 100, 100})));
    target.waitForEntered(1);
    for (uint8_t value = 21; value <= 25; ++value)
        ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, value, kNeutral)));
    std::thread opener([&] {
        std::this_thread::sleep_for(100ms);
        target.setOpen(true);
    });
    worker.Stop();  // waits for the picture in hand, then frees the five waiting
    opener.join();
    EXPECT_EQ(target.writtenSoFar(), (std::vector<uint8_t>{24}));  // 20 x 120%
    EXPECT_EQ(target.entered(), 1);
    EXPECT_FALSE(worker.IsWorking());
}

TEST(ColourWorker, ATargetWithoutPixelsEndsTheWorker) {
    // A render target never initialised refuses GetDesc; a target that describes no pixels
    // is left unlocked.
    CRenderTarget uninitialised;
    GatedTarget empty;
    empty.m_givePixels = false;
    for (CRenderTarget* target :
         {static_cast<CRenderTarget*>(&uninitialised), static_cast<CRenderTarget*>(&empty)}) {
        CColourWorker worker;
        worker.Start(target);
        ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, 30, {150, 100, 100, 100})));
        ASSERT_TRUE(eventually([&] { return !worker.IsWorking(); }));
        ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, 31, kNeutral)));  // waits, never written
        std::this_thread::sleep_for(20ms);
        worker.Stop();
    }
    EXPECT_EQ(empty.entered(), 1);
    EXPECT_EQ(empty.m_unlocks, 1);
    EXPECT_EQ(empty.m_pixels[0], 0xCD);
}

TEST(ColourWorker, PicturesOfAnotherSizeOrLayoutAreDroppedNotWrittenPastTheTarget) {
    GatedTarget target;
    CColourWorker worker;
    worker.Start(&target);
    ASSERT_TRUE(worker.Post(jobOf(8, 8, 3, 40, kNeutral)));  // larger than the target
    ASSERT_TRUE(worker.Post(jobOf(4, 2, 4, 41, kNeutral)));  // 4 bytes for a 3-byte target
    ASSERT_TRUE(worker.Post(jobOf(4, 2, 3, 42, kNeutral)));
    ASSERT_TRUE(eventually([&] { return target.writtenSoFar().size() == 3; }));
    EXPECT_EQ(target.writtenSoFar(), (std::vector<uint8_t>{0xCD, 0xCD, 42}));
    EXPECT_TRUE(worker.IsWorking());
    worker.Stop();
}

TEST(ColourWorker, JobsThatDoNotHoldTheirPicturesAreRefused) {
    CColourWorker worker;
    ColourJob shortJob = jobOf(4, 2, 3, 0, kNeutral);
    shortJob.pixels.pop_back();
    EXPECT_FALSE(worker.Post(std::move(shortJob)));
    EXPECT_FALSE(worker.Post(jobOf(4, 2, 2, 0, kNeutral)));
    EXPECT_FALSE(worker.Post(jobOf(0, 2, 3, 0, kNeutral)));
    ColourJob huge;
    huge.width = 100000, huge.height = 1, huge.bytesPerPixel = 3;
    huge.pixels.resize(300000);
    EXPECT_FALSE(worker.Post(std::move(huge)));
}

TEST(ColourWorker, FinishedBuffersAreReusedForLaterPictures) {
    GatedTarget target;
    CColourWorker worker;
    worker.Start(&target);
    ColourJob job = jobOf(4, 2, 3, 50, kNeutral);
    job.pixels.reserve(4096);
    const uint8_t* storage = job.pixels.data();
    ASSERT_TRUE(worker.Post(std::move(job)));
    ASSERT_TRUE(eventually([&] { return target.writtenSoFar().size() == 1; }));
    // The worker gives the buffer back after Unlock; take it once it is there.
    ASSERT_TRUE(eventually([&] {
        std::vector<uint8_t> buffer = worker.TakeBuffer(24);
        return buffer.data() == storage;
    }));
    worker.Stop();
}

}  // namespace
}  // namespace kx
