#include "hitlist.h"

#include <QHelpEvent>
#include <QScopedValueRollback>
#include <QStringDecoder>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <array>

namespace kelvara {

namespace {

// A row's characters, every one: Qt's plain UTF-8 decoding drops a byte-order mark at the start,
// which the first line of many files holds.
QString decodeRow(std::string_view utf8)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(utf8.data(), qsizetype(utf8.size())));
}

} // namespace

int HitListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : shown_;
}

QVariant HitListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= shown_)
        return {};
    return displayRow(shownPrefix(row(index.row())));
}

std::string_view HitListModel::row(int k) const
{
    if (k < 0 || k >= size())
        return {};
    const auto [begin, length] = rows_[size_t(k)];
    return std::string_view(text_).substr(begin, length);
}

void HitListModel::appendRow(std::string_view utf8)
{
    appendRows(utf8, std::array{std::pair<size_t, size_t>(0, utf8.size())});
}

void HitListModel::appendRows(std::string_view utf8, std::span<const std::pair<size_t, size_t>> rows)
{
    size_t bytes = 0;
    for (const auto& [offset, length] : rows)
        bytes += length;
    // Room first, so that nothing is appended unless all of it is; grown by halves, as appending
    // would.
    const auto makeRoom = [](auto& v, size_t more) {
        if (v.capacity() - v.size() < more)
            v.reserve(std::max(v.size() + more, v.capacity() + v.capacity() / 2));
    };
    makeRoom(text_, bytes);
    makeRoom(rows_, rows.size());
    for (const auto& [offset, length] : rows) {
        const std::string_view text = utf8.substr(offset, length);
        const int n = size();
        if (n >= 1 && row(n - 1) == text) {
            rows_.push_back(rows_[size_t(n - 1)]);
        } else if (n >= 2 && row(n - 2) == text) {
            rows_.push_back(rows_[size_t(n - 2)]);
        } else {
            rows_.emplace_back(text_.size(), text.size());
            text_.append(text);
        }
    }
    // Whoever appends in a loop gets one notice to the views when control returns to the event loop.
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &HitListModel::flushQueued, Qt::QueuedConnection);
    }
}

// Rows shown make a list view lay out all its rows again. While rows keep coming, they are shown at
// intervals that grow with the rows already shown (4 µs for each), else filling the list would cost
// the square of its rows; the layouts take the window's thread a few per cent of a command's time.
void HitListModel::flushQueued()
{
    const qint64 wait = shown_ / 250 - (sinceShown_.isValid() ? sinceShown_.elapsed() : shown_);
    if (wait > 0)
        QTimer::singleShot(wait, this, &HitListModel::flushQueued);
    else
        flush();
}

void HitListModel::flush()
{
    flushQueued_ = false;
    if (shown_ == size())
        return;
    sinceShown_.start();
    beginInsertRows({}, shown_, size() - 1);
    shown_ = size();
    endInsertRows();
}

void HitListModel::clear()
{
    beginResetModel();
    std::string().swap(text_);
    std::vector<std::pair<size_t, size_t>>().swap(rows_);
    shown_ = 0;
    endResetModel();
}

QString shownPrefix(std::string_view utf8)
{
    // No character takes more than 4 bytes, so these many decode to more than the prefix; a
    // character cut at their end lies beyond it.
    constexpr size_t Enough = 4 * size_t(MaxShownRowLength) + 4;
    const bool cut = utf8.size() > Enough;
    QString text = decodeRow(utf8.substr(0, Enough));
    if (!cut && text.size() <= MaxShownRowLength)
        return text;
    qsizetype length = std::min(text.size(), MaxShownRowLength);
    if (text[length - 1].isHighSurrogate())
        --length;
    text.truncate(length);
    return text + QChar(0x2026);
}

QString displayRow(QString text)
{
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n')
            c = QChar(char16_t(0x21B5)); // ↵: common fonts have it, unlike the control picture ␊
        else if (u < 0x20 && u != u'\t')
            c = QChar(char16_t(0x2400 + u)); // the Control Pictures block
        else if (u == 0x7F)
            c = QChar(char16_t(0x2421));
        else if ((u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
            c = QChar(char16_t(0xFFFD)); // would break or vanish: NEL, line and paragraph separators
    }
    return text;
}

HitList::HitList(QWidget* parent) : QListView(parent), model_(this)
{
    setModel(&model_);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideNone);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!settingFromCode_)
            emit click();
    });
}

QString HitList::text(int k) const
{
    return decodeRow(model_.row(k));
}

int HitList::selectedIndex() const
{
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void HitList::deselect(int k)
{
    const QScopedValueRollback quiet(settingFromCode_, true);
    selectionModel()->select(model_.index(k), QItemSelectionModel::Deselect);
}

void HitList::addItem(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    model_.appendRow(std::string_view(utf8.constData(), size_t(utf8.size())));
}

void HitList::clear()
{
    const QScopedValueRollback quiet(settingFromCode_, true);
    model_.clear();
}

bool HitList::viewportEvent(QEvent* event)
{
    if (event->type() != QEvent::ToolTip)
        return QListView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString shown = index.data().toString();
    if (!index.isValid() ||
        visualRect(index).left() + fontMetrics().horizontalAdvance(shown) + 2 * spacing() + 6 <=
            viewport()->width()) {
        QToolTip::hideText();
        return true;
    }
    // Wrapped to the tooltip's width; a row longer than a screen of text is cut short.
    constexpr qsizetype MaxShown = 3000;
    const QString text = shown.size() > MaxShown ? shown.left(MaxShown) + QChar(0x2026) : shown;
    QToolTip::showText(help->globalPos(),
                       QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() +
                           QStringLiteral("</p>"),
                       viewport(), visualRect(index));
    return true;
}

} // namespace kelvara
