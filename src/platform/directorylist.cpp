#include "directorylist.h"

#include "directory.h"
#include "pathcodec.h"
#include "volumes.h"

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

bool isRoot(const QString& path)
{
    return path == QLatin1String("/");
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The directories from the root down to `path`, `path` included.
QStringList chainTo(const QString& path)
{
    QStringList chain{path};
    while (!isRoot(chain.front()))
        chain.prepend(parentOf(chain.front()));
    return chain;
}

QString nameOf(const QString& path)
{
    return isRoot(path) ? path : path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

DirectoryList::DirectoryList(QWidget* parent) : QListWidget(parent)
{
    setItemDelegate(new TreeIndentDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { setPath(item->data(PathRole).toString()); });
    path_ = cleanAbsolutePath(volumes().currentDirectory(volumes().currentDrive()));
    rebuild();
}

void DirectoryList::setPath(const QString& path)
{
    QString target = cleanAbsolutePath(path);
    while (!isRoot(target) && !isDirectory(target))
        target = parentOf(target);
    if (target == path_)
        return;
    path_ = target;
    rebuild();
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

    const QStringList chain = chainTo(path_);
    for (int depth = 0; depth < chain.size(); ++depth)
        add(openFolder, nameOf(chain[depth]), chain[depth], depth);
    openRow_ = int(chain.size()) - 1;

    std::vector<DirectoryEntry> subdirectories;
    if (!listSubdirectories(path_, subdirectories)) {
        for (const DirectoryEntry& dir : subdirectories)
            add(closedFolder, dir.text, joinPath(path_, dir.text), int(chain.size()));
    }
    setCurrentRow(openRow_);
}

} // namespace kelvara
