// loop's audition against a real sound server: a PulseAudio daemon of the test's own, its only
// sink a null sink, recorded from that sink's monitor with parec. The dialog plays the file;
// the recording must hold the file's very samples, in the order the command plays them. And
// without a server the play commands are off and say why.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QKeyEvent>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "gui_support.h"
#include "looppatch/loop_dlg.h"
#include "looppatch/play_stream.h"
#include "looppatch/player.h"
#include "looppatch/wave_samples.h"
#include "looppatch/wave_view.h"
#include "resources/loop_rc.h"
#include "tests/sample_wave.h"
#include "tests/scratch_dir.h"

extern char** environ;

namespace {

// The files the tests play match the null sink: 44100 Hz stereo.
constexpr std::uint16_t kChannels = 2;
constexpr std::uint64_t kFrames = 2 * kTestRate;
// Under the loop table's records (the first 60 bytes) the file holds silence, so its table
// reads as empty.
constexpr std::uint64_t kTableFrames = 15;
// The server and the recorder start, and sound comes round, well within this on a busy machine.
constexpr int kWaitMs = 20'000;
constexpr int kPollMs = 20;
constexpr int kDialogWatchdogMs = 3 * kWaitMs;
constexpr char kSinkMonitor[] = "audition.monitor";
constexpr int kCannotStart = 127;

// Frames no other stretch of the file repeats: a pseudo-random sequence.
std::vector<std::int16_t> NoiseSamples() {
  std::mt19937 random(5);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  std::vector<std::int16_t> s(kFrames * kChannels);
  for (auto& v : s) v = static_cast<std::int16_t>(sample(random));
  std::fill_n(s.begin(), kTableFrames * kChannels, 0);
  return s;
}

// Starts a program with these variables added to the environment, its stdout and stderr in
// files; -1 when it cannot be started. The program ends with the test process, even one that
// dies: no daemon is left behind.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv,
            const std::string& out, const std::string& err) {
  std::vector<std::string> env(extraEnv);
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  const auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (auto& s : strings) p.push_back(s.data());
    p.push_back(nullptr);
    return p;
  };
  std::vector<std::string> args(argv);
  std::vector<char*> argp = pointers(args);
  std::vector<char*> envp = pointers(env);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Only calls that are safe between fork and exec from here on.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) ::_exit(kCannotStart);
  const int in = ::open("/dev/null", O_RDONLY);
  const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || o < 0 || e < 0 || ::dup2(in, STDIN_FILENO) < 0 || ::dup2(o, STDOUT_FILENO) < 0 ||
      ::dup2(e, STDERR_FILENO) < 0) {
    ::_exit(kCannotStart);
  }
  ::execvpe(argp[0], argp.data(), envp.data());
  ::_exit(kCannotStart);
}

// Ends a child this test started, by its pid.
void End(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  pid = -1;
}

std::string FileText(const std::filesystem::path& path) {
  const Bytes bytes = ReadBytes(path.string());
  return std::string(bytes.begin(), bytes.end());
}

bool Accepts(const std::string& socketPath) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// A PulseAudio daemon in a scratch folder of its own (its runtime folder and its home), loaded
// with the null sink only, and the address its clients use. Running as root it warns and runs.
class SoundServer {
 public:
  explicit SoundServer(const std::filesystem::path& dir) : m_dir(dir) {
    std::filesystem::create_directories(dir / "run");
    std::filesystem::create_directories(dir / "home");
    m_pid = Spawn({"pulseaudio", "-n", "-F", AUDITION_SERVER_SCRIPT, "--daemonize=no",
                   "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no", "--realtime=no",
                   "--high-priority=no", "--log-target=stderr"},
                  {"XDG_RUNTIME_DIR=" + (dir / "run").string(), "HOME=" + (dir / "home").string()},
                  "/dev/null", Log().string());
    QElapsedTimer clock;
    clock.start();
    while (m_pid > 0 && !Accepts(Socket()) && clock.elapsed() < kWaitMs) {
      if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) m_pid = -1;  // it gave up
      ::usleep(kPollMs * 1000);
    }
  }
  ~SoundServer() { Kill(); }
  void Kill() { End(m_pid); }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  bool Running() const { return m_pid > 0 && Accepts(Socket()); }
  std::filesystem::path Log() const { return m_dir / "pulseaudio.log"; }
  std::string Socket() const { return (m_dir / "run" / "pulse" / "native").string(); }
  // What a client needs to reach this server and no other.
  std::vector<std::string> ClientEnv() const {
    return {"PULSE_SERVER=unix:" + Socket(),
            "PULSE_COOKIE=" + (m_dir / "home" / ".config" / "pulse" / "cookie").string()};
  }

 private:
  std::filesystem::path m_dir;
  pid_t m_pid = -1;
};

// parec on the null sink's monitor: raw 16-bit stereo at the sink's rate, into a file.
class Recorder {
 public:
  Recorder(const SoundServer& server, const std::filesystem::path& dir)
      : m_file(dir / "monitor.raw"), m_log(dir / "parec.log") {
    m_pid = Spawn({"parec", "-d", kSinkMonitor, "--raw", "--format=s16le",
                   "--rate=" + std::to_string(kTestRate), "--channels=" + std::to_string(kChannels),
                   "--latency-msec=20"},
                  server.ClientEnv(), m_file.string(), m_log.string());
  }
  ~Recorder() { End(m_pid); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  std::string Log() const { return FileText(m_log); }
  std::uint64_t Bytes() const {
    std::error_code ignored;
    return std::filesystem::file_size(m_file, ignored);
  }
  std::vector<std::int16_t> Samples() const {
    const ::Bytes bytes = ReadBytes(m_file.string());
    std::vector<std::int16_t> s(bytes.size() / 2);
    for (std::size_t i = 0; i < s.size(); ++i)
      s[i] = static_cast<std::int16_t>(GetLe16(&bytes[2 * i]));
    return s;
  }
  // True when the recording holds these samples in a row, starting on a frame.
  bool Holds(const std::vector<std::int16_t>& wanted) const {
    const std::vector<std::int16_t> s = Samples();
    for (auto at = s.begin();
         (at = std::search(at, s.end(), wanted.begin(), wanted.end())) != s.end(); ++at) {
      if ((at - s.begin()) % kChannels == 0) return true;
    }
    return false;
  }

 private:
  std::filesystem::path m_file;
  std::filesystem::path m_log;
  pid_t m_pid = -1;
};

bool WaitFor(const std::function<bool()>& done) {
  return QTest::qWaitFor(done, kWaitMs);
}

// One server for the suite, started before Qt first looks for an output: Qt Multimedia reaches
// it as the desktop's default output through PULSE_SERVER.
class LoopAuditionTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_dir = std::make_unique<ScratchDir>();
    s_server = std::make_unique<SoundServer>(s_dir->Path() / "server");
    for (const std::string& variable : s_server->ClientEnv()) {
      const auto equals = variable.find('=');
      ::setenv(variable.substr(0, equals).c_str(), variable.substr(equals + 1).c_str(), 1);
    }
  }
  static void TearDownTestSuite() {
    s_server.reset();
    s_dir.reset();
  }

  void SetUp() override {
    AfxSetResources(LoopResources());
    ASSERT_TRUE(s_server->Running())
        << "the test's PulseAudio daemon did not start (is the pulseaudio package installed?):\n"
        << FileText(s_server->Log());
    m_path = m_scratch.File("noise.wav");
    WriteBytes(m_path, WaveOfSamples(kChannels, NoiseSamples()));
    ASSERT_TRUE(m_reader.Open(m_path, kChannels, kFrames));
    m_recorder = std::make_unique<Recorder>(*s_server, m_scratch.Path());
    // The monitor records silence from the start: once some arrives, the recorder listens.
    ASSERT_TRUE(WaitFor([&] { return m_recorder->Bytes() > 0; }))
        << "parec (pulseaudio-utils) recorded nothing:\n"
        << m_recorder->Log();
  }

  // Runs a dialog with the noise file open, the script inside it; Exit if it is still open.
  void WithDialog(const std::function<void(CLoopDlg&, WaveView&)>& script,
                  const std::string& path = {}) {
    CFile file;
    CLoopDlg dialog(file);
    // Sound takes its time to come round: a watchdog of the suite's own instead of RunModal's.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] {
      ADD_FAILURE() << "the dialog was still open after " << kDialogWatchdogMs << " ms";
      CloseAllModals();
    });
    watchdog.start(kDialogWatchdogMs);
    QTimer::singleShot(0, [&] {
      ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog, kWaitMs));
      m_prompts.AnswerFileDialog(path.empty() ? m_path : path);
      Click(dialog, "Open File");
      // The view by the name a screen reader gives it.
      WaveView* view = nullptr;
      for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        if (widget->accessibleName() == "Waveform") view = dynamic_cast<WaveView*>(widget);
      }
      ASSERT_NE(view, nullptr);
      script(dialog, *view);
      if (dialog.isVisible()) ExitDroppingEdits(m_prompts, dialog);
    });
    dialog.DoModal();
  }

  // Once playing has stopped, what the monitor records from then on is silence.
  void ExpectSilenceFromNowOn() {
    const std::uint64_t stoppedAt = m_recorder->Bytes();
    const std::uint64_t second = kTestRate * kChannels * 2;
    ASSERT_TRUE(WaitFor([&] { return m_recorder->Bytes() >= stoppedAt + second; }));
    const std::vector<std::int16_t> s = m_recorder->Samples();
    const auto tail = s.end() - static_cast<std::ptrdiff_t>(second / 2 / 2);  // the last 0.5 s
    EXPECT_TRUE(std::all_of(tail, s.end(), [](std::int16_t v) { return v == 0; }));
  }

  static std::unique_ptr<ScratchDir> s_dir;
  static std::unique_ptr<SoundServer> s_server;
  PromptRecorder m_prompts;
  ScratchDir m_scratch;
  std::string m_path;
  SampleReader m_reader;
  std::unique_ptr<Recorder> m_recorder;
};

std::unique_ptr<ScratchDir> LoopAuditionTest::s_dir;
std::unique_ptr<SoundServer> LoopAuditionTest::s_server;

TEST_F(LoopAuditionTest, LoopPlaysAToBAgainAndAgainUntilStopped) {
  constexpr std::uint64_t kA = 20'000;
  constexpr std::uint64_t kB = 24'409;  // the last frame played: a tenth of a second
  WithDialog([&](CLoopDlg& dialog, WaveView& view) {
    ASSERT_TRUE(FindButton(dialog, "Loop A to B")->isEnabled());
    TypeInto(dialog, "Loop point 1", QString::number(kA));
    TypeInto(dialog, "Loop point 2", QString::number(kB));
    QTest::keyClick(FindEdit(dialog, "Loop point 2"), Qt::Key_L);
    EXPECT_EQ(BoxText(dialog, "Loop point 2"), QString::number(kB));  // L was a command
    // A..B, A..B in a row: the seam as the loop plays it.
    EXPECT_TRUE(WaitFor([&] { return m_recorder->Holds(LoopFrames(m_reader, kA, kB, 2)); }))
        << m_recorder->Log();
    // The cursor runs inside the loop, never past B.
    for (int i = 0; i < 5; ++i) {
      QTest::qWait(kPollMs);
      ASSERT_TRUE(view.PlayCursor());
      EXPECT_GE(*view.PlayCursor(), kA);
      EXPECT_LE(*view.PlayCursor(), kB);
    }
    Click(dialog, "Stop");
    EXPECT_FALSE(view.PlayCursor());
    ExpectSilenceFromNowOn();
  });
  EXPECT_TRUE(m_prompts.messages.empty());
}

TEST_F(LoopAuditionTest, SpacePlaysFromThePointInFocusToTheEndAndSpaceOrEscStops) {
  constexpr std::uint64_t kFrom = kFrames - 8'000;
  WithDialog([&](CLoopDlg& dialog, WaveView& view) {
    TypeInto(dialog, "Loop point 3", QString::number(kFrom));
    QLineEdit* box = FindEdit(dialog, "Loop point 3");
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_EQ(box->text(), QString::number(kFrom));
    ASSERT_TRUE(view.PlayCursor());
    EXPECT_GE(*view.PlayCursor(), kFrom);
    // Everything from the point to the last frame, then playing ends by itself.
    EXPECT_TRUE(WaitFor([&] { return !view.PlayCursor(); }));
    EXPECT_TRUE(
        WaitFor([&] { return m_recorder->Holds(PlayFromFrames(m_reader, kFrom, kFrames)); }));
    // Again, stopped with Esc: the window stays; a second Esc is Exit.
    QTest::keyClick(box, Qt::Key_Space);
    ASSERT_TRUE(view.PlayCursor());
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(view.PlayCursor());
    EXPECT_TRUE(dialog.isVisible());
    ExpectSilenceFromNowOn();
    // And a third time, stopped by Space.
    QTest::keyClick(box, Qt::Key_Space);
    ASSERT_TRUE(view.PlayCursor());
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_FALSE(view.PlayCursor());
    m_prompts.AnswerQuestion(true);  // drop point 3, never patched
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
  });
}

// An output that refuses the file's rate is said so; nothing plays and nothing pretends to.
TEST_F(LoopAuditionTest, AFileTheOutputRefusesIsReportedAndNothingPlays) {
  const std::string path = m_scratch.File("fast.wav");
  WriteBytes(path, WaveOfSamples(kChannels, NoiseSamples(), 4'000'000));
  WithDialog(
      [&](CLoopDlg& dialog, WaveView& view) {
        TypeInto(dialog, "Loop point 1", "20000");
        TypeInto(dialog, "Loop point 2", "30000");
        Click(dialog, "Loop A to B");
        EXPECT_FALSE(view.PlayCursor());
        ASSERT_EQ(m_prompts.messages.size(), 1u);
        EXPECT_EQ(m_prompts.messages[0], "The sound output refused to play this file.");
      },
      path);
}

// A file an editor saved over after it was opened: Play says so, as Patch does, and plays
// nothing.
TEST_F(LoopAuditionTest, AFileReplacedSinceItWasOpenedIsNamedNotPlayed) {
  WithDialog([&](CLoopDlg& dialog, WaveView& view) {
    const std::string newer = m_scratch.File("newer.wav");
    WriteBytes(newer, WaveOfSamples(1, std::vector<std::int16_t>(kFrames, 99), 8000));
    std::filesystem::rename(newer, m_path);
    EXPECT_EQ(MessagesOfClick(m_prompts, dialog, "Play"),
              Messages{"The file was replaced or removed after it was opened"});
    EXPECT_FALSE(view.PlayCursor());
  });
}

// The server dies while a loop plays (the last test of the suite: its server is gone after
// it): playing ends, the cursor goes and the user is told; playing again is refused, not
// pretended.
TEST_F(LoopAuditionTest, TheServerDyingWhilePlayingEndsPlayingAndSaysSo) {
  WithDialog([&](CLoopDlg& dialog, WaveView& view) {
    TypeInto(dialog, "Loop point 1", "20000");
    TypeInto(dialog, "Loop point 2", "30000");
    Click(dialog, "Loop A to B");
    ASSERT_TRUE(view.PlayCursor());
    s_server->Kill();
    EXPECT_TRUE(WaitFor([&] { return !view.PlayCursor(); }));
    EXPECT_TRUE(WaitFor([&] { return !m_prompts.messages.empty(); }));
    EXPECT_EQ(m_prompts.messages, Messages{"Playing stopped: the sound output failed."});
    // Qt may still list the output it lost: then Play is refused with a reason.
    m_prompts.messages.clear();
    if (FindButton(dialog, "Play")->isEnabled()) {
      Click(dialog, "Play");
      EXPECT_EQ(m_prompts.messages, Messages{"The sound output refused to play this file."});
    } else {
      EXPECT_EQ(FindButton(dialog, "Play")->toolTip(), kNoOutputText);
    }
    EXPECT_FALSE(view.PlayCursor());
  });
}

// Without a sound server there is no output: the play commands are off and say why; the
// template's controls are as ever. Run in a process of its own, since Qt looks for the server
// once per process.
TEST(LoopAuditionWithoutServer, ThePlayCommandsAreDisabledAndSayWhy) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto check = [] {
    ScratchDir nowhere;
    ::setenv("PULSE_SERVER", ("unix:" + nowhere.File("no-server")).c_str(), 1);
    AfxSetResources(LoopResources());
    CFile file;
    CLoopDlg dialog(file);
    dialog.show();
    std::string wrong;
    for (const char* text : {"Play", "Loop A to B", "Stop"}) {
      QAbstractButton* button = FindButton(dialog, text);
      if (button == nullptr || button->isEnabled() || button->toolTip() != kNoOutputText) {
        wrong += std::string(text) + " is not disabled with the reason; ";
      }
    }
    for (const char* text : {"Open File", "Patch", "Exit", "Help"}) {
      QAbstractButton* button = FindButton(dialog, text);
      if (button == nullptr || !button->isEnabled()) wrong += std::string(text) + " is off; ";
    }
    std::fputs(wrong.c_str(), stderr);
    std::exit(wrong.empty() ? 0 : 1);
  };
  EXPECT_EXIT(check(), testing::ExitedWithCode(0), "");
}

// The play cursor is a line in its own colour at the frame being heard.
TEST(LoopAuditionCursor, ThePlayCursorIsDrawnAtTheFrameHeard) {
  ScratchDir scratch;
  const std::string path = scratch.File("silence.wav");
  WriteBytes(path, WaveOfSamples(1, std::vector<std::int16_t>(80'000, 0)));
  WaveView view;
  view.resize(800, 200);
  view.SetFile(path, {"silence.wav", kTestRate, 1, 80'000});
  view.SetPlayCursor(30'000);  // 100 frames a column: column 300
  QImage image = view.grab().toImage();
  const QColor cursor = image.pixelColor(300, view.LanesHeight() / 3);
  EXPECT_NE(cursor, QColor(Qt::white));
  EXPECT_EQ(image.pixelColor(302, view.LanesHeight() / 3), QColor(Qt::white));
  view.SetPlayCursor(std::nullopt);
  image = view.grab().toImage();
  EXPECT_EQ(image.pixelColor(300, view.LanesHeight() / 3), QColor(Qt::white));
}

// What the output is fed, without an output: frames as stored, whole frames only, a loop
// wrapping inside one read or across reads of any size, and the frame heard after so many.
TEST(LoopAuditionStream, ALoopWrapsInAnyReadAndAPassEndsAtTheLastFrame) {
  ScratchDir scratch;
  const std::string path = scratch.File("ramp.wav");
  std::vector<std::int16_t> ramp(2 * 100);
  for (std::size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<std::int16_t>(i - 100);
  WriteBytes(path, WaveOfSamples(2, ramp));
  SampleReader reader;
  ASSERT_TRUE(reader.Open(path, 2, 100));

  PlayStream loop = PlayStream::Loop(reader, 10, 12);  // 3 frames, 12 bytes a pass
  ASSERT_TRUE(loop.Valid());
  std::vector<std::int16_t> heard;
  for (std::size_t ask : {6u, 4u, 17u, 3u, 40u}) {  // 6 and 17 are no whole number of frames
    std::vector<std::int16_t> block(ask / 2 + 1);
    const std::size_t n = loop.Read(block.data(), ask);
    EXPECT_EQ(n, ask / 4 * 4) << ask;
    heard.insert(heard.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n / 2));
  }
  std::vector<std::int16_t> expected;
  while (expected.size() < heard.size()) {
    for (std::int16_t v = -80; v < -74; ++v) expected.push_back(v);  // frames 10..12
  }
  expected.resize(heard.size());
  EXPECT_EQ(heard, expected);
  EXPECT_FALSE(loop.Done());
  EXPECT_EQ(loop.FrameAfter(0), 10u);
  EXPECT_EQ(loop.FrameAfter(3 * 1000 + 2), 12u);

  PlayStream pass = PlayStream::From(reader, 97);
  EXPECT_EQ(pass.RemainingBytes(), 12u);
  std::vector<std::int16_t> tail(20);
  EXPECT_EQ(pass.Read(tail.data(), 40), 12u);
  EXPECT_EQ(std::vector<std::int16_t>(tail.begin(), tail.begin() + 6),
            (std::vector<std::int16_t>{94, 95, 96, 97, 98, 99}));
  EXPECT_TRUE(pass.Done());
  EXPECT_EQ(pass.Read(tail.data(), 40), 0u);
  EXPECT_EQ(pass.FrameAfter(2), 99u);
  EXPECT_FALSE(pass.FrameAfter(3));
  // Nothing to play: a start after the end, a point past the samples.
  EXPECT_FALSE(PlayStream::Loop(reader, 12, 10).Valid());
  EXPECT_FALSE(PlayStream::Loop(reader, 10, 100).Valid());
  EXPECT_FALSE(PlayStream::From(reader, 100).Valid());
}

// A file shorter than its header says (cut while it plays): the stream gives what is there
// and ends, where the samples end, instead of playing zeros or spinning.
TEST(LoopAuditionStream, AFileCutShortEndsThePlayWhereItsSamplesEnd) {
  ScratchDir scratch;
  const std::string path = scratch.File("cut.wav");
  WriteBytes(path, WaveOfSamples(1, std::vector<std::int16_t>(1000, 7)));
  SampleReader reader;
  ASSERT_TRUE(reader.Open(path, 1, 1000));
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kWaveHeaderBytes + 2 * 600 + 1)), 0);
  PlayStream loop = PlayStream::Loop(reader, 500, 900);
  std::vector<std::int16_t> block(1000);
  EXPECT_EQ(loop.Read(block.data(), 2000), 2u * 100);
  EXPECT_TRUE(loop.Done());
  EXPECT_EQ(loop.Delivered(), 100u);
  EXPECT_EQ(loop.Read(block.data(), 2000), 0u);
}

// What plays comes through the descriptor opened with the file, so a file saved over it at its
// path since is not what is heard.
TEST(LoopAuditionStream, PlayingReadsTheFileThatWasOpenedNotWhatIsAtItsPathNow) {
  ScratchDir scratch;
  const std::string path = scratch.File("take.wav");
  WriteBytes(path, WaveOfSamples(1, std::vector<std::int16_t>(100, 7)));
  SampleReader reader;
  ASSERT_TRUE(reader.Open(path, 1, 100));
  WriteBytes(scratch.File("newer.wav"), WaveOfSamples(1, std::vector<std::int16_t>(100, -5)));
  std::filesystem::rename(scratch.File("newer.wav"), path);
  const SampleReader played = reader.Duplicate();
  EXPECT_EQ(PlayFromFrames(played, 0, 100), std::vector<std::int16_t>(100, 7));
}

// A file cut short between two blocks of the overview's reading: the overview stops where the
// samples end and the view says so, rather than filling the rest with silence as if complete.
TEST(LoopAuditionStream, TheOverviewOfAFileCutShortStopsWhereItsSamplesEnd) {
  ScratchDir scratch;
  const std::string path = scratch.File("cut.wav");
  constexpr std::uint64_t kBlockFrames = OverviewBuilder::kBlockBytes / 2;  // mono
  WriteBytes(path, WaveOfSamples(1, std::vector<std::int16_t>(2 * kBlockFrames, 7)));
  CFile file;
  ASSERT_TRUE(file.Open(path, CFile::modeRead));
  WaveFacts facts = ReadWaveFacts(file);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kWaveHeaderBytes + 2 * kBlockFrames)), 0);
  WaveView view;
  view.SetFile(path, facts);
  ASSERT_TRUE(WaitFor([&] { return view.accessibleDescription().contains("ended"); }));
  EXPECT_FALSE(view.Overview()->Complete());
  EXPECT_TRUE(view.Overview()->CutShort());
  EXPECT_EQ(view.Overview()->FramesDone(), kBlockFrames);
  EXPECT_TRUE(view.accessibleDescription().contains(
      "the file ended at frame 131072 (0:00:02.972) while it was read"))
      << view.accessibleDescription().toStdString();
}

}  // namespace
