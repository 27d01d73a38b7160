// loop's patcher dialog, run headless with the real widgets: opening files through the file
// dialog, what the boxes show, what Patch writes, and every refusal leaving the file's bytes as
// they were. Ends with a TC.wav from vrellok patched by loop.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSpinBox>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "file_faults.h"
#include "gui_support.h"
#include "instrument_wave.h"
#include "loop/app/loop_app.h"
#include "loop/app/loop_dlg.h"
#include "loop/format/wave_loops.h"
#include "loop_wave.h"
#include "resources/loop_rc.h"
#include "riff_builder.h"
#include "sample_wave.h"
#include "scratch_dir.h"
#include "screenshot.h"
#include "timecode/timecode_generator.h"
#include "verify/signal/dtmf_detector.h"

namespace {

namespace fs = std::filesystem;

constexpr char kPatched[] = "File Patched and Saved";
constexpr char kOpenError[] = "Error Opening File";
constexpr char kNotWave[] = "Not a wave file with a 44-byte header";
constexpr char kNoFile[] = "You must open a file first";
constexpr char kNotPcm16[] = "Not a 16-bit PCM wave file with one or two channels";
constexpr char kReplaced[] = "The file was replaced or removed after it was opened";
constexpr char kHelp[] =
    "Click Open to open an wave file.\n\nEnter a loop value in the text box and press Patch.";

constexpr std::uint8_t kAudioByte = 0x11;  // sample data that never looks like a record
constexpr std::uint8_t kMono = 1;
constexpr std::uint8_t kStereo = 2;
constexpr std::size_t kDataBytes = 40000;  // 20000 mono frames, 10000 stereo ones

// The accessible name of loop point i's box, counted from 0.
QString PointBox(std::size_t i) {
  return QString("Loop point %1").arg(i + 1);
}

// A canonical 16-bit PCM file with dataBytes of plain audio, with records holding the given
// byte offsets from slot 1 on.
Bytes Wave(std::uint8_t channels, const std::vector<std::uint32_t>& byteOffsets,
           std::size_t dataBytes = kDataBytes) {
  return WaveWithRecords(channels, byteOffsets, dataBytes, kAudioByte);
}

// The same file with another sample format in its header.
Bytes WithFormat(Bytes bytes, std::uint16_t tag, std::uint16_t channels, std::uint16_t bits) {
  PutLe16(&bytes[kFormatOffset], tag);
  PutLe16(&bytes[kChannelsOffset], channels);
  PutLe16(&bytes[kBitsOffset], bits);
  PutLe16(&bytes[kBlockAlignOffset], static_cast<std::uint16_t>(channels * bits / 8));
  return bytes;
}

// ffmpeg's layout: a LIST chunk between the fmt chunk and the data.
Bytes WithListChunk(const Bytes& canonical) {
  Bytes bytes(canonical.begin(), canonical.begin() + kDataIdOffset);
  const Bytes list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  bytes.insert(bytes.end(), list.begin(), list.end());
  bytes.insert(bytes.end(), canonical.begin() + kDataIdOffset, canonical.end());
  PutLe32(&bytes[kRiffSizeOffset], static_cast<std::uint32_t>(bytes.size() - kChunkHeaderBytes));
  return bytes;
}

// The file as it must read after Patch stored these records over it.
Bytes WithRecords(Bytes bytes, const std::vector<std::uint32_t>& byteOffsets) {
  const Bytes records = Wave(kMono, byteOffsets);
  std::copy_n(records.begin() + kLoopTableOffset, byteOffsets.size() * kLoopRecordBytes,
              bytes.begin() + kLoopTableOffset);
  return bytes;
}

// The dialog as the program builds it, with the help engine's requests recorded.
class TestLoopDlg : public CLoopDlg {
 public:
  using CLoopDlg::CLoopDlg;
  void WinHelp(unsigned long data, unsigned command) override {
    helpCalls.push_back({data, command});
  }
  std::vector<std::pair<unsigned long, unsigned>> helpCalls;
};

class LoopDlgTest : public testing::Test {
 protected:
  // The dialog is built from the program's resources, so they are installed first.
  void SetUp() override {
    AfxSetResources(LoopResources());
    m_dialogObject = std::make_unique<TestLoopDlg>(m_waveFile);
  }

  std::string Save(const std::string& name, const Bytes& bytes) {
    const std::string path = m_scratch.File(name);
    WriteBytes(path, bytes);
    return path;
  }

  // Answers the file dialog with path and presses Open File; returns what it said.
  Messages Open(CDialog& dialog, const std::string& path) {
    m_prompts.AnswerFileDialog(path);
    return Press(dialog, "Open File");
  }

  // Clicks the button with this text and returns the messages it brought up.
  Messages Press(CDialog& dialog, const QString& button) {
    return MessagesOfClick(m_prompts, dialog, button);
  }

  // Runs the dialog with script inside it and returns how it ended; a script that leaves the
  // dialog open has it closed with Exit.
  int Run(const std::function<void(TestLoopDlg&)>& script) {
    return RunModal(*m_dialogObject, [&] {
      script(*m_dialogObject);
      if (m_dialogObject->isVisible()) ExitDroppingEdits(m_prompts, *m_dialogObject);
    });
  }

  // Starts the program as `loop path` does and runs script inside its dialog, which is closed
  // with Exit afterwards if the script left it open.
  void StartWith(const std::string& path,
                 const std::function<void(CLoopDlg&, const CLoopApp&)>& script) {
    CLoopApp app;
    app.m_fileToOpen = path;
    RunInsideModal([&] { EXPECT_FALSE(app.InitInstance()); },
                   [&] {
                     auto* dialog = dynamic_cast<CLoopDlg*>(QApplication::activeModalWidget());
                     ASSERT_NE(dialog, nullptr);
                     script(*dialog, app);
                     if (dialog->isVisible()) ExitDroppingEdits(m_prompts, *dialog);
                   });
  }

  static QStringList Boxes(const CDialog& dialog) {
    QStringList texts;
    for (std::size_t i = 0; i < kLoopPointCount; ++i) texts << BoxText(dialog, PointBox(i));
    return texts;
  }

  PromptRecorder m_prompts;
  ScratchDir m_scratch;
  CFile m_waveFile;  // stands in for the program-wide file object
  std::unique_ptr<TestLoopDlg> m_dialogObject;
};

const QStringList kAllZero(kLoopPointCount, "0");

TEST_F(LoopDlgTest, EachLoopPointBoxSitsBesideItsLabelAndTheChannelBoxCannotBeTyped) {
  const TestLoopDlg& dialog = *m_dialogObject;
  std::vector<const QLabel*> labels;
  for (const QObject* child : dialog.children()) {
    if (auto* label = qobject_cast<const QLabel*>(child)) labels.push_back(label);
  }
  for (std::size_t i = 0; i < kLoopPointCount; ++i) {
    const QLineEdit* edit = FindEdit(dialog, PointBox(i));
    ASSERT_NE(edit, nullptr) << "no box " << PointBox(i).toStdString();
    const QRect box = edit->geometry();
    const QString number = QString::number(i + 1);
    const auto label = std::find_if(labels.begin(), labels.end(),
                                    [&](const QLabel* l) { return l->text() == number; });
    ASSERT_NE(label, labels.end()) << "no label " << i + 1;
    const QRect place = (*label)->geometry();
    EXPECT_LT(place.right(), box.left()) << "loop point " << i + 1;
    EXPECT_TRUE(place.top() < box.bottom() && box.top() < place.bottom())
        << "label " << i + 1 << " is not on the row of its box";
  }
  QLineEdit* channels = FindEdit(dialog, "Channels");
  ASSERT_NE(channels, nullptr);
  EXPECT_TRUE(channels->isReadOnly());
  EXPECT_EQ(channels->focusPolicy(), Qt::ClickFocus);
}

TEST_F(LoopDlgTest, AMonoFileShowsItsChannelCountAndLoopPointsAndExitReleasesIt) {
  const std::string path = Save("mono.wav", Wave(kMono, {2000}));
  const int result = Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Boxes(dialog), kAllZero);
    EXPECT_EQ(BoxText(dialog, "Channels"), "0");
    EXPECT_EQ(Open(dialog, path), Messages{});
    EXPECT_EQ(BoxText(dialog, "Channels"), "1");
    QStringList expected = kAllZero;
    expected[0] = "1000";
    EXPECT_EQ(Boxes(dialog), expected);
    EXPECT_TRUE(m_waveFile.IsOpen());
    EXPECT_EQ(Press(dialog, "Exit"), Messages{});
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_FALSE(m_waveFile.IsOpen());
  ASSERT_EQ(m_prompts.fileRequests.size(), 1u);
  EXPECT_EQ(m_prompts.fileRequests[0].nameFilters,
            QtNameFilters("Wave Files(*.wav)|*.wav|All Files(*.*)|*.*|||"));
  EXPECT_EQ(m_dialogObject->helpCalls,
            (std::vector<std::pair<unsigned long, unsigned>>{{0, HELP_QUIT}}));
}

TEST_F(LoopDlgTest, PatchStoresTheEditedPointsClosesTheFileAndEndsTheDialog) {
  const Bytes before = Wave(kStereo, {4000});
  const std::string path = Save("stereo.wav", before);
  const int result = Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, "Loop point 2", "500");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
    EXPECT_EQ(m_prompts.icons, std::vector<MessageIcon>{MessageIcon::information});
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_FALSE(m_waveFile.IsOpen());
  const Bytes after = ReadBytes(path);
  EXPECT_EQ(Bytes(after.begin() + 50, after.begin() + 56),
            (Bytes{0x45, 0x4D, 0xD0, 0x07, 0x00, 0x00}));
  EXPECT_EQ(after, WithRecords(before, {4000, 2000}));
}

TEST_F(LoopDlgTest, WithoutAFilePatchAsksForOneHelpExplainsAndExitEndsSilently) {
  const int result = Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});
    EXPECT_EQ(m_prompts.icons, std::vector<MessageIcon>{MessageIcon::warning});
    EXPECT_EQ(Press(dialog, "Help"), Messages{kHelp});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Press(dialog, "Exit"), Messages{});
  });
  EXPECT_EQ(result, IDCANCEL);
}

// Exit, Esc and the window's close button ask before edits not yet patched are lost: No, which
// Enter answers, keeps the dialog and the edits; Yes leaves the file as it was. A box edited
// back to what the file holds is no edit, and then they close at once.
TEST_F(LoopDlgTest, LeavingWithUnpatchedEditsAsksFirstAndEnterKeepsEditing) {
  const Bytes before = Wave(kStereo, {4000});
  const std::string path = Save("stereo.wav", before);
  const std::vector<std::pair<const char*, std::function<void(TestLoopDlg&)>>> ways = {
      {"Exit", [](TestLoopDlg& dialog) { Click(dialog, "Exit"); }},
      {"Esc", [](TestLoopDlg& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); }},
      {"close button", [](TestLoopDlg& dialog) { dialog.close(); }}};
  for (const auto& [way, leave] : ways) {
    for (const bool edited : {true, false}) {
      m_prompts.questions.clear();
      m_prompts.enterAnswersNo.clear();
      m_dialogObject = std::make_unique<TestLoopDlg>(m_waveFile);
      const int result = Run([&](TestLoopDlg& dialog) {
        Open(dialog, path);
        TypeInto(dialog, "Loop point 2", "500");
        if (!edited) TypeInto(dialog, "Loop point 2", "0");
        if (edited) {
          m_prompts.AnswerQuestion(false);
          leave(dialog);
          ASSERT_TRUE(dialog.isVisible()) << way;
          EXPECT_EQ(BoxText(dialog, "Loop point 2"), "500");
          m_prompts.AnswerQuestion(true);
        }
        leave(dialog);
        EXPECT_FALSE(dialog.isVisible()) << way;
      });
      EXPECT_EQ(result, IDCANCEL);
      EXPECT_EQ(m_prompts.enterAnswersNo, std::vector<bool>(edited ? 2 : 0, true)) << way;
      EXPECT_EQ(ReadBytes(path), before);
    }
  }
}

TEST_F(LoopDlgTest, CancellingTheFileDialogKeepsWhatIsLoaded) {
  const Bytes before = Wave(kMono, {2000});
  const std::string path = Save("mono.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    m_prompts.CancelFileDialog();
    EXPECT_EQ(Press(dialog, "Open File"), Messages{});
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    EXPECT_EQ(ReadBytes(path), before);
    TypeInto(dialog, "Loop point 2", "3000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {2000, 6000}));
}

// A file that cannot be held for patching is reported, and a second open that fails leaves the
// first file loaded, so Patch still writes to it.
TEST_F(LoopDlgTest, AFileThatCannotBeOpenedLeavesThePreviousOneLoaded) {
  const Bytes first = Wave(kStereo, {4000, 8000});
  const std::string firstPath = Save("first.wav", first);
  const Bytes locked = Wave(kStereo, {});
  const std::string lockedPath = Save("locked.wav", locked);
  CFile holder;
  ASSERT_TRUE(holder.Open(lockedPath, CFile::modeRead | CFile::shareExclusive));
  Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Open(dialog, lockedPath), Messages{kOpenError});
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});
    Open(dialog, firstPath);
    EXPECT_EQ(Open(dialog, lockedPath), Messages{kOpenError});
    EXPECT_EQ(Open(dialog, m_scratch.File("missing.wav")), Messages{kOpenError});
    EXPECT_EQ(Open(dialog, m_scratch.Path().string()), Messages{kOpenError});  // a folder
    EXPECT_EQ(BoxText(dialog, "Channels"), "2");
    EXPECT_EQ(BoxText(dialog, "Loop point 2"), "2000");
    TypeInto(dialog, "Loop point 3", "3000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(firstPath), WithRecords(first, {4000, 8000, 12000}));
  EXPECT_EQ(ReadBytes(lockedPath), locked);
  EXPECT_FALSE(fs::exists(m_scratch.File("missing.wav")));
}

// Choosing the loaded file again, by its name or through a link, drops the unsaved edits and
// shows what the file holds; its own lock must not refuse it.
TEST_F(LoopDlgTest, ChoosingTheLoadedFileAgainReadsItsTableAfresh) {
  const Bytes before = Wave(kStereo, {4000});
  const std::string path = Save("stereo.wav", before);
  const std::string link = m_scratch.File("link.wav");
  fs::create_symlink(path, link);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    for (const std::string& again : {path, link}) {
      TypeInto(dialog, "Loop point 1", "7");
      EXPECT_EQ(Open(dialog, again), Messages{});
      EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    }
    TypeInto(dialog, "Loop point 2", "2000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {4000, 8000}));
}

// Root writes files whatever their mode bits say; the immutable attribute stops even root, so
// it stands in for a read-only file there.
class ReadOnlyForEveryone {
 public:
  explicit ReadOnlyForEveryone(const std::string& path) : m_path(path) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (::geteuid() == 0) m_immutable = SetImmutable(true);
  }
  ~ReadOnlyForEveryone() {
    if (m_immutable) SetImmutable(false);  // or the scratch folder could not be removed
  }
  bool Holds() const { return ::geteuid() != 0 || m_immutable; }

 private:
  bool SetImmutable(bool on) {
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return done;
  }

  std::string m_path;
  bool m_immutable = false;
};

TEST_F(LoopDlgTest, AReadOnlyFileCannotBeOpened) {
  const Bytes before = Wave(kStereo, {});
  const std::string path = Save("readonly.wav", before);
  const ReadOnlyForEveryone readOnly(path);
  if (!readOnly.Holds()) GTEST_SKIP() << "this file system cannot make a file read-only for root";
  Run([&](TestLoopDlg& dialog) { EXPECT_EQ(Open(dialog, path), Messages{kOpenError}); });
  EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(LoopDlgTest, AFileWithoutTheCanonicalHeaderIsRefusedAndThePreviousOneStays) {
  const Bytes first = Wave(kMono, {2000});
  const std::string firstPath = Save("first.wav", first);
  Bytes listed = Wave(kStereo, {4000});
  std::copy_n("LIST", 4, listed.begin() + kDataIdOffset);  // the samples in another chunk
  const std::vector<std::tuple<std::string, Bytes, std::string>> refused = {
      {"listed.wav", listed, "The file has no data chunk, so it holds no samples"},
      {"short.wav", Bytes(kWaveHeaderBytes - 1, kAudioByte), kNotWave},
      {"empty.wav", {}, kNotWave},
      {"text.wav", Bytes(kDataBytes, 'E'), kNotWave}};
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, firstPath);
    for (const auto& [name, bytes, text] : refused) {
      EXPECT_EQ(Open(dialog, Save(name, bytes)), Messages{text}) << name;
      EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000") << name;
    }
    TypeInto(dialog, "Loop point 1", "1500");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  for (const auto& [name, bytes, text] : refused) {
    EXPECT_EQ(ReadBytes(m_scratch.File(name)), bytes);
  }
  EXPECT_EQ(ReadBytes(firstPath), WithRecords(first, {3000}));
}

TEST_F(LoopDlgTest, PatchWritesNothingWhileABoxHoldsNoInteger) {
  const Bytes before = Wave(kStereo, {4000});
  const std::string path = Save("stereo.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, "Loop point 2", "");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNotAnInteger});
    EXPECT_EQ(QApplication::focusWidget(), FindEdit(dialog, "Loop point 2"));
    TypeInto(dialog, "Loop point 2", "99999999999");  // beyond 32 bits
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNotAnInteger});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadBytes(path), before);
    TypeInto(dialog, "Loop point 2", "7");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {4000, 28}));
}

TEST_F(LoopDlgTest, PatchShowsTheLoopTableRefusalsAndKeepsTheFileLoaded) {
  const std::size_t twoRecords = 2 * kLoopRecordBytes;  // three stereo frames
  const Bytes before = Wave(kStereo, {4000}, twoRecords);
  const std::string path = Save("small.wav", before);
  struct Case {
    std::vector<std::pair<QString, QString>> typed;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {{{"Loop point 1", "1073741824"}}, "Loop point 1 is out of range"},  // 2^32 bytes
      {{{"Loop point 1", "4"}}, "Loop point 1 is past the end of the samples"},
      {{{"Loop point 1", "2"}, {"Loop point 3", "3"}}, "Loop point 3 follows an empty loop point"},
      {{{"Loop point 2", "3"}, {"Loop point 3", "1"}}, "The file is too short for 3 loop points"},
  };
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    for (const Case& c : cases) {
      for (const auto& [box, text] : c.typed) TypeInto(dialog, box, text);
      EXPECT_EQ(Press(dialog, "Patch"), Messages{c.refusal});
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_TRUE(m_waveFile.IsOpen());
      EXPECT_EQ(ReadBytes(path), before) << c.refusal;
    }
    TypeInto(dialog, "Loop point 3", "0");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {8, 12}));
}

// A file-size limit below the table's offset makes the write itself fail, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);  // fail the write instead of ending the process
    ::getrlimit(RLIMIT_FSIZE, &m_old);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() { Lift(); }
  void Lift() {
    ::setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
  }

 private:
  rlimit m_old{};
  void (*m_oldHandler)(int) = nullptr;
};

TEST_F(LoopDlgTest, AFileErrorWhilePatchingShowsTheSystemsWordsAndPatchCanBeTriedAgain) {
  const Bytes before = Wave(kMono, {2000});
  const std::string path = Save("mono.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, "Loop point 2", "1234");
    FileSizeLimit limit(kLoopTableOffset);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{OsErrorText(EFBIG)});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadBytes(path), before);
    limit.Lift();
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {2000, 2468}));
}

TEST_F(LoopDlgTest, TheProgramRunsThisDialogOnItsOwnFileAndEndsWithIt) {
  const std::string path = Save("mono.wav", Wave(kMono, {2000}));
  CLoopApp app;
  bool ran = false;
  RunInsideModal([&] { EXPECT_FALSE(app.InitInstance()); },
                 [&] {
                   auto* dialog = dynamic_cast<CLoopDlg*>(QApplication::activeModalWidget());
                   ASSERT_NE(dialog, nullptr);
                   EXPECT_EQ(app.m_pMainWnd, dialog);
                   EXPECT_EQ(dialog->windowTitle(), "Skelmer - V3.0");
                   Open(*dialog, path);
                   EXPECT_TRUE(app.m_waveFile.IsOpen());
                   Click(*dialog, "Exit");
                   ran = true;
                 });
  EXPECT_TRUE(ran);
  EXPECT_FALSE(app.m_waveFile.IsOpen());
  EXPECT_EQ(app.m_pMainWnd, nullptr);
}

// vrellok's output is what loop is for: a generated TC.wav takes loop points and stays a
// wave file a player reads the same way.
TEST_F(LoopDlgTest, ATimecodeFileFromVrellokTakesLoopPoints) {
  const fs::path previousFolder = fs::current_path();
  fs::current_path(m_scratch.Path());
  fs::copy_file(fs::path(TONE_BANK_DIR) / "dtmf44.bin", "dtmf44.bin");
  TimecodeGenerator generator;
  ASSERT_EQ(generator.Generate({TimecodeType::dtmfF, 2, kMinSampleLength, 1}),
            GenerateOutcome::created);
  fs::current_path(previousFolder);
  const std::string path = m_scratch.File("TC.wav");
  const Bytes before = ReadBytes(path);
  const std::vector<int> symbolsBefore = dtmf::DecodeKeys(path);

  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    EXPECT_EQ(BoxText(dialog, "Channels"), "1");
    const QStringList points = {"1000", "25000", "50000", "0", "0", "0", "0", "0", "0", "0"};
    for (std::size_t i = 0; i < kLoopPointCount; ++i) TypeInto(dialog, PointBox(i), points[i]);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });

  const Bytes after = ReadBytes(path);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + kWaveHeaderBytes, after.begin()));
  EXPECT_EQ(GetLe32(&after[kRiffSizeOffset]), after.size() - kChunkHeaderBytes);
  EXPECT_EQ(GetLe32(&after[kDataSizeOffset]), after.size() - kWaveHeaderBytes);
  EXPECT_EQ(Bytes(after.begin() + kLoopTableOffset, after.begin() + 62),
            (Bytes{0x45, 0x4D, 0xD0, 0x07, 0, 0, 0x45, 0x4D, 0x50, 0xC3, 0, 0, 0x45, 0x4D, 0xA0,
                   0x86, 0x01, 0}));
  EXPECT_EQ(dtmf::DecodeKeys(path), symbolsBefore);
  CFile file;
  ASSERT_TRUE(file.Open(path, CFile::modeRead));
  const LoopTable table = ReadLoopTable(file);
  EXPECT_EQ(table.loopPoints[0], 1000);
  EXPECT_EQ(table.loopPoints[2], 50000);
}

TEST_F(LoopDlgTest, LoopPointBoxesTakeOnlyDigits) {
  Run([&](TestLoopDlg& dialog) {
    for (std::size_t i = 0; i < kLoopPointCount; ++i) {
      TypeInto(dialog, PointBox(i), "1a-2 3.x+");
      EXPECT_EQ(BoxText(dialog, PointBox(i)), "123") << PointBox(i).toStdString();
    }
  });
}

// Each is offered a 16-bit copy; No leaves the loaded file as it was.
TEST_F(LoopDlgTest, FilesWhoseSamplesTheTableCannotCountAreOfferedACopyAndThePreviousOneStays) {
  const Bytes first = Wave(kMono, {2000});
  const std::string firstPath = Save("first.wav", first);
  const Bytes plain = Wave(kMono, {});
  const std::vector<std::pair<std::string, Bytes>> refused = {
      {"8bit.wav", WithFormat(plain, 1, 1, 8)},
      {"24bit.wav", WithFormat(plain, 1, 2, 24)},
      {"float.wav", WithFormat(plain, 3, 2, 32)},
      {"6ch.wav", WithFormat(plain, 1, 6, 16)},
  };
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, firstPath);
    for (const auto& [name, bytes] : refused) {
      m_prompts.AnswerQuestion(false);
      EXPECT_EQ(Open(dialog, Save(name, bytes)), Messages{}) << name;
      EXPECT_EQ(m_prompts.questions.back().rfind("This wave file holds ", 0), 0u) << name;
      EXPECT_EQ(BoxText(dialog, "Channels"), "1") << name;
      EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000") << name;
    }
    EXPECT_EQ(m_prompts.questions.size(), refused.size());
    TypeInto(dialog, "Loop point 1", "1500");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  for (const auto& [name, bytes] : refused) EXPECT_EQ(ReadBytes(m_scratch.File(name)), bytes);
  EXPECT_EQ(ReadBytes(firstPath), WithRecords(first, {3000}));
}

class LoopDlgReplacedTest : public LoopDlgTest {
 protected:
  // Opens a file, edits a point, lets change() happen to the file's name, then presses Patch
  // twice: the table went nowhere, and the dialog has no file loaded any more.
  void PatchAfter(const std::function<void(const std::string&)>& change) {
    const Bytes original = Wave(kStereo, {4000});
    const std::string path = Save("a.wav", original);
    const std::string kept = m_scratch.File("kept.wav");  // a second name for the opened file
    fs::create_hard_link(path, kept);
    Run([&](TestLoopDlg& dialog) {
      Open(dialog, path);
      TypeInto(dialog, "Loop point 2", "500");
      change(path);
      EXPECT_EQ(Press(dialog, "Patch"), Messages{kReplaced});
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});
    });
    EXPECT_FALSE(m_waveFile.IsOpen());
    EXPECT_EQ(ReadBytes(kept), original);
  }
};

TEST_F(LoopDlgReplacedTest, AFileRenamedOverTheOpenOneIsNotWritten) {
  const Bytes newer = Wave(kMono, {});
  PatchAfter([&](const std::string& path) { fs::rename(Save("b.wav", newer), path); });
  EXPECT_EQ(ReadBytes(m_scratch.File("a.wav")), newer);
}

TEST_F(LoopDlgReplacedTest, ARemovedFileIsNotWrittenAndNothingIsCreated) {
  PatchAfter([](const std::string& path) { fs::remove(path); });
  EXPECT_FALSE(fs::exists(m_scratch.File("a.wav")));
}

TEST_F(LoopDlgTest, AnEverydayWaveFileBecomesAPlainCopyThatIsThenLoaded) {
  const Bytes canonical = Wave(kStereo, {4000});
  const Bytes source = WithListChunk(canonical);
  const std::string path = Save("take.wav", source);
  const std::string copy = m_scratch.File("take-plain.wav");
  Run([&](TestLoopDlg& dialog) {
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerSaveDialog(copy);
    EXPECT_EQ(Open(dialog, path), Messages{});
    EXPECT_EQ(m_prompts.questions,
              Messages{"This wave file has more than the plain 44-byte header that loop can "
                       "patch.\n\nThe copy keeps the file's other chunks behind its samples: "
                       "LIST.\n\nSave a copy with the plain header and open it?"});
    ASSERT_EQ(m_prompts.saveRequests.size(), 1u);
    EXPECT_EQ(m_prompts.saveRequests[0].initialPath, copy);
    EXPECT_EQ(BoxText(dialog, "Channels"), "2");
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    TypeInto(dialog, "Loop point 2", "2000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), source);
  EXPECT_EQ(ReadBytes(copy), WithChunksBehind(WithRecords(canonical, {4000, 8000}),
                                              ChunkBytes("LIST", {'I', 'N', 'F', 'O'})));
}

TEST_F(LoopDlgTest, DecliningThePlainCopyOrItsNameKeepsWhatIsLoaded) {
  const Bytes first = Wave(kMono, {2000});
  const std::string firstPath = Save("first.wav", first);
  const Bytes source = WithListChunk(Wave(kStereo, {}));
  const std::string path = Save("take.wav", source);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, firstPath);
    m_prompts.AnswerQuestion(false);
    EXPECT_EQ(Open(dialog, path), Messages{});
    m_prompts.AnswerQuestion(true);
    m_prompts.CancelSaveDialog();
    EXPECT_EQ(Open(dialog, path), Messages{});
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerSaveDialog(path);  // over its own source
    EXPECT_EQ(Open(dialog, path), Messages{"The copy cannot replace the file it is made from"});
    EXPECT_EQ(m_prompts.saveRequests.size(), 2u);
    EXPECT_EQ(BoxText(dialog, "Channels"), "1");
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    TypeInto(dialog, "Loop point 2", "3000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), source);
  EXPECT_FALSE(fs::exists(m_scratch.File("take-plain.wav")));
  EXPECT_EQ(ReadBytes(firstPath), WithRecords(first, {2000, 6000}));
}

// The facts line, whatever else it says, as the user reads it.
QString FactsText(const QWidget& dialog, const QString& name) {
  for (auto* label : dialog.findChildren<QLabel*>()) {
    if (label->text().startsWith(name + ":")) return label->text();
  }
  return "<no facts line for " + name + ">";
}

TEST_F(LoopDlgTest, AFilesOwnLoopsAndCuePointsAreListedBesideItsFacts) {
  Bytes bytes = Wave(kMono, {2000});
  RiffBuilder::AppendChunk(bytes, "cue ", CueBody({1500}));
  RiffBuilder::AppendChunk(bytes, "smpl", SmplBody({{100, 199}, {300, 399}}));
  const std::string path = Save("own.wav", bytes);
  Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Open(dialog, path), Messages{});
    EXPECT_TRUE(
        FactsText(dialog, "own.wav").endsWith("; own loops 100-199, 300-399; cue points 1500"))
        << FactsText(dialog, "own.wav").toStdString();
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
  });
  EXPECT_EQ(ReadBytes(path), bytes);
}

// Sample bytes in slot 6 that carry a mark and name a frame far past the end: an empty box, a
// line that says so, and Patch blanks them.
TEST_F(LoopDlgTest, SampleBytesThatLookLikeARecordShowEmptyAndPatchClearsThem) {
  Bytes bytes = Wave(kStereo, {4000});
  const LoopRecord lookalike{{0x4D, 0x4D, 0xC4, 0x13, 0x00, 0x0F}};
  std::copy(lookalike.bytes.begin(), lookalike.bytes.end(), bytes.begin() + 74);
  const std::string path = Save("music.wav", bytes);
  Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Open(dialog, path), Messages{});
    QStringList expected = kAllZero;
    expected[0] = "1000";
    EXPECT_EQ(Boxes(dialog), expected);
    EXPECT_TRUE(FactsText(dialog, "music.wav")
                    .endsWith("; slot 6 holds sample bytes that look like a record; it is shown "
                              "empty and Patch clears it"));
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  Bytes clean = bytes;
  std::fill_n(clean.begin() + 74, kLoopRecordBytes, 0);
  EXPECT_EQ(ReadBytes(path), clean);
}

// A sampler's file: the copy may take its loops over, and then opens with them in its boxes.
TEST_F(LoopDlgTest, ThePlainCopyOfferTakesOverTheFilesOwnLoopsWhenAskedTo) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> loops = {{0, 999}, {2000, 2999}};
  for (std::uint32_t i = 0; i < 5; ++i) loops.push_back({3000 + i, 3100 + i});
  const Bytes source = RiffBuilder()
                           .Fmt(1, 2, 16)
                           .Chunk("smpl", SmplBody(loops))
                           .Chunk("data", Bytes(kDataBytes, kAudioByte))
                           .Chunk("cue ", CueBody({50}))
                           .Done();
  const std::string path = Save("sampler.wav", source);
  const std::string copy = m_scratch.File("sampler-plain.wav");
  Run([&](TestLoopDlg& dialog) {
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerSaveDialog(copy);
    EXPECT_EQ(Open(dialog, path), Messages{});
    ASSERT_EQ(m_prompts.questions.size(), 2u);
    EXPECT_EQ(m_prompts.questions[1],
              "The file has its own loops 0-999, 2000-2999, 3000-3100, 3001-3101, 3002-3102, "
              "3003-3103, 3004-3104; cue points 50.\n\nTake them over as the copy's loop points "
              "(loops 2000-2999, 3000-3100, 3001-3101, 3002-3102, 3003-3103)?\n\nNot taken over: "
              "loop 1 0-999 (0 means no loop point), loop 7 3004-3104 (more than ten points), "
              "cue point 1 at 50 (more than ten points)");
    EXPECT_EQ(Boxes(dialog), QStringList({"2000", "2999", "3000", "3100", "3001", "3101", "3002",
                                          "3102", "3003", "3103"}));
    EXPECT_TRUE(FactsText(dialog, "sampler-plain.wav").contains("points up to 10000"));
  });
  EXPECT_EQ(ReadBytes(path), source);

  // No: the copy is the plain one, its table as the samples make it.
  m_prompts.questions.clear();
  Run([&](TestLoopDlg& dialog) {
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerQuestion(false);
    m_prompts.AnswerSaveDialog(copy);
    EXPECT_EQ(Open(dialog, path), Messages{});
    EXPECT_EQ(m_prompts.questions.size(), 2u);
    EXPECT_EQ(Boxes(dialog), kAllZero);
  });
}

// Choosing the loaded file again with its table unreadable: the boxes empty, and Patch must
// not write a table it never read.
TEST_F(LoopDlgTest, ATableThatCouldNotBeReadIsNeverWrittenOver) {
  const FaultGuard guard;
  const Bytes before = Wave(kStereo, {4000, 8000});
  const std::string path = Save("stereo.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, "Loop point 3", "500");
    InjectFileFault(FileFault::read, EIO);
    EXPECT_EQ(Open(dialog, path), Messages{OsErrorText(EIO)});
    EXPECT_EQ(Boxes(dialog), kAllZero);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});
  });
  EXPECT_EQ(ReadBytes(path), before);
}

TEST_F(LoopDlgTest, FailedWritesFlushesAndClosesWhilePatchingAreShown) {
  const FaultGuard guard;
  const Bytes before = Wave(kMono, {2000});
  const std::string path = Save("mono.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, "Loop point 2", "1234");
    InjectFileFault(FileFault::write, EIO);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{OsErrorText(EIO)});
    EXPECT_EQ(ReadBytes(path), before);
    InjectFileFault(FileFault::flush, ENOSPC);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{OsErrorText(ENOSPC)});
    EXPECT_TRUE(m_waveFile.IsOpen());  // a failed flush may be tried again
    InjectFileFault(FileFault::close, EIO);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{OsErrorText(EIO)});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});  // the failed close let go of it
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {2000, 2468}));
}

// A length of exactly 4 GiB has nothing in its low 32 bits; the file must still count as loaded.
TEST_F(LoopDlgTest, AFileOfFourGibibytesOpensAndPatches) {
  constexpr std::uint64_t kFourGibibytes = std::uint64_t{1} << 32;
  Bytes header = Wave(kMono, {2000}, 1000);
  PutLe32(&header[kDataSizeOffset], UINT32_MAX);
  const std::string path = Save("big.wav", header);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kFourGibibytes)), 0);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    TypeInto(dialog, "Loop point 2", "2000000000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  CFile file;
  ASSERT_TRUE(file.Open(path, CFile::modeRead));
  EXPECT_EQ(ReadLoopTable(file).loopPoints, (LoopPoints{1000, 2000000000}));
  EXPECT_EQ(file.GetLength(), kFourGibibytes);
}

// The check box beside Patch (found by its screen-reader name) writes the points a second
// time as standard loops behind the samples; it stays set while other files are opened.
TEST_F(LoopDlgTest, PatchAlsoWritesStandardLoopsWhenAskedTo) {
  const Bytes before = Wave(kStereo, {});
  const std::string first = Save("first.wav", before);
  const std::string path = Save("take.wav", before);
  Run([&](TestLoopDlg& dialog) {
    QAbstractButton* box = nullptr;
    for (auto* button : dialog.findChildren<QAbstractButton*>()) {
      if (button->accessibleName() == "Also write standard loops") box = button;
    }
    ASSERT_NE(box, nullptr);
    EXPECT_FALSE(box->isChecked());
    Open(dialog, first);
    box->click();
    Open(dialog, path);
    EXPECT_TRUE(box->isChecked());
    TypeInto(dialog, "Loop point 1", "100");
    TypeInto(dialog, "Loop point 2", "199");
    TypeInto(dialog, "Loop point 3", "500");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  CFile file;
  ASSERT_TRUE(file.Open(path, CFile::modeRead));
  EXPECT_EQ(OwnLoopsLine(ReadWaveLoops(file)), "loops 100-199; cues 500");
  EXPECT_EQ(ReadLoopTable(file).loopPoints, (LoopPoints{100, 199, 500}));
}

// A four-channel 24-bit take: the offer names its format, the user picks two channels, and the
// dithered 16-bit copy opens with the take's loop in its boxes.
TEST_F(LoopDlgTest, AFileOfAnotherSampleFormatIsOfferedASixteenBitCopy) {
  const std::string path = m_scratch.File("take.wav");
  ASSERT_TRUE(WriteInstrumentWave(path, 4, SF_FORMAT_PCM_24, std::vector<double>(4 * 3000, 0.25),
                                  {{1000, 3000}}));
  const std::string copy = m_scratch.File("take-16bit.wav");
  Run([&](TestLoopDlg& dialog) {
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerQuestion(true);
    m_prompts.AnswerSaveDialog(copy);
    WhenNextModalOpens([](QWidget* modal) {
      auto* picker = qobject_cast<QInputDialog*>(modal);
      ASSERT_NE(picker, nullptr);
      picker->setTextValue("3 and 4");
      picker->accept();
    });
    EXPECT_EQ(Open(dialog, path), Messages{});
    ASSERT_EQ(m_prompts.questions.size(), 2u);
    EXPECT_EQ(m_prompts.questions[0],
              "This wave file holds 24-bit integer samples in 4 channels, which loop cannot "
              "patch.\n\nThe copy keeps the file's other chunks behind its samples: smpl.\n\n"
              "Save a 16-bit copy (dithered) and open it?");
    EXPECT_EQ(m_prompts.saveRequests.at(0).initialPath, copy);
    EXPECT_EQ(BoxText(dialog, "Channels"), "2");
    EXPECT_EQ(Boxes(dialog), QStringList({"1000", "2999", "0", "0", "0", "0", "0", "0", "0", "0"}));
  });
}

// A recorder killed before it went back to its header: the samples count to the end of the
// file, and the window says so.
TEST_F(LoopDlgTest, ADataSizeOfZeroIsReadToTheEndAndSaidSo) {
  Bytes killed = Wave(kStereo, {4000});
  PutLe32(&killed[kDataSizeOffset], 0);
  const std::string path = Save("killed.wav", killed);
  Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Open(dialog, path), Messages{kSizeUnsetReadText});
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    TypeInto(dialog, "Loop point 2", "9000");
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(killed, {4000, 36000}));
}

// `loop FILE`: the program's dialog starts with FILE loaded as if chosen with Open File.
TEST_F(LoopDlgTest, AFileNamedOnTheCommandLineIsLoadedAsTheDialogStarts) {
  const Bytes before = Wave(kMono, {2000});
  const std::string path = Save("mono.wav", before);
  StartWith(path, [&](CLoopDlg& dialog, const CLoopApp&) {
    EXPECT_EQ(m_prompts.messages, Messages{});
    EXPECT_EQ(BoxText(dialog, "Channels"), "1");
    EXPECT_EQ(BoxText(dialog, "Loop point 1"), "1000");
    TypeInto(dialog, "Loop point 2", "3000");
    Click(dialog, "Patch");
  });
  EXPECT_EQ(m_prompts.messages, Messages{kPatched});
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {2000, 6000}));
}

TEST_F(LoopDlgTest, AFileNamedOnTheCommandLineMeetsTheSameRefusals) {
  const std::string path = Save("8bit.wav", WithFormat(Wave(kMono, {}), 1, 1, 8));
  m_prompts.AnswerQuestion(false);  // the offer of a 16-bit copy
  StartWith(path, [&](CLoopDlg& dialog, const CLoopApp&) {
    EXPECT_EQ(m_prompts.questions.size(), 1u);
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});
  });
}

// A header that cannot be read is reported like the table's read errors, also while the
// dialog is starting, and the file is not held.
TEST_F(LoopDlgTest, AHeaderThatCannotBeReadIsReportedAndNothingIsLoaded) {
  const FaultGuard guard;
  const std::string path = Save("mono.wav", Wave(kMono, {2000}));
  InjectFileFault(FileFault::read, EIO);
  StartWith(path, [&](CLoopDlg& dialog, const CLoopApp& app) {
    EXPECT_EQ(m_prompts.messages, Messages{OsErrorText(EIO)});
    EXPECT_FALSE(app.m_waveFile.IsOpen());
    EXPECT_EQ(Press(dialog, "Patch"), Messages{kNoFile});
  });
}

// A loop that clicks, crossfaded into a copy with the length and shape asked for: the copy holds
// the points and its seam reads smooth once opened; the original keeps every byte. Cancelling
// the question writes nothing.
TEST_F(LoopDlgTest, CrossfadeIntoACopyWritesASmoothCopyAndLeavesTheOriginal) {
  const Bytes original = WaveOfSamples(kStereo, Sine(132'300, 100, kStereo));
  const std::string path = Save("music.wav", original);
  const std::string copy = m_scratch.File("music-xfade.wav");
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, "Loop point 1", "30000");
    TypeInto(dialog, "Loop point 2", "70024");  // a quarter period off
    ASSERT_TRUE(FactsText(dialog, "Seam").startsWith("Seam: click"));
    WhenNextModalOpens([](QWidget* ask) { static_cast<QDialog*>(ask)->reject(); });
    EXPECT_EQ(Press(dialog, "Crossfade into a copy..."), Messages{});
    EXPECT_TRUE(m_prompts.saveRequests.empty());
    WhenNextModalOpens([](QWidget* ask) {
      for (auto* length : ask->findChildren<QSpinBox*>()) length->setValue(20);
      for (auto* shape : ask->findChildren<QComboBox*>()) shape->setCurrentIndex(1);
      Click(*ask, "OK");
    });
    m_prompts.AnswerSaveDialog(copy);
    m_prompts.AnswerQuestion(true);
    EXPECT_EQ(Press(dialog, "Crossfade into a copy..."), Messages{});
    ASSERT_EQ(m_prompts.saveRequests.size(), 1u);
    EXPECT_EQ(m_prompts.saveRequests[0].initialPath, copy);
    EXPECT_TRUE(FactsText(dialog, "music-xfade.wav").contains("132300 frames"));
    EXPECT_EQ(BoxText(dialog, "Loop point 2"), "70024");
    EXPECT_TRUE(FactsText(dialog, "Seam").startsWith("Seam: smooth"))
        << FactsText(dialog, "Seam").toStdString();
  });
  EXPECT_EQ(ReadBytes(path), original);
  const Bytes written = ReadBytes(copy);
  ASSERT_EQ(written.size(), original.size());
  const Bytes table = WithRecords(original, {120000, 280096});  // frames 30000 and 70024
  EXPECT_TRUE(std::equal(table.begin() + kLoopTableOffset,
                         table.begin() + kLoopTableOffset + 2 * kLoopRecordBytes,
                         written.begin() + kLoopTableOffset));
}

// With SCREENSHOT_DIR set, saves the patcher with a stereo file loaded for the README: a fading
// tone looped over whole periods from point 1 to point 2, the pointer over the waveform.
TEST_F(LoopDlgTest, Screenshot) {
  const std::optional<QString> folder = ScreenshotDir();
  if (!folder) GTEST_SKIP() << "SCREENSHOT_DIR not set";
  std::vector<std::int16_t> tone = Sine(3 * kTestRate, 100, 2);
  for (std::size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<std::int16_t>(tone[i] * (i % 2 ? 0.5 : 1.0) * (1.0 - i / 2e6 * 0.6));
  }
  const std::string path =
      Save("tone.wav", WithRecords(WaveOfSamples(kStereo, tone), {4 * 22050, 4 * 66149}));
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    WaveView* view = nullptr;
    for (auto* widget : dialog.findChildren<WaveView*>()) {
      if (widget->accessibleName() == "Waveform") view = widget;
    }
    ASSERT_NE(view, nullptr);
    while (view->Overview() != nullptr && !view->Overview()->Complete()) QTest::qWait(5);
    Click(dialog, "Find loop end");
    EXPECT_TRUE(QTest::qWaitFor([&] { return FindButton(dialog, "Cancel search") == nullptr; }));
    const QPointF at(view->width() * 0.6, view->height() / 3.0);
    QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    const QString png = *folder + "/patcher.png";
    EXPECT_TRUE(WithCaption(dialog).save(png)) << png.toStdString();
  });
}

}  // namespace
