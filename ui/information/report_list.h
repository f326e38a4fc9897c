// The look shared by the report lists of the information view: blue-grey text on a grey
// ground, whole rows selected, the selection still shown when the list has no focus, column
// widths kept as set (no stretching), no tree decoration.
#pragma once

#include <QColor>
#include <QTreeView>

inline const QColor kListTextColour(0, 100, 150);
inline const QColor kListBackColour(200, 200, 200);

// Applies the look to `view` (a flat model shown as a report list).
void ApplyReportListLook(QTreeView& view);
