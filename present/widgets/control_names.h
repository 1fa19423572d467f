// How the dialogs name their controls: the object name "id<control id>" (what tests and the
// application look controls up by) and the accessible name (what screen readers say).
#pragma once

#include <QString>
#include <QWidget>

namespace kx {

// The standard buttons' control ids.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

inline QString controlObjectName(int id) {
    return QStringLiteral("id%1").arg(id);
}

inline void nameControl(QWidget* control, int id, const QString& accessibleName) {
    control->setObjectName(controlObjectName(id));
    control->setAccessibleName(accessibleName);
}

}  // namespace kx
