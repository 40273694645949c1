#include "directorylist.h"

#include "io/directory.h"
#include "io/volumes.h"
#include "text/pathcodec.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

namespace kelvara {

namespace {

constexpr int DepthRole = Qt::UserRole;
constexpr int PathRole = Qt::UserRole + 1;

// Indents each entry by its depth in the tree.
class TreeIndentDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(option.rect.left() + indentOf(index, option));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += indentOf(index, option);
        return size;
    }

private:
    static int indentOf(const QModelIndex& index, const QStyleOptionViewItem& option)
    {
        return index.data(DepthRole).toInt() * option.fontMetrics.height() * 2 / 3;
    }
};

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

} // namespace

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new TreeIndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { setPath(item->data(PathRole).toString()); });
    const QString drive = volumes().currentDrive();
    setPath(volumes().currentDirectory(drive), drive);
}

void DirectoryList::setPath(const QString& path, const QString& drive)
{
    QString target = cleanAbsolutePath(path);
    QString top = drive.isEmpty() ? drive_ : cleanAbsolutePath(drive);
    if (top.isEmpty() || !isWithin(target, top))
        top = drive.isEmpty() ? volumes().driveOf(target) : top;
    if (!isWithin(target, top))
        target = top;
    while (target != top && target != QLatin1String("/") && !isDirectory(target))
        target = parentOf(target);
    if (target == path_ && top == drive_)
        return;
    const bool moved = target != path_;
    path_ = target;
    drive_ = top;
    rebuild();
    if (moved)
        emit changed();
}

QString DirectoryList::entryPath(int k) const
{
    const QListWidgetItem* entry = item(k);
    return entry ? entry->data(PathRole).toString() : path_;
}

void DirectoryList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit keyPressed(13);
        return;
    }
    if (!event->text().isEmpty())
        emit keyPressed(event->text().at(0).unicode());
    QListWidget::keyPressEvent(event);
}

void DirectoryList::rebuild()
{
    clear();
    const QIcon openFolder = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedFolder = style()->standardIcon(QStyle::SP_DirClosedIcon);
    auto add = [this](const QIcon& icon, const QString& text, const QString& path, int depth) {
        auto* entry = new QListWidgetItem(icon, displayPath(text), this);
        entry->setData(PathRole, path);
        entry->setData(DepthRole, depth);
        entry->setToolTip(displayPath(path));
    };

    QStringList chain{path_}; // the directories from the drive's top down to the open one
    while (chain.front() != drive_ && chain.front() != QLatin1String("/"))
        chain.prepend(parentOf(chain.front()));
    // The drive's root shows its full text, so the top entry names the drive as the drive list does.
    for (int depth = 0; depth < chain.size(); ++depth)
        add(openFolder, depth == 0 ? chain[0] : chain[depth].section(QLatin1Char('/'), -1), chain[depth],
            depth);

    std::vector<DirectoryEntry> subdirectories;
    if (!listSubdirectories(path_, subdirectories)) {
        for (const DirectoryEntry& dir : subdirectories)
            add(closedFolder, dir.text, joinPath(path_, dir.text), int(chain.size()));
    }
    setCurrentRow(int(chain.size()) - 1);
}

} // namespace kelvara
