// Render targets: each holds the latest picture of one window and puts it there with the caption.
// CRenderTarget composes in memory at picture size: the picture (or the zoomed part of it, or
// the VIDEO LOST picture), then the caption overlay; the window scales the result. Without the
// shared display, CDibRenderTarget keeps a bottom-up 24-bit picture and draws it stretched to
// the window with a reduced caption and no zoom.
#pragma once

#include <QImage>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "present/caption_info.h"
#include "present/caption_overlay.h"
#include "present/picture_window.h"

namespace kx {

// Where a writer puts a picture's pixels, filled by GetDesc.
struct PictureDesc {
    uint8_t kind = 2;
    uint8_t packed24 = 0;       // 1 when pixels take 3 bytes, 0 when they take 4
    uint8_t bytesPerPixel = 0;  // 3 or 4 (B, G, R and a fourth byte left 0)
    uint8_t reserved = 0;
    uint8_t* pixels = nullptr;  // the first byte of the top row (composing) or the bottom row (DIB)
    int32_t pitch = 0;          // bytes from one row to the next in memory
    uint32_t width = 0;
    uint32_t height = 0;
};

// PutPicture's source formats, in bits 9 to 15 of a descriptor's first word.
constexpr uint32_t kPictureFormatRgb = 0x000;
constexpr uint32_t kPictureFormatRgbToo = 0x200;
constexpr uint32_t kPictureFormatUyvy = 0x400;

// Threads: Init, Release, Draw and PutPicture may be called on one thread (the user interface)
// while another (the colour worker) writes pixels between GetDesc and Unlock. Everything that
// describes the picture (images, DIB buffer, size, mode) changes only while both locks are held,
// so a writer holding the writer lock always sees one consistent size and pixel buffer, and
// Init or Release waits for the writer's Unlock before the buffer goes (the writer's own thread
// must therefore Unlock before it calls them).
class CRenderTarget {
public:
    CRenderTarget();
    virtual ~CRenderTarget();
    CRenderTarget(const CRenderTarget&) = delete;
    CRenderTarget& operator=(const CRenderTarget&) = delete;

    // Allocates the picture and composition images; with `info`, creates the caption overlay
    // at once (otherwise at the first Draw). 0 on success, kRenderNoDevice without the shared
    // display, kRenderNullArgument without a size, 1 when memory is refused.
    virtual int32_t Init(uint32_t width, uint32_t height, const CaptionInfo* info);
    // Frees the images and the overlay; waits for a writer between GetDesc and Unlock.
    virtual int32_t Release();
    // Composes the picture with the caption and hands it to `window`. `info` null means the
    // overlay's own info. Returns 0 when drawn, 1 when nothing was drawn (another thread holds
    // the target for more than 1 ms: the frame is dropped rather than the caller blocked).
    virtual int32_t Draw(PictureWindow* window, const CaptionInfo* info);
    // Stretches a picture of any size into the picture image: RGB of 3 or 4 bytes per pixel
    // (top row first) or UYVY. kRenderUnsupported for another format, 1 in DIB mode.
    virtual int32_t PutPicture(const PictureDesc* picture);
    // Describes the picture for a writer and holds it until Unlock, which the same thread must
    // call; Draw waits for no writer, so a writer must call Unlock before Draw. 1 when there is
    // no picture or the calling thread holds the target already (a second GetDesc would wait
    // for itself).
    virtual int32_t GetDesc(PictureDesc* desc);
    // 0 when the calling thread held the target, 1 otherwise.
    virtual int32_t Unlock();
    // True when pictures are composed in memory with zoom and the full caption.
    virtual bool IsComposing() const;
    // The current picture as 24-bit B, G, R pixels, bottom row first, rows of 3 x width bytes
    // without padding (what snapshots store). False, with the outputs untouched, when the target
    // holds no picture. May be called by a thread that holds the target between GetDesc and
    // Unlock.
    virtual bool CopyPicture(std::vector<uint8_t>& bgrBottomUp, uint32_t& width,
                             uint32_t& height) const;

    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    // The caption overlay, once created; for the thread that calls Init, Release and Draw.
    const CCaptionOverlay* Overlay() const { return m_overlay.get(); }

protected:
    // Allocates the composing images at a checked size; both locks held. 0 or 1 as Init.
    int32_t initComposing(uint32_t width, uint32_t height, const CaptionInfo* info);
    // Frees the composing images and the overlay; both locks held.
    void releaseComposing();
    // Composes and hands the picture to `window`, as Draw; m_lock held.
    int32_t drawComposing(PictureWindow* window, const CaptionInfo* info);
    // Fills `desc` for a writer; the writer lock held. False when there is nothing to write.
    virtual bool describe(PictureDesc* desc);
    // Copies the picture for CopyPicture; the writer lock held.
    virtual bool copyHeld(std::vector<uint8_t>& bgrBottomUp, uint32_t& width,
                          uint32_t& height) const;
    // Holds the writer lock unless the calling thread holds it already (between its GetDesc and
    // Unlock), so the target can be read from either side.
    std::unique_lock<std::timed_mutex> holdPicture() const;

    std::timed_mutex m_lock;                // the whole target, 1 ms limit in Draw
    mutable std::timed_mutex m_writerLock;  // held from GetDesc to Unlock
    // The thread between GetDesc and Unlock; set and cleared only by that thread.
    std::atomic<std::thread::id> m_writer{};
    QImage m_picture;                            // RGB32 (B, G, R, 0 in memory), top row first
    QImage m_composition;                        // RGB32, picture size; m_lock only
    std::unique_ptr<CCaptionOverlay> m_overlay;  // m_lock only
    std::atomic<uint32_t> m_width = 0;
    std::atomic<uint32_t> m_height = 0;
    std::atomic<bool> m_composing = false;
};

class CDibRenderTarget : public CRenderTarget {
public:
    ~CDibRenderTarget() override;
    int32_t Init(uint32_t width, uint32_t height, const CaptionInfo* info) override;
    int32_t Release() override;
    int32_t Draw(PictureWindow* window, const CaptionInfo* info) override;

protected:
    bool describe(PictureDesc* desc) override;
    bool copyHeld(std::vector<uint8_t>& bgrBottomUp, uint32_t& width,
                  uint32_t& height) const override;

private:
    void drawReducedCaption(QImage& image, const CaptionInfo& info) const;

    std::vector<uint8_t> m_dib;  // width x height x 3, bottom row first
    QImage m_windowImage;        // the picture at the window's size, with the caption; m_lock only
    bool m_dibMode = false;
};

}  // namespace kx
