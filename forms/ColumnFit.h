#pragma once

#include <QList>

class QTreeView;

// Widens the given columns of a list to the widest text of the rows it has shown, never below the width each was
// given: a quantity or an amount is never cut to "1234567…", and a list whose columns outgrow it scrolls sideways.
// Only the rows that are painted are measured, so a list of a million lazily read rows costs no more than a short one.
void widenColumnsToText(QTreeView* view, const QList<int>& columns);
