// The output file is replaced atomically: a failed write leaves the old file
// as it was and no temporary file behind; links and permission bits are kept.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/frame.h"
#include "write/atomic_file.h"
#include "support/pdf_builder.h"
#include "vellix.h"

namespace fs = std::filesystem;

namespace {

const std::string OLD_BYTES = "old contents, not a PDF\n";

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t mode_of(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// Runs body in a child process and returns what it reported; the child's
// process limits and identity changes stay in the child.
std::string in_child(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) return "pipe failed";
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string r = body();
        ssize_t n = write(fds[1], r.data(), r.size());
        _exit(n == static_cast<ssize_t>(r.size()) ? 0 : 1);
    }
    close(fds[1]);
    std::string r;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) r.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int st = 0;
    waitpid(pid, &st, 0);
    if (!WIFEXITED(st)) return "child died";
    return r;
}

std::string result_text(int r) { return std::to_string(r) + " " + vellix_last_error(); }

struct fixture_dir {
    TempDir dir;
    std::string in = dir.file("in.pdf");
    fixture_dir() { write_file(in, minimal_pdf(2, "<</Title (Old)>>")); }
};

TEST(AtomicWrite, ShortWriteKeepsTheOldFileAndRemovesTheTemporary) {
    fixture_dir f;
    std::string out = f.dir.file("out.pdf");
    write_file(out, OLD_BYTES);
    chmod(out.c_str(), 0640);
    for (const std::string& target : {out, f.in}) {  // also when the output is the input
        std::string before = read_file(target);
        std::string got = in_child([&] {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim = {100, 100};  // files may not grow beyond 100 bytes
            setrlimit(RLIMIT_FSIZE, &lim);
            return result_text(vellix_write(f.in.c_str(), target.c_str(), "New", nullptr, nullptr, nullptr));
        });
        EXPECT_EQ(got, "0 short write to " + target);
        EXPECT_EQ(read_file(target), before);
        EXPECT_EQ(names_in(f.dir.path()), (std::vector<std::string>{"in.pdf", "out.pdf"}));
    }
    EXPECT_EQ(mode_of(out), 0640u);
}

TEST(AtomicWrite, OutputOverTheInputReplacesIt) {
    fixture_dir f;
    ASSERT_EQ(vellix_write(f.in.c_str(), f.in.c_str(), "New", nullptr, nullptr, nullptr), 1) << vellix_last_error();
    std::string now = read_file(f.in);
    EXPECT_EQ(now.substr(0, 9), "%PDF-1.4\n");
    EXPECT_NE(now.find("/Title (New)"), std::string::npos);
    EXPECT_EQ(names_in(f.dir.path()), std::vector<std::string>{"in.pdf"});
    ASSERT_EQ(vellix_clear(f.in.c_str(), f.in.c_str()), 1);
    EXPECT_EQ(read_file(f.in).find("/Title"), std::string::npos);
}

TEST(AtomicWrite, PlacesThatCannotBeWritten) {
    fixture_dir f;
    fs::create_directory(f.dir.path() / "sub");
    write_file(f.dir.path() / "sub" / "keep", "x");
    std::string as_dir = f.dir.file("sub"), missing = f.dir.file("none/out.pdf");
    EXPECT_EQ(result_text(vellix_clear(f.in.c_str(), as_dir.c_str())), "0 cannot write " + as_dir);
    EXPECT_EQ(names_in(as_dir), std::vector<std::string>{"keep"});
    EXPECT_EQ(result_text(vellix_clear(f.in.c_str(), missing.c_str())), "0 cannot write " + missing);
    // A link loop cannot be written through.
    std::string loop = f.dir.file("loop.pdf");
    fs::create_symlink("loop.pdf", loop);
    EXPECT_EQ(result_text(vellix_clear(f.in.c_str(), loop.c_str())), "0 cannot write " + loop);
    EXPECT_TRUE(fs::is_symlink(loop));
}

// A directory without write permission and a write-protected file, checked
// as an unprivileged user (root is not stopped by permission bits).
TEST(AtomicWrite, ReadOnlyDirectoryAndReadOnlyFile) {
    fixture_dir f;
    chmod(f.dir.path().c_str(), 0755);
    chmod(f.in.c_str(), 0644);
    fs::path ro = f.dir.path() / "ro";
    fs::create_directory(ro);
    std::string existing = (ro / "old.pdf").string(), fresh = (ro / "new.pdf").string();
    write_file(existing, OLD_BYTES);
    chmod(existing.c_str(), 0666);
    chmod(ro.c_str(), 0555);
    std::string prot = f.dir.file("protected.pdf");
    write_file(prot, OLD_BYTES);
    chmod(prot.c_str(), 0444);
    chmod(f.dir.path().c_str(), 0777);  // the file is protected, its directory is not

    std::string got = in_child([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return std::string("cannot drop root");
        std::string r = result_text(vellix_clear(f.in.c_str(), existing.c_str())) + "|";
        r += result_text(vellix_clear(f.in.c_str(), fresh.c_str())) + "|";
        r += result_text(vellix_clear(f.in.c_str(), prot.c_str()));
        return r;
    });
    chmod(ro.c_str(), 0755);
    chmod(f.dir.path().c_str(), 0700);
    EXPECT_EQ(got, "0 cannot write " + existing + "|0 cannot write " + fresh + "|0 cannot write " + prot);
    EXPECT_EQ(read_file(existing), OLD_BYTES);
    EXPECT_EQ(read_file(prot), OLD_BYTES);
    EXPECT_EQ(names_in(ro), std::vector<std::string>{"old.pdf"});
}

TEST(AtomicWrite, SymbolicLinksReplaceTheirTarget) {
    fixture_dir f;
    fs::create_directory(f.dir.path() / "real");
    std::string target = (f.dir.path() / "real" / "t.pdf").string();
    write_file(target, OLD_BYTES);
    chmod(target.c_str(), 0604);
    std::string link1 = f.dir.file("link1.pdf"), link2 = f.dir.file("link2.pdf");
    fs::create_symlink("real/t.pdf", link1);  // relative to the link's directory
    fs::create_symlink(link1, link2);         // a chain, absolute
    ASSERT_EQ(vellix_clear(f.in.c_str(), link2.c_str()), 1) << vellix_last_error();
    EXPECT_TRUE(fs::is_symlink(link1));
    EXPECT_TRUE(fs::is_symlink(link2));
    EXPECT_EQ(fs::read_symlink(link1), "real/t.pdf");
    EXPECT_EQ(read_file(target).substr(0, 9), "%PDF-1.4\n");
    EXPECT_EQ(mode_of(target), 0604u);
    EXPECT_EQ(names_in(f.dir.path() / "real"), std::vector<std::string>{"t.pdf"});

    // A dangling link gets its target created.
    std::string dangling = f.dir.file("dangling.pdf");
    fs::create_symlink("real/created.pdf", dangling);
    ASSERT_EQ(vellix_clear(f.in.c_str(), dangling.c_str()), 1) << vellix_last_error();
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_EQ(read_file(f.dir.path() / "real" / "created.pdf").substr(0, 9), "%PDF-1.4\n");
}

TEST(AtomicWrite, PermissionBitsOfExistingAndNewFiles) {
    fixture_dir f;
    for (mode_t m : {0600u, 0640u, 0755u, 0604u}) {
        std::string out = f.dir.file("kept.pdf");
        write_file(out, OLD_BYTES);
        chmod(out.c_str(), m);
        ASSERT_EQ(vellix_clear(f.in.c_str(), out.c_str()), 1) << vellix_last_error();
        EXPECT_EQ(mode_of(out), m);
        EXPECT_NE(read_file(out), OLD_BYTES);
        chmod(out.c_str(), 0600);
    }
    struct umask_case {
        mode_t mask, expect;
    };
    for (umask_case c : {umask_case{022, 0644}, umask_case{077, 0600}, umask_case{002, 0664}}) {
        std::string out = f.dir.file("new" + std::to_string(c.mask) + ".pdf");
        mode_t old = umask(c.mask);
        int r = vellix_clear(f.in.c_str(), out.c_str());
        umask(old);
        ASSERT_EQ(r, 1) << vellix_last_error();
        EXPECT_EQ(mode_of(out), c.expect);
    }
}

TEST(AtomicWrite, WritesExactBytesAndLeavesNothingElse) {
    TempDir dir;
    std::string out = dir.file("x.bin");
    std::string data(3 << 20, '\0');
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
    ASSERT_EQ(write_file_atomic(out.c_str(), data.data(), data.size()), 1);
    EXPECT_EQ(read_file(out), data);
    ASSERT_EQ(write_file_atomic(out.c_str(), "", 0), 1);
    EXPECT_EQ(read_file(out), "");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"x.bin"});
    // A relative path lands in the current directory.
    fs::path cwd = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(write_file_atomic("rel.bin", "ab", 2), 1);
    fs::current_path(cwd);
    EXPECT_EQ(read_file(dir.path() / "rel.bin"), "ab");
}

}  // namespace
