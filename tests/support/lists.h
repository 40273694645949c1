#pragma once

// Reading and clicking the file list and the hit list as the user sees them.

#include "rows.h"
#include "widgets/filelist.h"
#include "widgets/hitlist.h"

#include <QTest>

namespace kelvara::test {

inline QStringList rowsOf(const HitList& list)
{
    QStringList rows;
    for (int k = 0; k < list.count(); ++k)
        rows.append(list.text(k));
    return rows;
}

inline QList<int> selectedEntries(const FileList& list)
{
    QList<int> selected;
    for (int k = 0; k < list.files().entryCount(); ++k)
        if (list.files().isEntrySelected(k))
            selected.append(k);
    return selected;
}

inline void clickRow(QListView& list, int row)
{
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                      list.visualRect(list.model()->index(row, 0)).center());
}

} // namespace kelvara::test
