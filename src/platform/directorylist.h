#pragma once

#include <QListWidget>

namespace kelvara {

// The directory list: the ancestors of the open directory from the root down, the open directory
// (highlighted), then its subdirectories, indented like a tree. A double click opens an entry.
class DirectoryList : public QListWidget
{
    Q_OBJECT

public:
    // Opens the program's current directory of its current drive.
    explicit DirectoryList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // Opens `path`, or its nearest ancestor that is still a directory. Raises changed() when the open
    // directory differs from the one before.
    void setPath(const QString& path);

    // The row of the highlighted entry, and the full path of the entry in row k (the open
    // directory's for a row that is not there).
    int highlightedIndex() const { return currentRow(); }
    QString entryPath(int k) const;
    // The row of the open directory.
    int openIndex() const { return openRow_; }

signals:
    void changed();
    // A key that produces a character, with its code (13 for Enter).
    void keyPressed(int keyCode);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void rebuild();

    QString path_;
    int openRow_ = 0;
};

} // namespace kelvara
