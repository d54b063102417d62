// Crash-safe replacement of configuration files: write a sibling temporary
// file, flush it to disk, and only then rename it over the real one.
#include "base/atomicfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace
{

// A user who keeps a configuration file as a symlink into a dotfiles
// repository expects the link to survive a save, so the temporary file is
// made next to the link's target and renamed over the target.
std::string resolve_target(const std::string &path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char *real = realpath(path.c_str(), nullptr);
    if (!real)
        return path; // dangling link: replace the link itself
    std::string resolved(real);
    free(real);
    return resolved;
}

// Without this the rename itself may be lost on a power cut even though the
// file data reached the disk.
void sync_parent_dir(const std::string &path)
{
    std::string::size_type slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;
    (void)fsync(dfd);
    ::close(dfd);
}

} // namespace

AtomicFile::AtomicFile(std::string path, int mode) : path_(resolve_target(path))
{
    temp_ = path_ + ".new";
    // A stale temporary file from a crashed save may carry a looser mode or
    // be a planted symlink; start from nothing and refuse to follow links.
    if (unlink(temp_.c_str()) != 0 && errno != ENOENT) {
        errno_ = errno;
        failed_ = true;
        return;
    }
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd_ < 0) {
        errno_ = errno;
        failed_ = true;
        return;
    }
    // The creation mode passed the umask; the file must end up exactly as asked.
    (void)fchmod(fd_, static_cast<mode_t>(mode));
}

AtomicFile::~AtomicFile()
{
    int saved = errno;
    if (fd_ >= 0)
        ::close(fd_);
    if (!released_)
        unlink(temp_.c_str());
    errno = saved;
}

bool AtomicFile::write(std::string_view data)
{
    if (!ok() || closed_) {
        if (!failed_) {
            failed_ = true;
            errno_ = EBADF;
        }
        return false;
    }
    const char *p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd_, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            errno_ = errno;
            failed_ = true;
            return false;
        }
        if (n == 0) {
            errno_ = ENOSPC;
            failed_ = true;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool AtomicFile::close()
{
    if (closed_)
        return !failed_;
    closed_ = true;
    if (fd_ < 0)
        return false;
    if (!failed_ && fsync(fd_) != 0 && errno != EINVAL) {
        errno_ = errno;
        failed_ = true;
    }
    if (::close(fd_) != 0 && !failed_) {
        errno_ = errno;
        failed_ = true;
    }
    fd_ = -1;
    if (failed_)
        errno = errno_;
    return !failed_;
}

bool AtomicFile::commit()
{
    if (released_)
        return false; // already committed or handed over
    if (!close()) {
        discard();
        errno = errno_;
        return false;
    }
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
        errno_ = errno;
        failed_ = true;
        discard();
        errno = errno_;
        return false;
    }
    released_ = true;
    sync_parent_dir(path_);
    return true;
}

void AtomicFile::discard()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    closed_ = true;
    failed_ = true;
    if (!released_) {
        int saved = errno;
        unlink(temp_.c_str());
        errno = saved;
    }
    released_ = true;
}

bool atomic_file_finalize(const std::string &temp_path, const std::string &path)
{
    std::string target = resolve_target(path);
    if (rename(temp_path.c_str(), target.c_str()) != 0) {
        int saved = errno;
        unlink(temp_path.c_str());
        errno = saved;
        return false;
    }
    sync_parent_dir(target);
    return true;
}

bool atomic_file_write(const std::string &path, std::string_view data, int mode)
{
    AtomicFile file(path, mode);
    if (!file.ok())
        return false;
    file.write(data);
    return file.commit();
}
