// Printing a still picture: the printer dialog, the preview window and the page set-up.
#include "output/widgets/still_printer.h"

#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>

namespace kx {

StillPrinter::StillPrinter() : m_printer(QPrinter::HighResolution) {}

bool StillPrinter::print(QWidget* parent, const std::string& path, const PictureFile& picture,
                         PrintMode mode, int scaling) {
    QPrintDialog dialog(&m_printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted) return false;
    QPainter painter;
    if (!painter.begin(&m_printer)) return false;
    drawPrintPage(painter, m_printer, path, picture, mode, scaling);
    return painter.end();
}

void StillPrinter::preview(QWidget* parent, const std::string& path, const PictureFile& picture,
                           PrintMode mode, int scaling) {
    QPrintPreviewDialog dialog(&m_printer, parent);
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog,
                     [&](QPrinter* printer) {
                         QPainter painter(printer);
                         drawPrintPage(painter, *printer, path, picture, mode, scaling);
                     });
    dialog.exec();
}

void StillPrinter::setup(QWidget* parent) {
    QPageSetupDialog dialog(&m_printer, parent);
    dialog.exec();
}

}  // namespace kx
