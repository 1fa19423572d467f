// The printed page of a still picture, as the main view draws it on a printer: the file path in
// lines of 58 characters, the picture at the print scaling (thousandths of an inch per pixel)
// and its "Board:", "Camera:" and "Time:" lines over the picture or above it.
#pragma once

#include <QString>
#include <string>
#include <vector>

class QPagedPaintDevice;
class QPainter;

namespace kx {

class PictureFile;

// Everything is in thousandths of an inch from the top-left corner of the printable area.
constexpr int kPrintLeft = 1500;
constexpr int kPrintTop = 1300;
constexpr int kPrintLineStep = 150;
constexpr int kPrintInPictureIndent = 50;
constexpr size_t kPrintPathLineChars = 58;
// A path longer than this many lines ends in "..." (the page has room for a few only).
constexpr size_t kPrintMaxPathLines = 8;

enum class PrintMode { TextInPicture = 0, TextBeside = 1 };

struct PrintTextLine {
    int x = 0;
    int y = 0;  // top of the line
    QString text;
};

struct PrintPageLayout {
    std::vector<PrintTextLine> pathLines;
    std::vector<PrintTextLine> captionLines;  // Board, Camera, Time
    int pictureX = 0;
    int pictureY = 0;
    int pictureWidth = 0;   // on the page; the scaling's size unless the page is too small
    int pictureHeight = 0;
};

// The page for `picture` shown from `path`. `scaling` (1 to 20; outside, clamped) sizes one
// picture pixel; a picture that would run off the printable area (`pageWidth` x `pageHeight`)
// is made smaller, keeping its proportions, so that it stays whole on the page.
PrintPageLayout layoutPrintPage(const std::string& path, const PictureFile& picture,
                                PrintMode mode, int scaling, int pageWidth, int pageHeight);

// Draws the page on `device` (a printer, its preview or a PDF writer) through `painter`, which
// is active on it.
void drawPrintPage(QPainter& painter, const QPagedPaintDevice& device, const std::string& path,
                   const PictureFile& picture, PrintMode mode, int scaling);

// Prints the page into a PDF file (A4), written under a temporary name and renamed into place.
// False with `error` set when the file cannot be written.
bool printPageToPdf(const std::string& path, const PictureFile& picture, PrintMode mode,
                    int scaling, const std::string& pdfPath, std::string& error);

}  // namespace kx
