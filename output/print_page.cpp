// The printed page of a still picture: its layout in thousandths of an inch, the drawing on a
// paged device, and the PDF output of kxtool print.
#include "output/print_page.h"

#include <QFont>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <unistd.h>

#include "codec/picture/picture_file.h"
#include "recording/recorder_text.h"

namespace kx {
namespace {

QString fromRecorder(const std::string& text) {
    return QString::fromStdString(recorderTextToUtf8(text));
}

QString printedTime(const PictureFile& picture) {
    if (!(picture.flags() & kPictureHasTime)) return {};
    const std::time_t time = picture.time();
    std::tm parts{};
    localtime_r(&time, &parts);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y/%m/%d,%H:%M:%S", &parts);
    return QString::fromLatin1(text);
}

// B, G, R rows bottom first as an upright image.
QImage pictureImage(const PictureFile& picture) {
    uint32_t width = 0;
    uint32_t height = 0;
    const uint8_t* pixels = picture.getPixels(width, height);
    if (!pixels) return {};
    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* source = pixels + size_t(height - 1 - y) * width * 3;
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(int(y)));
        for (uint32_t x = 0; x < width; ++x)
            row[x] = 0xFF000000u | uint32_t(source[3 * x + 2]) << 16 |
                     uint32_t(source[3 * x + 1]) << 8 | source[3 * x];
    }
    return image;
}

}  // namespace

PrintPageLayout layoutPrintPage(const std::string& path, const PictureFile& picture,
                                PrintMode mode, int scaling, int pageWidth, int pageHeight) {
    PrintPageLayout page;
    int y = kPrintTop;
    const QString whole = QString::fromStdString(path);
    const auto chars = qsizetype(kPrintPathLineChars);
    for (qsizetype at = 0; at < whole.size(); at += chars) {
        QString line = whole.mid(at, chars);
        if (page.pathLines.size() + 1 == kPrintMaxPathLines && at + chars < whole.size()) {
            line = line.left(chars - 3) + QStringLiteral("...");
            page.pathLines.push_back({kPrintLeft, y, line});
            y += kPrintLineStep;
            break;
        }
        page.pathLines.push_back({kPrintLeft, y, line});
        y += kPrintLineStep;
    }

    const QString captions[3] = {QStringLiteral("Board: ") + fromRecorder(picture.boardName()),
                                 QStringLiteral("Camera: ") + fromRecorder(picture.cameraName()),
                                 QStringLiteral("Time: ") + printedTime(picture)};
    const int textX = mode == PrintMode::TextBeside ? kPrintLeft : kPrintLeft + kPrintInPictureIndent;
    const int textY = mode == PrintMode::TextBeside ? y : y + kPrintInPictureIndent;
    for (int i = 0; i < 3; ++i)
        page.captionLines.push_back({textX, textY + i * kPrintLineStep, captions[i]});
    if (mode == PrintMode::TextBeside) y += 3 * kPrintLineStep;

    page.pictureX = kPrintLeft;
    page.pictureY = y;
    const int64_t perPixel = std::clamp(scaling, 1, 20);
    int64_t width = int64_t(picture.width()) * perPixel;
    int64_t height = int64_t(picture.height()) * perPixel;
    // The room right of and below the picture's corner; a picture larger than that shrinks.
    const int64_t roomX = std::max(pageWidth - page.pictureX, 1);
    const int64_t roomY = std::max(pageHeight - page.pictureY, 1);
    if (width > roomX || height > roomY) {
        if (width * roomY > height * roomX) {
            height = std::max<int64_t>(1, height * roomX / width);
            width = roomX;
        } else {
            width = std::max<int64_t>(1, width * roomY / height);
            height = roomY;
        }
    }
    page.pictureWidth = int(width);
    page.pictureHeight = int(height);
    return page;
}

void drawPrintPage(QPainter& painter, const QPagedPaintDevice& device, const std::string& path,
                   const PictureFile& picture, PrintMode mode, int scaling) {
    const double dotsPerX = device.logicalDpiX() / 1000.0;
    const double dotsPerY = device.logicalDpiY() / 1000.0;
    const int pageWidth = int(device.width() / dotsPerX);
    const int pageHeight = int(device.height() / dotsPerY);
    const PrintPageLayout page = layoutPrintPage(path, picture, mode, scaling, pageWidth, pageHeight);

    painter.save();
    painter.scale(dotsPerX, dotsPerY);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(110);  // 0.11 inch, about 8 points, on the 0.15 inch line step
    painter.setFont(font);
    painter.setPen(Qt::black);
    const auto drawLine = [&](const PrintTextLine& line) {
        painter.drawText(QRectF(line.x, line.y, pageWidth - line.x, kPrintLineStep),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, line.text);
    };
    for (const PrintTextLine& line : page.pathLines) drawLine(line);

    const QImage image = pictureImage(picture);
    if (!image.isNull())
        painter.drawImage(QRectF(page.pictureX, page.pictureY, page.pictureWidth, page.pictureHeight),
                          image);
    if (mode == PrintMode::TextInPicture) {
        // On the picture the lines stand on a white band, readable on any picture and on paper.
        const QFontMetricsF metrics(font, &device);
        double widest = 0;
        for (const PrintTextLine& line : page.captionLines)
            widest = std::max(widest, metrics.horizontalAdvance(line.text));
        const PrintTextLine& first = page.captionLines.front();
        const QRectF band(first.x - 20, first.y - 10, widest / dotsPerX + 40,
                          3 * kPrintLineStep + 10);
        painter.fillRect(band.intersected(QRectF(page.pictureX, page.pictureY, page.pictureWidth,
                                                 page.pictureHeight)),
                         Qt::white);
    }
    for (const PrintTextLine& line : page.captionLines) drawLine(line);
    painter.restore();
}

bool printPageToPdf(const std::string& path, const PictureFile& picture, PrintMode mode,
                    int scaling, const std::string& pdfPath, std::string& error) {
    const std::filesystem::path target(pdfPath);
    const std::filesystem::path partial =
        target.parent_path() /
        ("." + target.filename().string() + ".part-" + std::to_string(::getpid()));
    {
        QPdfWriter writer(QString::fromStdString(partial.string()));
        writer.setResolution(1200);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(6.35, 6.35, 6.35, 6.35), QPageLayout::Millimeter);
        writer.setTitle(QString::fromStdString(path));
        writer.setCreator(QStringLiteral("KX Player"));
        QPainter painter;
        if (!painter.begin(&writer)) {
            error = "cannot write " + pdfPath;
            std::filesystem::remove(partial);
            return false;
        }
        drawPrintPage(painter, writer, path, picture, mode, scaling);
        if (!painter.end()) {
            error = "cannot write " + pdfPath;
            std::filesystem::remove(partial);
            return false;
        }
    }
    std::error_code code;
    if (!std::filesystem::exists(partial, code) || std::filesystem::file_size(partial, code) == 0) {
        error = "cannot write " + pdfPath;
        std::filesystem::remove(partial, code);
        return false;
    }
    std::filesystem::rename(partial, target, code);
    if (code) {
        error = "cannot write " + pdfPath + ": " + code.message();
        std::filesystem::remove(partial, code);
        return false;
    }
    return true;
}

}  // namespace kx
