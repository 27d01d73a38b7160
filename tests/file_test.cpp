// The file object against real files, real locks and real failing system calls.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
  ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0755), 0);
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

TEST_F(FileTest, DirectoryRefusesReadWriteOpenWithEisdir) {
  EXPECT_EQ(OpenErrorOf(m_dir.Path().string(), kPatchMode), EISDIR);
}

TEST_F(FileTest, CreateMakesAMissingFileAndEmptiesAnExistingOne) {
  CFile file;
  ASSERT_TRUE(file.Open(m_dir.File("new.wav"), CFile::modeCreate | CFile::modeWrite));
  EXPECT_EQ(file.GetLength(), 0u);
  ASSERT_TRUE(file.Open(m_path, CFile::modeCreate | kPatchMode));
  EXPECT_EQ(file.GetLength(), 0u);
}

TEST_F(FileTest, CreateLeavesALockedFileIntact) {
  CFile holder;
  ASSERT_TRUE(holder.Open(m_path, kPatchMode));
  EXPECT_EQ(OpenErrorOf(m_path, CFile::modeCreate | kPatchMode), EWOULDBLOCK);
  EXPECT_EQ(holder.GetLength(), 5u);
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

TEST_F(FileTest, ReadOnADirectoryThrowsEisdir) {
  CFile dir;
  ASSERT_TRUE(dir.Open(m_dir.Path().string(), CFile::modeRead));
  std::uint8_t byte = 0;
  try {
    dir.Read(&byte, 1);
    FAIL() << "read on a directory succeeded";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, EISDIR);
    EXPECT_EQ(std::string(e.what()), OsErrorText(EISDIR));
  }
}

TEST(FileErrorTest, WriteToAFullDeviceThrowsEnospc) {
  CFile full;
  ASSERT_TRUE(full.Open("/dev/full", CFile::modeWrite));
  try {
    full.Write("x", 1);
    FAIL() << "write to /dev/full succeeded";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_lOsError, ENOSPC);
  }
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
    if (!file.Open(m_path, CFile::modeCreate | kPatchMode)) return kChildSetupFailed;
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

  CFile::InjectFault(CFile::Fault::read, EIO, 1);
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), 0);
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), EIO);
  EXPECT_EQ(file.Seek(0, CFile::current), 1u);  // the failed read moved nothing
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), 0);
  EXPECT_EQ(byte, 2);

  CFile::InjectFault(CFile::Fault::write, ENOSPC);
  EXPECT_EQ(codeOf([&] { file.Write("\xFF", 1); }), ENOSPC);
  CFile::InjectFault(CFile::Fault::write, EIO);
  EXPECT_EQ(codeOf([&] { file.WriteAt(0, "\xFF", 1); }), EIO);
  EXPECT_EQ(ReadBytes(m_path), (Bytes{1, 2, 3, 4, 5}));

  CFile::InjectFault(CFile::Fault::flush, EIO);
  EXPECT_EQ(codeOf([&] { file.Read(&byte, 1); }), 0);  // other calls are not affected
  EXPECT_EQ(codeOf([&] { file.Flush(); }), EIO);
  EXPECT_EQ(codeOf([&] { file.Flush(); }), 0);

  CFile::InjectFault(CFile::Fault::close, EDQUOT);
  EXPECT_EQ(codeOf([&] { file.Close(); }), EDQUOT);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(OpenErrorOf(m_path, kPatchMode), 0);  // the descriptor and its lock are gone
}

TEST_F(FileTest, CreateUniqueMakesAFreshPrivateNameWithTheUsualPermissions) {
  const mode_t oldMask = ::umask(022);
  CFile a, b;
  ASSERT_TRUE(a.CreateUnique(m_dir.Path().string(), ".tmp."));
  ASSERT_TRUE(b.CreateUnique(m_dir.Path().string(), ".tmp."));
  ::umask(oldMask);
  EXPECT_NE(a.GetFilePath(), b.GetFilePath());
  EXPECT_EQ(std::filesystem::path(a.GetFilePath()).parent_path(), m_dir.Path());
  EXPECT_EQ(a.GetLength(), 0u);
  struct stat info {};
  ASSERT_EQ(::stat(a.GetFilePath().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  EXPECT_EQ(OpenErrorOf(a.GetFilePath(), CFile::modeRead), EWOULDBLOCK);
  int error = 0;
  EXPECT_FALSE(a.CreateUnique(m_dir.File("missing"), ".tmp.", &error));
  EXPECT_EQ(error, ENOENT);
  EXPECT_FALSE(a.IsOpen());
}

// A FIFO carrying a wave file's name must not hang the program waiting for a writer.
TEST_F(FileTest, OpeningAFifoDoesNotWait) {
  const std::string fifo = m_dir.File("fifo.wav");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const int code = InChild([&] {
    CFile file;
    return file.Open(fifo, CFile::modeRead) ? 0 : 1;
  });
  EXPECT_EQ(code, 0);
}

}  // namespace
