#pragma once

#include "fileerror.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace kelvara {

// A name in a directory: the bytes the file system holds, and the same as path text (pathcodec.h).
struct DirectoryEntry
{
    QByteArray name;
    QString text;
};

// The regular files of a directory (symbolic links to regular files count), without hidden dot-files,
// sorted by name case-insensitively, ties case-sensitively. FIFOs, sockets and devices are left out.
std::optional<FileError> listFiles(const QString& directory, std::vector<DirectoryEntry>& files);

// The subdirectories of a directory (symbolic links to directories count), without hidden ones,
// in the same order as listFiles.
std::optional<FileError> listSubdirectories(const QString& directory, std::vector<DirectoryEntry>& dirs);

// The name of the first ordinary (non-directory) entry of a directory, empty when there is none.
// Fails with the file error when the directory cannot be opened or read.
std::optional<FileError> firstOrdinaryEntry(const QString& directory, QString& name);

// `directory` + "/" + `name`, without doubling the separator after the root.
QString joinPath(const QString& directory, const QString& name);

// True when the absolute `path` is `dir` or lies below it, on whole path components.
bool isWithin(const QString& path, const QString& dir);

// True when `path` exists and is a directory (after following links).
bool isDirectory(const QString& path);

} // namespace kelvara
