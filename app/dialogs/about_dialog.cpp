// The About box: icon and version line at the top, a "Keyboard" table of keys and actions, OK.
#include "app/dialogs/about_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "present/widgets/control_names.h"
#include "app/dialogs/program_icon.h"

namespace kx {
namespace {

constexpr int kIconSize = 32;

QLabel* plainLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setObjectName(objectName);
    label->setAccessibleName(text);
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About KX Player"));
    const QIcon icon = programIcon();
    setWindowIcon(icon);

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("icon"));
    iconLabel->setAccessibleName(QStringLiteral("KX Player icon"));
    iconLabel->setPixmap(icon.pixmap(kIconSize, kIconSize));
    auto* top = new QHBoxLayout;
    top->addWidget(iconLabel);
    top->addWidget(
        plainLabel(QString::fromLatin1(kAboutVersionLine), QStringLiteral("version"), this));
    top->addStretch(1);

    auto* keys = new QGroupBox(QStringLiteral("Keyboard"), this);
    keys->setObjectName(QStringLiteral("keyboard"));
    keys->setAccessibleName(keys->title());
    auto* grid = new QGridLayout(keys);
    for (size_t i = 0; i < kKeyboardControls.size(); ++i) {
        const KeyboardControl& control = kKeyboardControls[i];
        grid->addWidget(
            plainLabel(QString::fromLatin1(control.keys), QStringLiteral("key%1").arg(i), keys),
            int(i), 0);
        grid->addWidget(plainLabel(QString::fromLatin1(control.action),
                                   QStringLiteral("action%1").arg(i), keys),
                        int(i), 1);
    }
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    nameControl(buttons->button(QDialogButtonBox::Ok), kIdOk, QStringLiteral("OK"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(keys);
    layout->addWidget(buttons);
}

void showAboutDialog(QWidget* parent) {
    CAboutDlg dialog(parent);
    dialog.exec();
}

}  // namespace kx
