// Replacing files without ever leaving a half-written or missing one.
#include "base/atomicfile.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace
{

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class AtomicFileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char *tmp = g_dir_make_tmp("lwk-atomic-XXXXXX", nullptr);
        ASSERT_NE(tmp, nullptr);
        dir = tmp;
        g_free(tmp);
        path = dir + "/file.conf";
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string dir;
    std::string path;
};

TEST_F(AtomicFileTest, CommitReplacesTheFileWithAPrivateOne)
{
    std::ofstream(path) << "old";
    chmod(path.c_str(), 0644);
    mode_t old_umask = umask(0);
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.ok());
        EXPECT_EQ(file.temp_path(), path + ".new");
        EXPECT_TRUE(file.write("new "));
        EXPECT_TRUE(file.write("content"));
        EXPECT_EQ(read_file(path), "old"); // untouched until commit
        EXPECT_TRUE(file.commit());
        EXPECT_TRUE(file.ok());
    }
    umask(old_umask);
    EXPECT_EQ(read_file(path), "new content");
    EXPECT_FALSE(exists(path + ".new"));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(AtomicFileTest, AbandonedOrFailedWritesLeaveTheOldFile)
{
    std::ofstream(path) << "old";
    {
        AtomicFile file(path);
        file.write("half");
    } // destroyed without commit
    EXPECT_EQ(read_file(path), "old");
    EXPECT_FALSE(exists(path + ".new"));

    {
        AtomicFile file(path);
        file.write("data");
        file.fail(); // a write through fd() went wrong
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(read_file(path), "old");
    EXPECT_FALSE(exists(path + ".new"));

    AtomicFile file(path);
    file.discard();
    EXPECT_FALSE(file.write("late"));
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(read_file(path), "old");
}

TEST_F(AtomicFileTest, ShortWriteIsAFailure)
{
    std::ofstream(path) << "old";
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*old_handler)(int) = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool wrote, committed;
    int err;
    {
        AtomicFile file(path);
        wrote = file.write(std::string(4096, 'x'));
        committed = file.commit();
        err = file.error();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(wrote);
    EXPECT_FALSE(committed);
    EXPECT_EQ(err, EFBIG);
    EXPECT_EQ(read_file(path), "old");
    EXPECT_FALSE(exists(path + ".new"));
}

TEST_F(AtomicFileTest, UnwritablePlacesReportTheError)
{
    AtomicFile missing(dir + "/no/such/dir/file");
    EXPECT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_FALSE(missing.write("x"));
    EXPECT_FALSE(missing.commit());

    // The rename fails when the target is a non-empty directory.
    ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    std::ofstream(path + "/inside") << "keep";
    errno = 0;
    EXPECT_FALSE(atomic_file_write(path, "data"));
    EXPECT_NE(errno, 0);
    EXPECT_EQ(read_file(path + "/inside"), "keep");
    EXPECT_FALSE(exists(path + ".new"));
}

TEST_F(AtomicFileTest, LinksAreNeitherFollowedForTheTemporaryNorReplaced)
{
    // A planted link at the temporary name must not redirect the write.
    std::string victim = dir + "/victim";
    std::ofstream(victim) << "precious";
    ASSERT_EQ(symlink(victim.c_str(), (path + ".new").c_str()), 0);
    EXPECT_TRUE(atomic_file_write(path, "saved"));
    EXPECT_EQ(read_file(victim), "precious");
    EXPECT_EQ(read_file(path), "saved");

    // A configuration file kept as a link stays a link.
    std::string real = dir + "/real.conf";
    std::string link = dir + "/link.conf";
    std::ofstream(real) << "v1";
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    EXPECT_TRUE(atomic_file_write(link, "v2"));
    struct stat st;
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(real), "v2");
}

} // namespace
