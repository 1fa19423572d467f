// StillPrinter: Print, Print Preview and Print Setup of the still picture the main view shows,
// through Qt Print Support, with the page of drawPrintPage. It keeps the printer chosen in
// Print Setup for the run of the program.
#pragma once

#include <QPrinter>
#include <string>

#include "output/print_page.h"

class QWidget;

namespace kx {

class PictureFile;

class StillPrinter {
public:
    StillPrinter();
    // The printer dialog, then one page; false when cancelled or not printed.
    bool print(QWidget* parent, const std::string& path, const PictureFile& picture, PrintMode mode,
               int scaling);
    // The preview window of the same page.
    void preview(QWidget* parent, const std::string& path, const PictureFile& picture,
                 PrintMode mode, int scaling);
    // The page set-up dialog of the printer.
    void setup(QWidget* parent);
    QPrinter& printer() { return m_printer; }

private:
    QPrinter m_printer;
};

}  // namespace kx
