#pragma once

#include <QIcon>
#include <QToolButton>

// The toolbars' picture buttons and the status lines share one size in both
// browser windows.
namespace WindowMetrics {
inline constexpr int ButtonSize = 40;
inline constexpr int LineHeight = 20;
} // namespace WindowMetrics

inline QToolButton *makePictureButton(QWidget *parent, const QString &icon, const QString &toolTip)
{
    auto *button = new QToolButton(parent);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(WindowMetrics::ButtonSize - 6, WindowMetrics::ButtonSize - 6));
    button->setAutoRaise(true);
    button->setToolTip(toolTip);
    button->resize(WindowMetrics::ButtonSize, WindowMetrics::ButtonSize);
    return button;
}
