// Writing a file so that a reader never sees half of it: the content goes to
// a temporary file in the same directory (mode 0600), every write and the
// close are checked, and only a finished file is renamed over the old one.
#pragma once

#include <string>
#include <string_view>

class AtomicFile
{
  public:
    // Prepares `path` + ".new" (next to a symlink's target, so the link
    // survives); check ok() before writing.
    explicit AtomicFile(std::string path, int mode = 0600);
    ~AtomicFile(); // discards the temporary file unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // True while nothing has failed (also after a successful close()).
    bool ok() const { return (fd_ >= 0 || closed_) && !failed_; }
    int fd() const { return fd_; }
    // Appends bytes; a short write marks the file failed.
    bool write(std::string_view data);
    // Marks the file failed (after a write made through fd() failed).
    void fail() { failed_ = true; }
    // Closes the temporary file; false when anything failed. It is kept on
    // disk for commit() (or a later discard()).
    bool close();
    // close() if needed, then renames over the target; false on any failure
    // (the old file stays untouched and the temporary file is removed).
    bool commit();
    // Removes the temporary file.
    void discard();
    const std::string &temp_path() const { return temp_; }
    const std::string &path() const { return path_; }
    // The errno of the first failure, 0 when none.
    int error() const { return errno_; }
    // Lets the temporary file outlive this object (two-phase saves).
    void release() { released_ = true; }

  private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool failed_ = false;
    bool closed_ = false;
    bool released_ = false;
    int errno_ = 0;
};

// Renames a finished temporary file over `path`; false (temp removed) on failure.
bool atomic_file_finalize(const std::string &temp_path, const std::string &path);
// Writes `data` to `path` atomically; false (old file kept) on failure.
bool atomic_file_write(const std::string &path, std::string_view data, int mode = 0600);
