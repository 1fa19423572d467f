// CCaptionOverlay: draws a CaptionInfo over a composed picture. Names and the time-zone text are
// rendered into a text surface only when they change; the time lines are built from a glyph
// atlas of digits and separators, and only the characters that changed are copied. Everything
// reaches the picture with black as the transparent colour, so a black caption is invisible.
#pragma once

#include <QFont>
#include <QImage>
#include <cstdint>
#include <mutex>

#include "present/caption_info.h"
#include "present/caption_layout.h"

namespace kx {

class CCaptionOverlay {
public:
    CCaptionOverlay();
    ~CCaptionOverlay();
    CCaptionOverlay(const CCaptionOverlay&) = delete;
    CCaptionOverlay& operator=(const CCaptionOverlay&) = delete;

    // Copies `info` as the overlay's own and renders the names, the time-zone text, the glyph
    // atlas and the time lines for a picture of the given size. 0 on success; 1 without info or
    // size, or when the surfaces cannot be allocated.
    int32_t Init(const CaptionInfo* info, int pictureWidth, int pictureHeight);
    void Release();
    // Renders the text surface and the glyph atlas again from the overlay's own info.
    int32_t Restore();

    // The rectangle R the caption is placed in (the zoom rectangle or the whole picture),
    // halved in the Half scale mode.
    CaptionRect SourceRect() const;

    // Draws onto `composition` (picture size): motion outlines, then, unless the caption is
    // hidden, the icons and the texts whose flags are set. `info` may be the overlay's own copy
    // (Info()); otherwise its flags, zoom rectangle and motion block are taken over and its texts
    // and colours compared with what is rendered. Skipped when another thread is drawing.
    void Draw(QImage& composition, const CaptionInfo* info);

    const CaptionInfo& Info() const { return m_info; }
    bool IsInitialised() const { return !m_text.isNull(); }

    // The work done on the time lines since Init: glyphs copied into lines that kept their
    // length, and rebuilds of the atlas and all four lines (a shown line changed its length, or
    // the time colour changed).
    int GlyphCopies() const { return m_glyphCopies; }
    int DigitRebuilds() const { return m_digitRebuilds; }

private:
    static constexpr int kGlyphCount = 16;

    void renderNames();
    void renderNameSlot(CaptionElement element, std::string_view text, uint32_t colour);
    void buildAtlas();
    void renderDigitLine(CaptionElement element, std::string_view text);
    void renderDigitLines();
    void clearSlot(CaptionElement element);
    void copyGlyph(CaptionElement element, int index, char character);
    // Brings the slot of a name or time-zone element up to date with `info`.
    void updateNameSlot(CaptionElement element, const CaptionInfo& info);
    void updateDigitLine(CaptionElement element, const CaptionInfo& info);
    void drawOutlines(QImage& composition) const;
    void drawIcon(QImage& composition, uint32_t key, CaptionElement element,
                  const CaptionRect& frame);

    // A display icon with black made transparent, keyed again only when the display's icon
    // is replaced (its cache key changes).
    struct KeyedIcon {
        qint64 sourceKey = 0;
        QImage keyed;
    };

    std::timed_mutex m_lock;
    QFont m_font;
    QImage m_text;   // 320 x 148, transparent where nothing is rendered
    QImage m_atlas;  // 16 cells of m_cellWidth x m_cellHeight
    int m_cellWidth = 0;
    int m_cellHeight = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    CaptionInfo m_info;  // what is rendered now
    int m_glyphCopies = 0;
    int m_digitRebuilds = 0;
    KeyedIcon m_loudspeaker;
    KeyedIcon m_hand;
};

// The glyph cell of a character of a time line: 0 to 9 for the digits, 10 ':', 11 '/', 12 ',',
// 13 ' ', 14 '-'; -1 for a character without a glyph.
int captionGlyphIndex(char character);

// COLORREF (0x00BBGGRR) as an opaque Qt colour.
QColor captionColour(uint32_t colourRef);

}  // namespace kx
