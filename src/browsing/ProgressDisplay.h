#pragma once

#include "filter/FilterRules.h"

#include <QProgressBar>

// Shows a view's progress on a bar by the filter's progress rule.
inline void showProgress(QProgressBar *bar, FilterRules::ProgressState &state, qint32 progress, qint32 progressMax)
{
    state = FilterRules::progressFor(progress, progressMax, state);
    bar->setMinimum(0);
    bar->setMaximum(int(state.maximum));
    bar->setValue(int(state.value));
    bar->setVisible(state.visible);
}
