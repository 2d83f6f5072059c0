#include "files/DatabaseFiles.h"

#include <QFile>

#include <filesystem>

namespace kova::app {

namespace fs = std::filesystem;

namespace {

fs::path FsPath(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    return fs::path(std::string(encoded.constData(), static_cast<std::size_t>(encoded.size())));
}

} // namespace

QString ChangeFileExt(const QString& path, const QString& extension) {
    const qsizetype nameStart = path.lastIndexOf(QChar(u'/')) + 1;
    const qsizetype dot = path.lastIndexOf(QChar(u'.'));
    const bool hasExtension = dot > nameStart;  // not a dot that starts the name
    return (hasExtension ? path.left(dot) : path) + extension;
}

std::error_code CopyDatabaseFile(const QString& source, const QString& target) {
    const fs::path from = FsPath(source);
    const fs::path to = FsPath(target);
    std::error_code error;
    if (fs::exists(to, error) && fs::equivalent(from, to, error)) {
        return std::make_error_code(std::errc::file_exists);
    }
    error.clear();
    fs::path partial = to;
    partial += ".partial";
    (void)fs::remove(partial, error);  // a leftover of an earlier failed copy
    error.clear();
    if (!fs::copy_file(from, partial, fs::copy_options::overwrite_existing, error) || error) {
        std::error_code ignored;
        (void)fs::remove(partial, ignored);
        return error ? error : std::make_error_code(std::errc::io_error);
    }
    fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, error);
    if (!error) fs::rename(partial, to, error);
    if (error) {
        std::error_code ignored;
        (void)fs::remove(partial, ignored);
    }
    return error;
}

} // namespace kova::app
