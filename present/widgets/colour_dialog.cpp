// The "Color Configuration" dialog: a "Color control" group of four labelled horizontal scroll
// bars, and OK, Cancel and "&Default" buttons.
#include "present/widgets/colour_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <cassert>
#include <utility>

namespace kx {
namespace {

constexpr int kLineStep = 1;
constexpr int kPageStep = 10;

struct ControlText {
    int id;
    const char* label;
};
constexpr ControlText kControls[] = {{kColourBrightnessId, "Brightness"},
                                     {kColourContrastId, "Contrast"},
                                     {kColourSaturationId, "Saturation"},
                                     {kColourHueId, "Hue"}};

}  // namespace

QPoint colourDialogPosition(const QRect& screen) {
    const int x = screen.width() / 2 + 163;
    const int y = screen.height() / 2 + 109;
    // On a screen narrower than about 866 or lower than about 698 pixels the rule alone would
    // put part of the dialog off the screen.
    return {screen.left() + std::max(0, std::min(x, screen.width() - CColourDialog::kWidth)),
            screen.top() + std::max(0, std::min(y, screen.height() - CColourDialog::kHeight))};
}

CColourDialog::CColourDialog(const ColourSettings& settings, SetColourFunction setColour,
                             QWidget* parent)
    : QDialog(parent), m_opened(settings), m_setColour(std::move(setColour)) {
    assert(m_setColour);
    setWindowTitle(QStringLiteral("Color Configuration"));
    auto* group = new QGroupBox(QStringLiteral("Color control"), this);
    auto* grid = new QGridLayout(group);
    const int values[] = {settings.brightness, settings.contrast, settings.saturation,
                          settings.hue};
    for (size_t i = 0; i < m_bars.size(); ++i) {
        auto* label = new QLabel(QString::fromLatin1(kControls[i].label), group);
        auto* bar = new QScrollBar(Qt::Horizontal, group);
        bar->setObjectName(QString::number(kControls[i].id));
        bar->setRange(kColourMinimum, kColourMaximum);
        bar->setSingleStep(kLineStep);
        bar->setPageStep(kPageStep);
        bar->setValue(values[i]);
        label->setBuddy(bar);
        grid->addWidget(label, int(i), 0);
        grid->addWidget(bar, int(i), 1);
        // Line, page and thumb moves all change the value (tracking is on, so the thumb counts
        // while it is dragged); the view sees every change at once.
        connect(bar, &QScrollBar::valueChanged, this, [this] { notify(); });
        m_bars[i] = bar;
    }
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* defaults = buttons->addButton(QStringLiteral("&Default"), QDialogButtonBox::ResetRole);
    defaults->setObjectName(QString::number(kColourDefaultId));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(defaults, &QPushButton::clicked, this, [this] { restoreDefaults(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    setFixedSize(kWidth, kHeight);
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) move(colourDialogPosition(screen->geometry()));
}

ColourSettings CColourDialog::current() const {
    return {m_bars[0]->value(), m_bars[1]->value(), m_bars[2]->value(), m_bars[3]->value()};
}

void CColourDialog::restoreDefaults() {
    for (QScrollBar* bar : m_bars) {
        const QSignalBlocker quiet(bar);  // one SetColour for the four, not one each
        bar->setValue(kColourNeutral);
    }
    notify();
}

void CColourDialog::reject() {
    const int values[] = {m_opened.brightness, m_opened.contrast, m_opened.saturation,
                          m_opened.hue};
    for (size_t i = 0; i < m_bars.size(); ++i) {
        const QSignalBlocker quiet(m_bars[i]);
        m_bars[i]->setValue(values[i]);
    }
    m_setColour(m_opened.brightness, m_opened.contrast, m_opened.saturation, m_opened.hue);
    QDialog::reject();
}

void CColourDialog::notify() const {
    const ColourSettings now = current();
    m_setColour(now.brightness, now.contrast, now.saturation, now.hue);
}

}  // namespace kx
