// CPrintModeDlg: "Print Mode", where the caption lines go on the printed page (in the picture
// or beside it) and the print scaling, an integer from 1 to 20.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLineEdit;
class QRadioButton;

namespace kx {

constexpr int kPrintTextInPictureId = 1030;
constexpr int kPrintTextBesideId = 1031;
constexpr int kPrintScalingId = 1032;

constexpr int kPrintModeTextInPicture = 0;
constexpr int kPrintModeTextBeside = 1;
constexpr int kMinPrintScaling = 1;
constexpr int kMaxPrintScaling = 20;

// The scaling typed in the field: an integer (surrounding blanks allowed) from 1 to 20, or
// nothing.
std::optional<int> parsePrintScaling(const QString& text);

class CPrintModeDlg : public QDialog {
public:
    // Opens with `mode` (any value other than kPrintModeTextBeside selects "Print text in
    // picture") and `scaling` in the field.
    CPrintModeDlg(int mode, int scaling, QWidget* parent = nullptr);

    int mode() const;
    // The field's value when it holds a valid scaling.
    std::optional<int> scaling() const;

    // OK: with a valid scaling the dialog closes; otherwise it says "Please enter an integer
    // between 1 and 20.", selects the field and stays open.
    void accept() override;

    // Runs the dialog modally; on OK stores the mode and scaling and returns true, on Cancel
    // changes nothing and returns false.
    static bool run(QWidget* parent, int& mode, int& scaling);

private:
    QRadioButton* m_inPicture = nullptr;
    QRadioButton* m_beside = nullptr;
    QLineEdit* m_scaling = nullptr;
};

}  // namespace kx
