// Render targets: each holds the latest picture of one window and puts it there with the caption.
// CRenderTarget composes in memory at picture size: the picture (or the zoomed part of it, or
// the VIDEO LOST picture), then the caption overlay; the window scales the result. Without the
// shared display, CDibRenderTarget keeps a bottom-up 24-bit picture and draws it stretched to
// the window with a reduced caption and no zoom.
#pragma once

#include <QImage>
#include <cstdint>
#include <memory>
#include <mutex>
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
    // Describes the picture image for a writer and holds it until Unlock; Draw waits for no
    // writer, so a writer must call Unlock before Draw.
    virtual int32_t GetDesc(PictureDesc* desc);
    virtual int32_t Unlock();
    // True when pictures are composed in memory with zoom and the full caption.
    virtual bool IsComposing() const;

    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    // The caption overlay, once created.
    const CCaptionOverlay* Overlay() const { return m_overlay.get(); }

protected:
    std::timed_mutex m_lock;        // the whole target, 1 ms limit in Draw
    std::timed_mutex m_writerLock;  // held from GetDesc to Unlock
    bool m_writerHeld = false;      // changed only by the thread that holds m_writerLock
    QImage m_picture;               // RGB32 (B, G, R, 0 in memory), top row first
    QImage m_composition;           // RGB32, picture size
    std::unique_ptr<CCaptionOverlay> m_overlay;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
};

class CDibRenderTarget : public CRenderTarget {
public:
    int32_t Init(uint32_t width, uint32_t height, const CaptionInfo* info) override;
    int32_t Release() override;
    int32_t Draw(PictureWindow* window, const CaptionInfo* info) override;
    int32_t GetDesc(PictureDesc* desc) override;
    int32_t Unlock() override;

private:
    void drawReducedCaption(QImage& image, const CaptionInfo& info) const;

    std::vector<uint8_t> m_dib;  // width x height x 3, bottom row first
    QImage m_windowImage;        // the picture at the window's size, with the caption
    bool m_dibMode = false;
};

}  // namespace kx
