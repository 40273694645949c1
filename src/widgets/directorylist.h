#pragma once

#include <QListWidget>

namespace kelvara {

// The directory list: the tree of one drive. Its entries are the ancestors of the open directory
// from the drive's root down, the open directory (highlighted), then its subdirectories, indented
// like a tree. A double click opens an entry. A file system mounted inside the drive shows as an
// ordinary subdirectory of it; the list stays on its drive.
class DirectoryList : public QListWidget
{
    Q_OBJECT

public:
    // Opens the program's current directory of its current drive.
    explicit DirectoryList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // The drive whose tree the list shows: its top entry.
    QString drive() const { return drive_; }
    // Opens `path`, or its nearest ancestor that is still a directory, in the tree of `drive`; without
    // a drive, in the tree shown when `path` lies in it, else in the tree of the drive of `path`.
    // Raises changed() when the open directory differs from the one before.
    void setPath(const QString& path, const QString& drive = {});

    // The row of the highlighted entry, and the full path of the entry in row k (the open
    // directory's for a row that is not there).
    int highlightedIndex() const { return currentRow(); }
    QString entryPath(int k) const;

signals:
    void changed();
    // A key that produces a character, with its code (13 for Enter).
    void keyPressed(int keyCode);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void rebuild();

    QString path_;
    QString drive_;
};

} // namespace kelvara
