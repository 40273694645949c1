#pragma once

#include "io/rowsink.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QListView>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// The rows of a hit list, stored end to end as UTF-8 so that a million rows cost little more than
// their text; a row equal to one of the two before it is stored once (the star rows of the header
// blocks, most of a replace's rows). What the commands write to. Appended rows reach the views in
// bulk, when flush() runs: called, or queued by the appending.
class HitListModel : public QAbstractListModel, public RowSink
{
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    int size() const { return int(rows_.size()); }
    std::string_view row(int k) const;
    // Both leave the rows as they were when they run out of memory.
    void appendRow(std::string_view utf8) override;
    void appendRows(std::string_view utf8, std::span<const std::pair<size_t, size_t>> rows) override;
    void flush();
    void clear() override;

private:
    void flushQueued();

    std::string text_;
    std::vector<std::pair<size_t, size_t>> rows_; // where each row starts in text_, and its length
    int shown_ = 0;                               // rows the views know of
    bool flushQueued_ = false;
    QElapsedTimer sinceShown_; // since rows last reached the views
};

// The longest part of a row that the list draws; Qt's text layout fails on rows of a hundred
// megabytes or more, and no one reads that far along one line.
inline constexpr qsizetype MaxShownRowLength = 10000;

// The first MaxShownRowLength UTF-16 units of a row followed by "…", or the whole row when it is no
// longer. The row itself keeps its full text.
QString shownPrefix(std::string_view utf8);

// A row as the list draws it: on one line, with line feeds and other control characters shown as
// symbols (LF as "↵"). The row's text itself is not changed.
QString displayRow(QString text);

// The hit list: a single-selection, unsorted list box of text rows. click() comes when the user
// selects an entry by mouse or keyboard; selections changed from code raise nothing.
class HitList : public QListView
{
    Q_OBJECT

public:
    explicit HitList(QWidget* parent = nullptr);

    int count() const { return model_.size(); }
    QString text(int k) const;
    // The selected entry, -1 when there is none.
    int selectedIndex() const;
    void deselect(int k);
    void addItem(const QString& text);

    void clear();
    // Its rows, for the commands to write.
    HitListModel& rows() { return model_; }
    // Shows the rows appended so far.
    void flush() { model_.flush(); }

signals:
    void click();

protected:
    // A row wider than the list shows whole as its tooltip.
    bool viewportEvent(QEvent* event) override;

private:
    HitListModel model_;
    bool settingFromCode_ = false;
};

} // namespace kelvara
