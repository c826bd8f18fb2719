// Byte-range locks with the engine's rules: per handle, exclusive, no self-overlap, exact-match
// unlock, beyond the end of the file, on read-only handles (native and emulated), between
// processes, and against a model under random operations.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <random>
#include <vector>

#include "platform/tests/support/TestFiles.h"
#include "platform/File.h"

using namespace ostra::platform;
using ostra::platform::test::Child;
using ostra::platform::test::TempDir;
using ostra::platform::test::WriteAll;

namespace {

class ByteRangeLockTest : public testing::Test {
protected:
    void SetUp() override { WriteAll(Path, ""); }
    void TearDown() override { ForceEmulatedLocksForTesting(false); }
    File OpenHandle(FileAccess access = FileAccess::ReadWrite) {
        File f;
        EXPECT_TRUE(f.Open(Path, access, FileShare::DenyNone, FileCreate::OpenExisting));
        return f;
    }
    TempDir Dir;
    std::string Path = Dir.File("db.lck");
};

}  // namespace

TEST_F(ByteRangeLockTest, HandlesOfOneProcessConflict) {
    File a = OpenHandle(), b = OpenHandle();
    EXPECT_EQ(a.LockMode(), ByteRangeLocks::Mode::Native);
    ASSERT_TRUE(a.Lock(100, 10));
    EXPECT_FALSE(b.Lock(105, 1));
    EXPECT_EQ(GetLastError(), ErrorLockViolation);
    EXPECT_FALSE(b.Lock(90, 11));
    EXPECT_TRUE(b.Lock(110, 1));  // adjacent ranges do not conflict
    EXPECT_TRUE(b.Lock(99, 1));
    a.Close();  // closing drops every lock of the handle
    EXPECT_TRUE(b.Lock(100, 10));
}

TEST_F(ByteRangeLockTest, OwnRangesCannotBeLockedAgainOrOverlapped) {
    File a = OpenHandle();
    ASSERT_TRUE(a.Lock(0, 1));
    EXPECT_FALSE(a.Lock(0, 1));
    EXPECT_EQ(GetLastError(), ErrorLockViolation);
    ASSERT_TRUE(a.Lock(10, 10));
    for (auto [offset, length] : std::vector<std::pair<uint64_t, uint64_t>>{{5, 6}, {19, 5}, {12, 2}, {0, 100}})
        EXPECT_FALSE(a.Lock(offset, length)) << offset << "+" << length;
    EXPECT_TRUE(a.Lock(1, 9));
    EXPECT_TRUE(a.Lock(20, 1));
    EXPECT_EQ(a.LockCount(), 4u);
}

TEST_F(ByteRangeLockTest, UnlockMustMatchAHeldRangeExactly) {
    File a = OpenHandle(), b = OpenHandle();
    ASSERT_TRUE(a.Lock(0x800000, 8192));
    for (auto [offset, length] : std::vector<std::pair<uint64_t, uint64_t>>{
             {0x800000, 1}, {0x800000, 8193}, {0x800001, 8191}, {0x7FFFFF, 8193}, {0x900000, 1}}) {
        EXPECT_FALSE(a.Unlock(offset, length)) << offset << "+" << length;
        EXPECT_EQ(GetLastError(), ErrorNotLocked);
    }
    EXPECT_FALSE(b.Lock(0x800000 + 4096, 1));  // failed unlocks released nothing
    EXPECT_FALSE(b.Unlock(0x800000, 8192));    // another handle's range cannot be unlocked
    EXPECT_TRUE(a.Unlock(0x800000, 8192));
    EXPECT_FALSE(a.Unlock(0x800000, 8192));
    EXPECT_TRUE(b.Lock(0x800000 + 4096, 1));
}

// The lock manager's upgrade: a read byte inside a region, then the parts before and after it.
// Adjacent ranges of one handle merge in the kernel; releasing one part must leave the others.
TEST_F(ByteRangeLockTest, AdjacentOwnRangesStayIndependent) {
    for (bool emulated : {false, true}) {
        SCOPED_TRACE(emulated ? "emulated" : "native");
        ForceEmulatedLocksForTesting(emulated);
        File a = OpenHandle();
        ForceEmulatedLocksForTesting(false);
        File b = OpenHandle();
        const uint64_t start = 0x800000 + 3 * 8192, readByte = start + 1000;
        ASSERT_TRUE(a.Lock(readByte, 1));
        ASSERT_TRUE(a.Lock(start, readByte - start));
        ASSERT_TRUE(a.Lock(readByte + 1, start + 8192 - readByte - 1));
        EXPECT_FALSE(b.Lock(start, 8192));
        ASSERT_TRUE(a.Unlock(start, readByte - start));
        EXPECT_TRUE(b.Lock(start, 1));
        EXPECT_FALSE(b.Lock(readByte, 1));
        EXPECT_FALSE(b.Lock(readByte + 1, 1));
        ASSERT_TRUE(a.Unlock(readByte, 1));
        EXPECT_TRUE(b.Lock(readByte, 1));
        EXPECT_FALSE(b.Lock(start + 8191, 1));
    }
}

TEST_F(ByteRangeLockTest, LocksLieBeyondTheEndOfTheFile) {
    File a = OpenHandle(), b = OpenHandle();
    EXPECT_EQ(a.Size(), 0);
    EXPECT_TRUE(a.Lock(0x0FF10000, 1000));
    EXPECT_TRUE(a.Lock(0x2000000 + 0xFFFFFFFFull, 1));
    EXPECT_FALSE(b.Lock(0x0FF10000 + 999, 1));
    EXPECT_EQ(a.Size(), 0);
    // Locks are advisory: the other handle still reads and writes the locked bytes.
    ASSERT_TRUE(a.Lock(0, 4096));
    EXPECT_EQ(b.Write(0, "abc", 3), 3);
    char buf[3];
    EXPECT_EQ(b.Read(0, buf, 3), 3);
}

TEST_F(ByteRangeLockTest, InvalidRangesAreRefused) {
    File a = OpenHandle();
    EXPECT_FALSE(a.Lock(10, 0));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(a.Lock(ReservedLockBase - 1, 2));
    EXPECT_EQ(GetLastError(), EINVAL);
    EXPECT_FALSE(a.Lock(~0ull, 2));
    EXPECT_TRUE(a.Lock(ReservedLockBase - 1, 1));
    File closed;
    EXPECT_FALSE(closed.Lock(0, 1));
    EXPECT_EQ(GetLastError(), EBADF);
}

TEST_F(ByteRangeLockTest, ReadOnlyHandlesLockNativelyOrEmulated) {
    File reader = OpenHandle(FileAccess::Read);
    EXPECT_EQ(reader.LockMode(), ByteRangeLocks::Mode::Native);
    ForceEmulatedLocksForTesting(true);
    File e1 = OpenHandle(FileAccess::Read), e2 = OpenHandle(FileAccess::Read);
    ForceEmulatedLocksForTesting(false);
    ASSERT_EQ(e1.LockMode(), ByteRangeLocks::Mode::Emulated);
    File writer = OpenHandle(FileAccess::Write);
    EXPECT_EQ(writer.LockMode(), ByteRangeLocks::Mode::Native);

    // Every pair excludes each other, in both orders.
    std::vector<File*> handles{&reader, &e1, &e2, &writer};
    uint64_t offset = 1000;
    for (File* first : handles)
        for (File* second : handles) {
            if (first == second) continue;
            offset += 10;
            ASSERT_TRUE(first->Lock(offset, 4));
            EXPECT_FALSE(second->Lock(offset + 3, 4));
            EXPECT_EQ(GetLastError(), ErrorLockViolation);
            ASSERT_TRUE(first->Unlock(offset, 4));
            EXPECT_TRUE(second->Lock(offset + 3, 4));
        }
    // An emulated handle's failed attempt leaves nothing behind.
    ASSERT_TRUE(e1.Lock(5000, 1));
    EXPECT_FALSE(e2.Lock(5000, 1));
    ASSERT_TRUE(e1.Unlock(5000, 1));
    EXPECT_TRUE(writer.Lock(5000, 1));
}

// A file without write permission for the user gets the emulation without any forcing. As root
// the test runs that user in a child that drops its privileges.
TEST_F(ByteRangeLockTest, FileWithoutWritePermissionUsesTheEmulation) {
    ASSERT_EQ(chmod(Path.c_str(), 0444), 0);
    File holder = OpenHandle(FileAccess::Read);
    ASSERT_TRUE(holder.Lock(200, 10));
    auto body = [&](Child& self) {
        if (geteuid() == 0 && setuid(65534) != 0) return 10;
        File f;
        if (!f.Open(Path, FileAccess::Read, FileShare::DenyWrite, FileCreate::OpenExisting)) return 1;
        if (f.LockMode() != ByteRangeLocks::Mode::Emulated) return 2;
        if (f.Lock(205, 1)) return 3;       // held by the holder
        if (!f.Lock(210, 5)) return 4;      // free
        if (f.Lock(212, 1)) return 5;       // own range
        self.Send('r');
        self.Receive();
        return 0;
    };
    Child child(body);
    ASSERT_EQ(child.Receive(), 'r');
    EXPECT_FALSE(holder.Lock(214, 1));  // the child's emulated lock holds against a native one
    child.Send('q');
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_TRUE(holder.Lock(214, 1));
}

TEST_F(ByteRangeLockTest, LocksOfAnotherProcessAndOfADeadOne) {
    Child child([&](Child& self) {
        File f;
        if (!f.Open(Path, FileAccess::ReadWrite, FileShare::DenyNone, FileCreate::OpenExisting)) return 1;
        if (!f.Lock(0x401001, 1) || !f.Lock(0x2010000, 1)) return 2;
        self.Send('r');
        for (;;) pause();
    });
    ASSERT_EQ(child.Receive(), 'r');
    File a = OpenHandle();
    EXPECT_FALSE(a.Lock(0x401001, 1));
    EXPECT_FALSE(a.Lock(0x401000, 4096));
    EXPECT_TRUE(a.Lock(0x401000, 1));
    EXPECT_FALSE(a.Lock(0x2010000, 1));
    child.Kill();  // the system drops a dead process's locks
    EXPECT_TRUE(a.Lock(0x401001, 1));
    EXPECT_TRUE(a.Lock(0x2010000, 1));
}

// Random lock and unlock calls by three handles (one emulated) on a small area, checked against
// a model that knows which handle holds each byte and which ranges each handle locked.
TEST_F(ByteRangeLockTest, RandomOperationsMatchAModel) {
    File h0 = OpenHandle(), h1 = OpenHandle(FileAccess::Read);
    ForceEmulatedLocksForTesting(true);
    File h2 = OpenHandle(FileAccess::Read);
    ForceEmulatedLocksForTesting(false);
    File* handles[3] = {&h0, &h1, &h2};
    constexpr int Bytes = 48;
    int owner[Bytes];
    std::fill(std::begin(owner), std::end(owner), -1);
    std::map<uint64_t, uint64_t> held[3];
    std::mt19937 rng(20240611);
    for (int step = 0; step < 4000; ++step) {
        int h = rng() % 3;
        uint64_t offset = rng() % Bytes;
        uint64_t length = 1 + rng() % std::min<uint64_t>(6, Bytes - offset);
        if (rng() % 2 == 0) {
            bool free = true;
            for (uint64_t i = offset; i < offset + length; ++i) free = free && owner[i] < 0;
            bool got = handles[h]->Lock(offset, length);
            ASSERT_EQ(got, free) << "step " << step << " lock " << offset << "+" << length << " by " << h;
            if (got) {
                for (uint64_t i = offset; i < offset + length; ++i) owner[i] = h;
                held[h][offset] = length;
            }
        } else {
            // Half of the unlocks name a held range, the rest whatever came out.
            if (!held[h].empty() && rng() % 2 == 0) {
                auto it = held[h].begin();
                std::advance(it, rng() % held[h].size());
                offset = it->first;
                length = it->second;
            }
            auto it = held[h].find(offset);
            bool exact = it != held[h].end() && it->second == length;
            ASSERT_EQ(handles[h]->Unlock(offset, length), exact) << "step " << step;
            if (exact) {
                for (uint64_t i = offset; i < offset + length; ++i) owner[i] = -1;
                held[h].erase(it);
            }
        }
    }
}
