// The file object against real files, real locks and real failing system calls.
#include "fileio/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "fileio/replace_file.h"
#include "fileio/write_all.h"
#include "tests/child_process.h"
#include "tests/file_faults.h"
#include "tests/scratch_dir.h"

namespace {

constexpr unsigned kPatchMode = CFile::modeReadWrite | CFile::shareExclusive;
constexpr uid_t kNobody = 65534;
constexpr int kChildSetupFailed = 250;

int OpenErrorOf(const std::string& path, unsigned flags) {
  CFile file;
  int error = 0;
  return file.Open(path, flags, &error) ? 0 : error;
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = m_dir.File("a.wav");
    WriteBytes(m_path, {1, 2, 3, 4, 5});
  }
  ScratchDir m_dir;
  std::string m_path;
};

TEST_F(FileTest, LockedFileRefusesSecondOpenHereAndInAnotherProcessUntilClosed) {
  CFile first;
  ASSERT_TRUE(first.Open(m_path, kPatchMode));
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), EWOULDBLOCK);
  EXPECT_EQ(OpenErrorOf(m_path, CFile::modeRead), EWOULDBLOCK);
  EXPECT_EQ(InChild([&] { return OpenErrorOf(m_path, kPatchMode); }), EWOULDBLOCK);

  first.Close();
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), 0);
}

TEST_F(FileTest, SharedOpensCoexistButBlockAnExclusiveOne) {
  CFile a, b;
  ASSERT_TRUE(a.Open(m_path, CFile::modeRead));
  ASSERT_TRUE(b.Open(m_path, CFile::modeRead));
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), EWOULDBLOCK);
}

TEST_F(FileTest, MissingFileFailsWithEnoentAndIsNotCreated) {
  const std::string missing = m_dir.File("missing.wav");
  EXPECT_EQ(OpenErrorOf(missing, kPatchMode), ENOENT);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_EQ(OpenErrorOf("", kPatchMode), ENOENT);
}

// Root ignores file permissions, so when the tests run as root the open is tried by a child
// that has given up root for an ordinary user.
TEST_F(FileTest, ReadOnlyFileRefusesReadWriteOpenWithEacces) {
  const ScratchDir reachable(ScratchDir::Reach::everyone);
  m_path = reachable.CopyOf(m_path);
  ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
  const int code = InChild([&] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
      return kChildSetupFailed;
    }
    return OpenErrorOf(m_path, kPatchMode);
  });
  if (code == kChildSetupFailed) GTEST_SKIP() << "cannot drop root to test permissions";
  EXPECT_EQ(code, EACCES);
  EXPECT_EQ(OpenErrorOf(m_path, CFile::modeRead), 0);
}

TEST_F(FileTest, DirectoryRefusesEveryOpenWithEisdir) {
  EXPECT_EQ(OpenErrorOf(m_dir.Path().string(), kPatchMode), EISDIR);
  EXPECT_EQ(OpenErrorOf(m_dir.Path().string(), CFile::modeRead), EISDIR);
}

TEST_F(FileTest, ReopeningLetsGoOfTheFileHeldSoFar) {
  CFile file;
  ASSERT_TRUE(file.Open(m_path, kPatchMode));
  EXPECT_FALSE(file.Open(m_dir.File("missing.wav"), kPatchMode));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), 0);
}

TEST_F(FileTest, MovedFileKeepsDescriptorAndLock) {
  CFile first;
  ASSERT_TRUE(first.Open(m_path, kPatchMode));
  CFile second = std::move(first);
  EXPECT_FALSE(first.IsOpen());
  EXPECT_EQ(second.GetFilePath(), m_path);
  EXPECT_EQ(second.GetLength(), 5u);
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), EWOULDBLOCK);
}

TEST_F(FileTest, SeekReadAndWriteMoveTheExpectedBytes) {
  CFile file;
  ASSERT_TRUE(file.Open(m_path, kPatchMode));
  std::uint8_t buffer[8] = {};
  EXPECT_EQ(file.Seek(3, CFile::begin), 3u);
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 2u);  // short only at the end of the file
  EXPECT_EQ(buffer[0], 4);
  EXPECT_EQ(buffer[1], 5);
  EXPECT_EQ(file.Seek(-4, CFile::end), 1u);
  file.Write("\xAA\xBB", 2);
  EXPECT_EQ(file.Seek(0, CFile::current), 3u);
  file.Flush();
  file.Close();
  EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 0xAA, 0xBB, 4, 5}));
}

TEST(FileErrorTest, ExceptionCarriesCodeAndTheSystemsText) {
  const CFileException error(ENOENT);
  EXPECT_EQ(error.m_lOsError, ENOENT);
  EXPECT_STREQ(error.what(), std::strerror(ENOENT));
  EXPECT_FALSE(OsErrorText(EISDIR).empty());
}

// A file-size limit stands in for a full disk: the write stops part way and the next attempt
// fails with EFBIG, which the child reports as its exit code.
TEST_F(FileTest, WritePastTheFileSizeLimitThrowsEfbig) {
  const int code = InChild([&] {
    const rlimit limit{16, 16};
    if (::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      return kChildSetupFailed;
    }
    CFile file;
    if (!file.Open(m_path, kPatchMode)) return kChildSetupFailed;
    const Bytes block(64, 0x11);
    try {
      file.Write(block.data(), block.size());
    } catch (const CFileException& e) {
      return e.m_lOsError;
    }
    return 0;
  });
  EXPECT_EQ(code, EFBIG);
  EXPECT_EQ(ReadBytes(m_path).size(), 16u);
}

TEST_F(FileTest, FailedSeekAndUseAfterCloseThrowTheirCodes) {
  CFile file;
  ASSERT_TRUE(file.Open(m_path, kPatchMode));
  try {
    file.Seek(-1, CFile::begin);
    FAIL();
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EINVAL);
  }
  file.Close();
  file.Close();  // a second close is harmless
  try {
    file.GetLength();
    FAIL();
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EBADF);
  }
}

TEST_F(FileTest, WriteAtPutsBytesInPlaceAndLeavesThePositionAlone) {
  CFile file;
  ASSERT_TRUE(file.Open(m_path, kPatchMode));
  EXPECT_EQ(file.Seek(1, CFile::begin), 1u);
  file.WriteAt(3, "\xAA\xBB\xCC", 3);
  EXPECT_EQ(file.Seek(0, CFile::current), 1u);
  file.Close();
  EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 0xAA, 0xBB, 0xCC}));
}

// The seam the fault tests of the programs stand on: each armed fault fails exactly the call it
// names, after the given number of successful ones, with the given code, and touches nothing.
// The one write loop: pieces in order, empty ones skipped wherever they are (an empty last one
// must not read as a full device), the count of what the kernel took, and a full device named.
TEST_F(FileTest, WriteAllWritesEveryPieceInOrderAndNamesAFullDevice) {
  const int fd = ::open(m_path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  char a[] = "ab";
  char b[] = "cde";
  iovec pieces[] = {{a, 2}, {nullptr, 0}, {b, 3}, {nullptr, 0}};
  std::uint64_t written = 0;
  EXPECT_EQ(WriteAll(fd, pieces, 4, &written), 0);
  EXPECT_EQ(written, 5u);
  EXPECT_EQ(WriteAllAt(fd, 1, "X", 1), 0);
  EXPECT_EQ(WriteAll(fd, "f", 1), 0);  // at the position the first call left, not after X
  ::close(fd);
  EXPECT_EQ(ReadBytes(m_path), (Bytes{'a', 'X', 'c', 'd', 'e', 'f'}));

  const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  EXPECT_EQ(WriteAll(full, "x", 1), ENOSPC);
  ::close(full);
}

TEST_F(FileTest, AnInjectedFaultFailsTheNamedCallOnceAndTouchesNothing) {
  const FaultGuard guard;
  const auto codeOf = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const CFileException& e) {
      return e.m_lOsError;
    }
    return 0;
  };
  CFile file;
  ASSERT_TRUE(file.Open(m_path, kPatchMode));
  std::uint8_t byte = 0;

  InjectFileFault(FileFault::read, EIO, 1);
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), 0);
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), EIO);
  EXPECT_EQ(file.Seek(0, CFile::current), 1u);  // the failed read moved nothing
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), 0);
  EXPECT_EQ(byte, 2);

  InjectFileFault(FileFault::write, ENOSPC);
  EXPECT_EQ(codeOf([&] { file.Write("\xFF", 1); }), ENOSPC);
  InjectFileFault(FileFault::write, EIO);
  EXPECT_EQ(codeOf([&] { file.WriteAt(0, "\xFF", 1); }), EIO);
  EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 4, 5}));

  InjectFileFault(FileFault::flush, EIO);
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), 0);  // other calls are not affected
  EXPECT_EQ(codeOf([&] { file.Flush(); }), EIO);
  EXPECT_EQ(codeOf([&] { file.Flush(); }), 0);

  InjectFileFault(FileFault::close, EDQUOT);
  EXPECT_EQ(codeOf([&] { file.Close(); }), EDQUOT);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), 0);  // the descriptor and its lock are gone
}

// A FIFO or a device carrying a wave file's name is refused at once, read-only as well as for
// patching: the first bytes of a disk may look like a canonical header, and a FIFO would wait.
TEST_F(FileTest, OnlyRegularFilesOpenAndNothingWaitsOnAFifoOrDevice) {
  const std::string fifo = m_dir.File("fifo.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  std::vector<std::string> odd = {fifo, "/dev/null"};
  // A device node of one's own where this user may make one (root): the null device again.
  const std::string device = m_dir.File("device.wav");
  if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) odd.push_back(device);
  const std::string link = m_dir.File("link.wav");
  std::filesystem::create_symlink(fifo, link);
  odd.push_back(link);
  for (const std::string& path : odd) {
    SCOPED_TRACE(path);
    const int code = InChild([&] {
      const int read = OpenErrorOf(path, CFile::modeRead);
      return read == ENODEV ? OpenErrorOf(path, kPatchMode) : kChildSetupFailed + 1;
    });
    EXPECT_EQ(code, ENODEV);
  }
  EXPECT_EQ(OpenErrorOf(m_path, CFile::modeRead), 0);
}

// --- ReplacementFile ------------------------------------------------------------------------

using Names = std::set<std::string>;

Names NamesIn(const std::filesystem::path& folder) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Both kinds of new file: unnamed, and the hidden named one of file systems without unnamed files.
class ReplacementFileTest : public FileTest, public ::testing::WithParamInterface<bool> {
 protected:
  int Create(ReplacementFile& file, const std::string& path) const {
    if (GetParam()) InjectFileFault(FileFault::unnamedFile, EOPNOTSUPP);
    const int error = file.Create(path);
    InjectFileFault(FileFault::none, 0);  // unused when Create refused before making a file
    return error;
  }
};

INSTANTIATE_TEST_SUITE_P(Kinds, ReplacementFileTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Named" : "Unnamed"; });

TEST_P(ReplacementFileTest, TheNewFileIsUnseenUntilCommitThenHasTheUsualPermissions) {
  const mode_t oldMask = ::umask(027);
  const std::string out = m_dir.File("out.wav");
  ReplacementFile file;
  const int created = Create(file, out);
  ::umask(oldMask);
  ASSERT_EQ(created, 0);
  ASSERT_EQ(file.Write("abc", 3), 0);
  const Names during = NamesIn(m_dir.Path());
  if (GetParam()) {
    ASSERT_EQ(during.size(), 2u);
    EXPECT_EQ(during.begin()->rfind(".out.wav.", 0), 0u) << *during.begin();  // "." sorts first
  } else {
    EXPECT_EQ(during, Names{"a.wav"});
  }
  ASSERT_EQ(file.Commit(), 0);
  EXPECT_EQ(NamesIn(m_dir.Path()), (Names{"a.wav", "out.wav"}));
  EXPECT_EQ(ReadBytes(out), (Bytes{'a', 'b', 'c'}));
  struct stat info {};
  ASSERT_EQ(::stat(out.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// Every failure, and giving up, leaves the earlier file as it was and nothing beside it.
TEST_P(ReplacementFileTest, AFailureOrDiscardLeavesTheOldFileAndNothingElse) {
  const FaultGuard guard;
  const std::pair<FileFault, int> faults[] = {{FileFault::none, 0},
                                              {FileFault::write, ENOSPC},
                                              {FileFault::flush, EIO},
                                              {FileFault::close, EDQUOT}};
  for (const auto& [fault, code] : faults) {
    SCOPED_TRACE(code);
    {
      ReplacementFile file;
      ASSERT_EQ(Create(file, m_path), 0);
      InjectFileFault(fault, code);
      const int error = file.Write("new", 3);
      if (fault == FileFault::none) continue;  // given up before Commit
      EXPECT_EQ(error == 0 ? file.Commit() : error, code);
    }
    EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(NamesIn(m_dir.Path()), Names{"a.wav"});
  }
}

// The data is flushed once: Commit after Flush does not flush again (an armed flush fault stays
// unused), unless Write has written since, and then a failed flush still keeps the old file.
TEST_P(ReplacementFileTest, CommitFlushesOnlyWhatFlushHasNotAlready) {
  const FaultGuard guard;
  for (const bool writtenAfterFlush : {false, true}) {
    SCOPED_TRACE(writtenAfterFlush);
    WriteBytes(m_path, {1, 2, 3, 4, 5});
    {
      ReplacementFile file;
      ASSERT_EQ(Create(file, m_path), 0);
      ASSERT_EQ(file.Write("new", 3), 0);
      ASSERT_EQ(file.Flush(), 0);
      if (writtenAfterFlush) {
        ASSERT_EQ(file.Write("er", 2), 0);
      }
      InjectFileFault(FileFault::flush, EIO);
      EXPECT_EQ(file.Commit(), writtenAfterFlush ? EIO : 0);
    }  // a failed commit's new file goes with the object
    const Bytes expected = writtenAfterFlush ? Bytes{1, 2, 3, 4, 5} : Bytes{'n', 'e', 'w'};
    EXPECT_EQ(ReadBytes(m_path), expected);
    EXPECT_EQ(NamesIn(m_dir.Path()), Names{"a.wav"});
    InjectFileFault(FileFault::none, 0);
  }
}

// A link, a FIFO or a device at the name is replaced by the new file and never opened; a folder
// there is refused before anything is written.
TEST_P(ReplacementFileTest, WhateverHasTheNameIsReplacedButAFolder) {
  const std::string link = m_dir.File("link.wav");
  const std::string fifo = m_dir.File("fifo.wav");
  std::filesystem::create_symlink(m_path, link);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  for (const std::string& name : {link, fifo}) {
    SCOPED_TRACE(name);
    ReplacementFile file;
    ASSERT_EQ(Create(file, name), 0);
    ASSERT_EQ(file.Write("new", 3), 0);
    ASSERT_EQ(file.Commit(), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(name)));
    EXPECT_EQ(ReadBytes(name), (Bytes{'n', 'e', 'w'}));
  }
  EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 4, 5}));

  const std::string folder = m_dir.File("folder.wav");
  std::filesystem::create_directory(folder);
  ReplacementFile file;
  EXPECT_EQ(Create(file, folder), EISDIR);
  EXPECT_EQ(Create(file, folder + "/"), EISDIR);
  EXPECT_EQ(Create(file, m_dir.File("missing/out.wav")), ENOENT);
  EXPECT_TRUE(std::filesystem::is_empty(folder));
  EXPECT_EQ(NamesIn(m_dir.Path()), (Names{"a.wav", "fifo.wav", "folder.wav", "link.wav"}));
}

// Starts a child that runs setup and then waits to be killed; returns once setup has succeeded
// (the child's pid), or -1 when it failed.
pid_t StartWaitingChild(const std::function<bool()>& setup) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t child = StartChild([&] {
    if (!setup() || ::write(ready[1], "r", 1) != 1) return kChildSetupFailed;
    ::pause();
    return 0;
  });
  ::close(ready[1]);
  char byte = 0;
  const bool set = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  if (set) return child;
  WaitForChild(child);
  return -1;
}

// A child that makes the new file, writes into it, tells the parent so and waits to be killed.
// For the named kind, the hidden file is in the folder while it waits.
TEST_P(ReplacementFileTest, ASignalThatEndsTheProgramLeavesNothingBehind) {
  for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM}) {
    SCOPED_TRACE(::strsignal(signal));
    ReplacementFile file;
    const pid_t child = StartWaitingChild([&] {
      const rlimit noCore{0, 0};
      ::setrlimit(RLIMIT_CORE, &noCore);  // SIGQUIT would dump one
      return Create(file, m_path) == 0 && file.Write("new", 3) == 0;
    });
    ASSERT_GT(child, 0);
    if (GetParam()) {
      EXPECT_EQ(NamesIn(m_dir.Path()).size(), 2u);  // the hidden file is there
    }
    ASSERT_EQ(::kill(child, signal), 0);
    const int status = WaitForChild(child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_EQ(NamesIn(m_dir.Path()), Names{"a.wav"});
    EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 4, 5}));
  }
}

// What a run killed outright (SIGKILL) leaves is removed by the next run on its way to the same
// name; a file whose writer is alive, or whose lock is held, is left alone.
TEST_F(FileTest, HiddenFilesOfKilledRunsAreRemovedButNotThoseOfLiveOnes) {
  const pid_t gone = StartChild([] { return 0; });
  WaitForChild(gone);
  const std::string dead = ".a.wav." + std::to_string(gone) + ".abcdefgh";
  ReplacementFile file;
  const pid_t writer = StartWaitingChild([&] {
    InjectFileFault(FileFault::unnamedFile, EOPNOTSUPP);
    return file.Create(m_path) == 0;
  });
  ASSERT_GT(writer, 0);
  const Names live = NamesIn(m_dir.Path());
  WriteBytes(m_dir.File(dead), {9});
  // A dead pid, but a lock someone holds: a writer in another pid namespace, say.
  const std::string locked = ".a.wav." + std::to_string(gone) + ".lockedxx";
  WriteBytes(m_dir.File(locked), {9});
  CFile holder;
  ASSERT_TRUE(holder.Open(m_dir.File(locked), CFile::modeRead | CFile::shareExclusive));
  WriteBytes(m_dir.File(".b.wav." + std::to_string(gone) + ".abcdefgh"), {9});  // another name's

  ReplacementFile next;
  ASSERT_EQ(next.Create(m_path), 0);
  Names expected = live;
  expected.insert(locked);
  expected.insert(".b.wav." + std::to_string(gone) + ".abcdefgh");
  EXPECT_EQ(NamesIn(m_dir.Path()), expected);
  ::kill(writer, SIGKILL);
  WaitForChild(writer);
  holder.Close();
  // Now both writers are gone: the next run clears what they left.
  ReplacementFile after;
  ASSERT_EQ(after.Create(m_path), 0);
  EXPECT_EQ(NamesIn(m_dir.Path()),
            (Names{"a.wav", ".b.wav." + std::to_string(gone) + ".abcdefgh"}));
}

// Write-protected (no write bit at all) is refused even for root; a file that may be replaced
// passes its permission bits, and its owner, to the new one.
TEST_P(ReplacementFileTest, AWriteProtectedFileIsKeptAndAReplacedOneKeepsItsPermissions) {
  ASSERT_EQ(::chmod(m_path.c_str(), 0444), 0);
  ReplacementFile refused;
  EXPECT_EQ(Create(refused, m_path), EACCES);
  EXPECT_TRUE(refused.WriteProtected());
  EXPECT_EQ(NamesIn(m_dir.Path()), Names{"a.wav"});
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), EACCES);  // also for root
  EXPECT_EQ(OpenErrorOf(m_path, CFile::modeRead), 0);

  const bool root = ::geteuid() == 0;
  ASSERT_EQ(::chmod(m_path.c_str(), 0604), 0);
  if (root) {
    ASSERT_EQ(::chown(m_path.c_str(), kNobody, kNobody), 0);
  }
  ReplacementFile file;
  ASSERT_EQ(Create(file, m_path), 0);
  EXPECT_FALSE(file.WriteProtected());
  ASSERT_EQ(file.Write("new", 3), 0);
  ASSERT_EQ(file.Commit(), 0);
  struct stat info {};
  ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0604u);
  if (root) {
    EXPECT_EQ(info.st_uid, kNobody);
  }
  EXPECT_EQ(ReadBytes(m_path), (Bytes{'n', 'e', 'w'}));
}

// chattr +i on the file, +i or +a on the folder: the rename would fail at the very end, after
// the whole file was written (and in an append-only folder the hidden file could not even be
// removed). Needs root and a file system that takes the attributes.
TEST_P(ReplacementFileTest, AnImmutableOrAppendOnlyFileOrFolderIsRefusedBeforeAnyWrite) {
  const std::string folder = m_dir.Path().string();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"+i", m_path}, {"+a", m_path}, {"+i", folder}, {"+a", folder}};
  for (const auto& [flag, target] : cases) {
    SCOPED_TRACE(flag + " " + target);
    const std::string set = "chattr " + flag + " '" + target + "' 2>/dev/null";
    if (std::system(set.c_str()) != 0) {
      GTEST_SKIP() << "chattr is refused here (not root, or the file system has no such flags)";
    }
    ReplacementFile file;
    const int error = Create(file, m_path);
    const std::string clear = "chattr -i -a '" + target + "'";
    ASSERT_EQ(std::system(clear.c_str()), 0);
    EXPECT_EQ(error, EPERM);
    EXPECT_EQ(NamesIn(m_dir.Path()), Names{"a.wav"});
    EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 4, 5}));
  }
}

TEST_F(FileTest, ATrailingSlashNamesAFolderThatMustExist) {
  ReplacementFile file;
  EXPECT_EQ(file.Create(m_dir.File("missing") + "/"), ENOENT);
  EXPECT_EQ(file.Create(m_path + "/"), ENOTDIR);
  EXPECT_EQ(file.Create(m_dir.Path().string() + "/"), EISDIR);
}

}  // namespace
