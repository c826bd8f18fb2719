// File handles: create dispositions, positioned I/O with short counts, share modes between
// handles and processes, deletion only of unused files, the read-only attribute, copy and
// rename, and injected I/O failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "platform/tests/support/TestFiles.h"
#include "platform/File.h"
#include "platform/FileFault.h"

using namespace ostra::platform;
using ostra::platform::test::Child;
using ostra::platform::test::ReadAll;
using ostra::platform::test::TempDir;
using ostra::platform::test::WriteAll;

namespace {

bool OpenFile(File& f, const std::string& path, FileAccess a, FileShare s, FileCreate c = FileCreate::OpenExisting) {
    return f.Open(path, a, s, c);
}

}  // namespace

TEST(File, CreateDispositions) {
    TempDir dir;
    std::string path = dir.File("a.dat");
    File f;
    EXPECT_FALSE(f.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(f.IsOpen());

    ASSERT_TRUE(f.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::CreateNew));
    EXPECT_EQ(f.Write(0, "hello", 5), 5);
    f.Close();
    EXPECT_FALSE(f.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::CreateNew));
    EXPECT_EQ(GetLastError(), EEXIST);

    ASSERT_TRUE(f.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways));
    EXPECT_EQ(f.Size(), 5);  // OpenAlways keeps the contents
    ASSERT_TRUE(f.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::CreateAlways));
    EXPECT_EQ(f.Size(), 0);  // CreateAlways truncates
    f.Close();

    EXPECT_FALSE(f.Open(dir.Path(), FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting));
    EXPECT_EQ(GetLastError(), EISDIR);
    EXPECT_FALSE(f.Open(path, FileAccess::Read, FileShare::DenyNone, FileCreate::CreateAlways));
    EXPECT_EQ(GetLastError(), EINVAL);
}

TEST(File, PositionedIoReportsShortCounts) {
    TempDir dir;
    File f;
    ASSERT_TRUE(f.Open(dir.File("b.dat"), FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::CreateNew));
    // A write beyond the end extends the file with zeros.
    ASSERT_EQ(f.Write(10, "abcdef", 6), 6);
    EXPECT_EQ(f.Size(), 16);
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    ASSERT_EQ(f.Read(0, buf, 16), 16);
    EXPECT_EQ(std::string(buf, 10), std::string(10, '\0'));
    EXPECT_EQ(std::string(buf + 10, 6), "abcdef");

    // A read across the end returns what is there and says why it stopped.
    SetLastError(0);
    EXPECT_EQ(f.Read(12, buf, 10), 4);
    EXPECT_EQ(GetLastError(), ErrorHandleEof);
    EXPECT_EQ(std::string(buf, 4), "cdef");
    EXPECT_EQ(f.Read(100, buf, 10), 0);
    EXPECT_EQ(GetLastError(), ErrorHandleEof);
    EXPECT_EQ(f.Read(0, buf, 0), 0);
    EXPECT_EQ(f.Read(-1, buf, 1), -1);
    EXPECT_EQ(GetLastError(), EINVAL);

    ASSERT_TRUE(f.SetSize(12));
    EXPECT_EQ(f.Read(0, buf, 32), 12);
    ASSERT_TRUE(f.SetSize(20));
    ASSERT_EQ(f.Read(0, buf, 32), 20);
    EXPECT_EQ(std::string(buf + 10, 10), std::string("ab") + std::string(8, '\0'));
    EXPECT_TRUE(f.Flush());

    f.Close();
    EXPECT_EQ(f.Read(0, buf, 1), -1);
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(f.Flush());
}

TEST(File, ReadOnlyHandleCannotChangeTheFile) {
    TempDir dir;
    std::string path = dir.File("c.dat");
    WriteAll(path, "12345");
    File f;
    ASSERT_TRUE(OpenFile(f, path, FileAccess::Read, FileShare::DenyNone));
    EXPECT_EQ(f.Write(0, "x", 1), -1);
    EXPECT_EQ(GetLastError(), EBADF);
    EXPECT_FALSE(f.SetSize(0));
    EXPECT_EQ(f.Size(), 5);
    char c;
    EXPECT_EQ(f.Read(4, &c, 1), 1);
    EXPECT_EQ(c, '5');
}

// The Windows sharing rules: a second open must be allowed by the first handle's share mode,
// and must itself allow the first handle's access.
TEST(File, ShareModesBetweenHandles) {
    struct Case {
        FileAccess firstAccess;
        FileShare firstShare;
        FileAccess secondAccess;
        FileShare secondShare;
        bool allowed;
    };
    using A = FileAccess;
    using S = FileShare;
    const Case cases[] = {
        {A::ReadWrite, S::Exclusive, A::Read, S::DenyNone, false},
        {A::Read, S::Exclusive, A::Read, S::DenyNone, false},
        {A::ReadWrite, S::DenyNone, A::ReadWrite, S::DenyNone, true},
        {A::Read, S::DenyWrite, A::Read, S::DenyWrite, true},
        {A::Read, S::DenyWrite, A::ReadWrite, S::DenyNone, false},  // first denies writers
        {A::ReadWrite, S::DenyNone, A::Read, S::DenyWrite, false},  // second denies the writer there
        {A::ReadWrite, S::DenyNone, A::ReadWrite, S::Exclusive, false},
        {A::Write, S::DenyRead, A::Write, S::DenyNone, true},
        {A::Write, S::DenyRead, A::Read, S::DenyNone, false},
        {A::Read, S::DenyNone, A::Write, S::DenyRead, false},
        {A::Read, S::DenyNone, A::Write, S::DenyWrite, true},
        {A::Write, S::DenyNone, A::Read, S::DenyRead, true},
    };
    TempDir dir;
    std::string path = dir.File("share.dat");
    WriteAll(path, "data");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        File first, second;
        ASSERT_TRUE(OpenFile(first, path, c.firstAccess, c.firstShare));
        EXPECT_EQ(OpenFile(second, path, c.secondAccess, c.secondShare), c.allowed);
        if (!c.allowed) {
            EXPECT_EQ(GetLastError(), ErrorSharingViolation);
            // Once the first handle is gone the same open works.
            first.Close();
            EXPECT_TRUE(OpenFile(second, path, c.secondAccess, c.secondShare));
        }
    }
}

TEST(File, RefusedCreateAlwaysDoesNotTruncate) {
    TempDir dir;
    std::string path = dir.File("keep.dat");
    WriteAll(path, "precious");
    File holder, other;
    ASSERT_TRUE(OpenFile(holder, path, FileAccess::Read, FileShare::DenyWrite));
    EXPECT_FALSE(other.Open(path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::CreateAlways));
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    EXPECT_EQ(ReadAll(path), "precious");
}

TEST(File, ShareModesAcrossProcesses) {
    TempDir dir;
    std::string path = dir.File("db.orq");
    WriteAll(path, "data");
    Child child([&](Child& self) {
        File f;
        if (!f.Open(path, FileAccess::ReadWrite, FileShare::Exclusive, FileCreate::OpenExisting)) return 1;
        self.Send('r');
        self.Receive();  // hold the file until told to go
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'r');
    File f;
    EXPECT_FALSE(OpenFile(f, path, FileAccess::Read, FileShare::DenyNone));
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_TRUE(OpenFile(f, path, FileAccess::Read, FileShare::DenyNone));
}

TEST(File, ADeadProcessLeavesNoShareMode) {
    TempDir dir;
    std::string path = dir.File("db.orq");
    WriteAll(path, "data");
    Child child([&](Child& self) {
        File f;
        if (!f.Open(path, FileAccess::ReadWrite, FileShare::Exclusive, FileCreate::OpenExisting)) return 1;
        self.Send('r');
        for (;;) pause();
    });
    ASSERT_EQ(child.Receive(), 'r');
    File f;
    EXPECT_FALSE(OpenFile(f, path, FileAccess::ReadWrite, FileShare::DenyNone));
    child.Kill();
    EXPECT_TRUE(OpenFile(f, path, FileAccess::ReadWrite, FileShare::DenyNone));
}

TEST(File, DeleteOnlyWhenNoHandleHasTheFileOpen) {
    TempDir dir;
    std::string path = dir.File("x.lck");
    WriteAll(path, "");
    File mine, other;
    ASSERT_TRUE(OpenFile(mine, path, FileAccess::ReadWrite, FileShare::DenyNone));
    ASSERT_TRUE(OpenFile(other, path, FileAccess::ReadWrite, FileShare::DenyNone));
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    EXPECT_FALSE(mine.CloseAndDeleteIfUnused());
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    EXPECT_FALSE(mine.IsOpen());
    EXPECT_TRUE(FileExists(path));
    EXPECT_TRUE(other.CloseAndDeleteIfUnused());
    EXPECT_FALSE(FileExists(path));
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_EQ(GetLastError(), ENOENT);

    // Another process's handle counts too.
    WriteAll(path, "");
    Child child([&](Child& self) {
        File f;
        if (!f.Open(path, FileAccess::Read, FileShare::DenyNone, FileCreate::OpenExisting)) return 1;
        self.Send('r');
        self.Receive();
        return 0;
    });
    ASSERT_EQ(child.Receive(), 'r');
    ASSERT_TRUE(OpenFile(mine, path, FileAccess::ReadWrite, FileShare::DenyNone));
    EXPECT_FALSE(mine.CloseAndDeleteIfUnused());
    EXPECT_TRUE(FileExists(path));
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_TRUE(DeleteFile(path));
}

TEST(File, HandleNoticesThatItsFileLeftThePath) {
    TempDir dir;
    std::string path = dir.File("y.lck");
    WriteAll(path, "old");
    File f;
    ASSERT_TRUE(OpenFile(f, path, FileAccess::ReadWrite, FileShare::DenyNone));
    EXPECT_TRUE(f.IsStillAtPath());
    // Changes made behind the layer's back (plain unlink, a new file at the path).
    ASSERT_EQ(unlink(path.c_str()), 0);
    EXPECT_FALSE(f.IsStillAtPath());
    WriteAll(path, "new");
    EXPECT_FALSE(f.IsStillAtPath());
    // Such a handle never deletes the new file.
    EXPECT_FALSE(f.CloseAndDeleteIfUnused());
    EXPECT_EQ(ReadAll(path), "new");
}

// Two processes use a lock file the way connections do: open or create it, take byte 0, update
// a shared counter, release, and delete the lock file when no one else has it open. If a file
// could be deleted under a handle, or a handle kept on a deleted file, two processes would hold
// "byte 0" of different files at once and counter updates would be lost.
TEST(File, LockFileDeletionNeverSplitsItsUsers) {
    TempDir dir;
    std::string lockPath = dir.File("shared.lck");
    std::string counterPath = dir.File("counter.dat");
    WriteAll(counterPath, std::string(8, '\0'));
    constexpr int Rounds = 150;
    auto worker = [&](Child&) {
        File counter;
        if (!counter.Open(counterPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting)) return 1;
        for (int i = 0; i < Rounds; ++i) {
            File lock;
            for (;;) {
                if (!lock.Open(lockPath, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenAlways)) return 2;
                if (lock.Lock(0, 1)) break;
                lock.Close();
                usleep(50);
            }
            uint64_t value = 0;
            if (counter.Read(0, &value, 8) != 8) return 3;
            usleep(20);
            ++value;
            if (counter.Write(0, &value, 8) != 8) return 4;
            lock.Unlock(0, 1);
            lock.CloseAndDeleteIfUnused();
        }
        return 0;
    };
    // The third process takes its locks through the read-only emulation.
    Child a(worker), b(worker), c([&](Child& self) {
        ForceEmulatedLocksForTesting(true);
        return worker(self);
    });
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
    EXPECT_EQ(c.Wait(), 0);
    uint64_t value = 0;
    std::string counter = ReadAll(counterPath);
    ASSERT_EQ(counter.size(), 8u);
    std::memcpy(&value, counter.data(), 8);
    EXPECT_EQ(value, 3u * Rounds);
}

TEST(File, ReadOnlyAttribute) {
    TempDir dir;
    std::string path = dir.File("ro.dat");
    WriteAll(path, "abc");
    EXPECT_FALSE(FileIsReadOnly(path));
    ASSERT_TRUE(FileSetReadOnly(path, true));
    EXPECT_TRUE(FileIsReadOnly(path));
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);

    // Even root may not write or delete it.
    File f;
    EXPECT_FALSE(OpenFile(f, path, FileAccess::ReadWrite, FileShare::DenyNone));
    EXPECT_EQ(GetLastError(), EACCES);
    EXPECT_FALSE(f.Open(path, FileAccess::Write, FileShare::DenyNone, FileCreate::CreateAlways));
    EXPECT_EQ(GetLastError(), EACCES);
    EXPECT_FALSE(DeleteFile(path));
    EXPECT_EQ(GetLastError(), EACCES);
    ASSERT_TRUE(OpenFile(f, path, FileAccess::Read, FileShare::DenyWrite));
    f.Close();
    EXPECT_EQ(ReadAll(path), "abc");

    ASSERT_TRUE(FileSetReadOnly(path, false));
    EXPECT_FALSE(FileIsReadOnly(path));
    EXPECT_TRUE(DeleteFile(path));
    EXPECT_FALSE(FileIsReadOnly(path));
    EXPECT_EQ(GetLastError(), ENOENT);
    EXPECT_FALSE(FileExists(dir.Path()));
}

TEST(File, RenameRefusesExistingTargetAndOpenFiles) {
    TempDir dir;
    std::string a = dir.File("a"), b = dir.File("b");
    WriteAll(a, "A");
    WriteAll(b, "B");
    EXPECT_FALSE(RenameFile(a, b));
    EXPECT_EQ(GetLastError(), EEXIST);
    EXPECT_EQ(ReadAll(b), "B");
    ASSERT_TRUE(DeleteFile(b));
    {
        File open;
        ASSERT_TRUE(OpenFile(open, a, FileAccess::Read, FileShare::DenyNone));
        EXPECT_FALSE(RenameFile(a, b));
        EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    }
    EXPECT_TRUE(RenameFile(a, b));
    EXPECT_FALSE(FileExists(a));
    EXPECT_EQ(ReadAll(b), "A");
}

TEST(File, CopyKeepsContentsAndModeAndRefusesExistingTarget) {
    TempDir dir;
    std::string src = dir.File("src.orq"), dst = dir.File("dst.orq");
    std::string contents;
    for (int i = 0; i < 200000; ++i) contents.push_back(static_cast<char>(i * 7));
    WriteAll(src, contents);
    ASSERT_EQ(chmod(src.c_str(), 0640), 0);

    ASSERT_TRUE(CopyFile(src, dst, true));
    EXPECT_EQ(ReadAll(dst), contents);
    struct stat st {};
    ASSERT_EQ(stat(dst.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    WriteAll(dst, "other");
    EXPECT_FALSE(CopyFile(src, dst, true));
    EXPECT_EQ(GetLastError(), EEXIST);
    EXPECT_EQ(ReadAll(dst), "other");
    EXPECT_TRUE(CopyFile(src, dst, false));
    EXPECT_EQ(ReadAll(dst), contents);

    // A target that a handle has open is not replaced; a source opened shared can be copied.
    File holder;
    ASSERT_TRUE(OpenFile(holder, dst, FileAccess::Read, FileShare::DenyNone));
    EXPECT_FALSE(CopyFile(src, dst, false));
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    holder.Close();
    File db;
    ASSERT_TRUE(OpenFile(db, src, FileAccess::ReadWrite, FileShare::DenyNone));
    EXPECT_TRUE(CopyFile(src, dir.File("copy2"), true));
    db.Close();
    ASSERT_TRUE(OpenFile(db, src, FileAccess::ReadWrite, FileShare::Exclusive));
    EXPECT_FALSE(CopyFile(src, dir.File("copy3"), true));
    EXPECT_EQ(GetLastError(), ErrorSharingViolation);
    EXPECT_FALSE(FileExists(dir.File("copy3")));
    EXPECT_FALSE(CopyFile(dir.File("missing"), dir.File("copy4"), true));
    EXPECT_EQ(GetLastError(), ENOENT);
}

TEST(File, CopyFailingPartWayRemovesThePartialTarget) {
    TempDir dir;
    std::string src = dir.File("src"), dst = dir.File("dst");
    WriteAll(src, std::string(300000, 'z'));
    NthCallFault fault(FileOps(FileOp::Write), 2, {ENOSPC, 100}, false, "dst");
    {
        ScopedFileFaultInjector scope(fault);
        EXPECT_FALSE(CopyFile(src, dst, true));
        EXPECT_EQ(GetLastError(), ENOSPC);
    }
    EXPECT_EQ(fault.Injected(), 1);
    EXPECT_FALSE(FileExists(dst));
}

TEST(File, FaultInjectionFailsTheNthCall) {
    TempDir dir;
    File f;
    ASSERT_TRUE(f.Open(dir.File("f.dat"), FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::CreateNew));
    char page[100];
    std::memset(page, 'p', sizeof page);
    {
        // The third write fails outright, the others run.
        NthCallFault fault(FileOps(FileOp::Write), 3, {EIO});
        ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(f.Write(0, page, 100), 100);
        char c;
        EXPECT_EQ(f.Read(0, &c, 1), 1);  // reads are not counted
        EXPECT_EQ(f.Write(100, page, 100), 100);
        EXPECT_EQ(f.Write(200, page, 100), -1);
        EXPECT_EQ(GetLastError(), EIO);
        EXPECT_EQ(f.Write(200, page, 100), 100);
        EXPECT_EQ(fault.Calls(), 4);
    }
    EXPECT_EQ(f.Size(), 300);
    {
        // A write cut short by a full disk: 30 bytes land, the count and the error say so.
        NthCallFault fault(FileOps(FileOp::Write), 1, {ENOSPC, 30});
        ScopedFileFaultInjector scope(fault);
        EXPECT_EQ(f.Write(300, page, 100), 30);
        EXPECT_EQ(GetLastError(), ENOSPC);
    }
    EXPECT_EQ(f.Size(), 330);
    {
        // Sticky faults on flushes and size changes; reads cut short.
        NthCallFault flushFault(FileOps(FileOp::Flush) | FileOps(FileOp::SetSize), 2, {EIO}, true);
        ScopedFileFaultInjector scope(flushFault);
        EXPECT_TRUE(f.Flush());
        EXPECT_FALSE(f.SetSize(10));
        EXPECT_FALSE(f.Flush());
        EXPECT_EQ(GetLastError(), EIO);
        EXPECT_EQ(flushFault.Injected(), 2);
    }
    EXPECT_EQ(f.Size(), 330);
    {
        NthCallFault readFault(FileOps(FileOp::Read), 1, {EIO, 5});
        ScopedFileFaultInjector scope(readFault);
        char buf[100];
        EXPECT_EQ(f.Read(0, buf, 100), 5);
        EXPECT_EQ(GetLastError(), EIO);
    }
    EXPECT_EQ(CurrentFileFaultInjector(), nullptr);
}

// The folder flush passes the hook as a Flush of the folder ("<folder>/"), so that tests can fail
// it and crash tests can stop before it; a missing folder fails with its error.
TEST(File, FolderFlushGoesThroughTheHook) {
    TempDir dir;
    const std::string name = dir.File("gone.dat");  // the file need not exist
    EXPECT_TRUE(FlushFolderOf(name));
    {
        struct Seen : FileFaultInjector {
            FileFault Decide(FileOp Op, const std::string& Path, int64_t, int64_t) override {
                Paths.push_back(std::to_string(unsigned(Op)) + " " + Path);
                return {EIO};
            }
            std::vector<std::string> Paths;
        } seen;
        ScopedFileFaultInjector scope(seen);
        EXPECT_FALSE(FlushFolderOf(name));
        EXPECT_EQ(GetLastError(), EIO);
        const std::vector<std::string> expected = {std::to_string(unsigned(FileOp::Flush)) + " " + dir.Path() + "/"};
        EXPECT_EQ(seen.Paths, expected);
    }
    EXPECT_FALSE(FlushFolderOf(dir.File("missing/x.dat")));
    EXPECT_EQ(GetLastError(), ENOENT);
}

TEST(File, MovedHandleKeepsItsFileAndShareMode) {
    TempDir dir;
    std::string path = dir.File("m.dat");
    File a;
    ASSERT_TRUE(a.Open(path, FileAccess::ReadWrite, FileShare::Exclusive, FileCreate::CreateNew));
    ASSERT_TRUE(a.Lock(5, 1));
    File b(std::move(a));
    EXPECT_FALSE(a.IsOpen());
    EXPECT_TRUE(b.IsOpen());
    EXPECT_EQ(b.LockCount(), 1u);
    File c;
    EXPECT_FALSE(OpenFile(c, path, FileAccess::Read, FileShare::DenyNone));
    EXPECT_EQ(b.Write(0, "q", 1), 1);
    a = std::move(b);
    EXPECT_TRUE(a.Unlock(5, 1));
    a.Close();
    EXPECT_TRUE(OpenFile(c, path, FileAccess::Read, FileShare::DenyNone));
}

TEST(LastError, TextsOfOwnAndSystemCodes) {
    EXPECT_NE(SysErrorMessage(ErrorSharingViolation).find("used by another process"), std::string::npos);
    EXPECT_NE(SysErrorMessage(ENOENT).find("No such file"), std::string::npos);
    SetLastError(ENOSPC);
    EXPECT_EQ(GetLastError(), ENOSPC);
}
