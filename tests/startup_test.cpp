// The program's start as the real programs run it, in a child process, since a process holds
// only one application object.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/file.h"
#include "platform/winapp.h"
#include "scratch_dir.h"

namespace {

constexpr rlim_t kFileSizeLimit = 1024;
constexpr int kWriteFailedWithEfbig = 0;
constexpr int kWriteDidNotFail = 1;
constexpr int kOtherOutcome = 2;
const ResourceSet kNoResources;

// Writes past the file-size limit from inside InitInstance, as Generate or Patch would.
class OversizeWriterApp : public CWinApp {
 public:
  explicit OversizeWriterApp(std::string path) : CWinApp(kNoResources), m_path(std::move(path)) {}
  bool InitInstance() override {
    CFile file;
    if (!file.Open(m_path, CFile::modeReadWrite | CFile::modeCreate)) std::_Exit(kOtherOutcome);
    const Bytes block(2 * kFileSizeLimit, 0);
    try {
      file.Write(block.data(), block.size());
    } catch (const CFileException& e) {
      std::_Exit(e.m_lOsError == EFBIG ? kWriteFailedWithEfbig : kOtherOutcome);
    }
    std::_Exit(kWriteDidNotFail);
  }

 private:
  std::string m_path;
};

TEST(StartUp, AWritePastTheFileSizeLimitFailsInsteadOfKillingTheProgram) {
  ScratchDir scratch;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    OversizeWriterApp app(scratch.File("big.bin"));
    char name[] = "startup_test";
    char* argv[] = {name, nullptr};
    std::_Exit(AfxWinMain(1, argv) == 0 ? kWriteDidNotFail : kOtherOutcome);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), kWriteFailedWithEfbig);
}

}  // namespace
