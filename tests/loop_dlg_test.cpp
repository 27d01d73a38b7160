// loop's patcher dialog, run headless with the real widgets: opening files through the file
// dialog, what the boxes show, what Patch writes, and every refusal leaving the file's bytes as
// they were. Ends with a TC.wav from vrellok patched by loop.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QLabel>
#include <QLineEdit>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "gui_support.h"
#include "looppatch/loop_app.h"
#include "looppatch/loop_dlg.h"
#include "resources/loop_rc.h"
#include "scratch_dir.h"
#include "screenshot.h"
#include "timecode/timecode_generator.h"
#include "verify/dtmf_detector.h"

namespace {

namespace fs = std::filesystem;
using Messages = std::vector<std::string>;

constexpr char kPatched[] = "File Patched and Saved";
constexpr char kOpenError[] = "Error Opening File";
constexpr char kNotWave[] = "Not a wave file with a 44-byte header";
constexpr char kNoFile[] = "You must open a file first";
constexpr char kNotAnInteger[] = "Please enter an integer.";
constexpr char kHelp[] =
    "Click Open to open an wave file.\n\nEnter a loop value in the text box and press Patch.";

constexpr std::uint8_t kAudioByte = 0x11;  // sample data that never looks like a record
constexpr std::uint8_t kStereo = 2;
constexpr std::size_t kDataBytes = 400;
constexpr std::size_t kRiffSizeOffset = 4;
constexpr std::size_t kRiffHeaderBytes = 8;  // "RIFF" and its size are not counted in the size

// A canonical header, then dataBytes of plain audio, with records holding the given byte
// offsets from slot 1 on.
Bytes Wave(std::uint8_t channelByte, const std::vector<std::uint32_t>& byteOffsets,
           std::size_t dataBytes = kDataBytes) {
  Bytes bytes(kCanonicalHeaderBytes + dataBytes, kAudioByte);
  std::fill(bytes.begin(), bytes.begin() + kCanonicalHeaderBytes, 0);
  std::copy_n("RIFF", 4, bytes.begin() + kRiffIdOffset);
  PutU32(bytes, kRiffSizeOffset, static_cast<std::uint32_t>(bytes.size() - kRiffHeaderBytes));
  std::copy_n("WAVEfmt ", 8, bytes.begin() + kWaveIdOffset);
  bytes[kChannelByteOffset] = channelByte;
  std::copy_n("data", 4, bytes.begin() + kDataIdOffset);
  PutU32(bytes, kDataSizeOffset, static_cast<std::uint32_t>(dataBytes));
  for (std::size_t i = 0; i < byteOffsets.size(); ++i) {
    const LoopRecord record = LoopRecord::FromByteOffset(byteOffsets[i]);
    std::copy(record.bytes.begin(), record.bytes.end(),
              bytes.begin() + kLoopTableOffset + i * kLoopRecordBytes);
  }
  return bytes;
}

// The file as it must read after Patch stored these records over it.
Bytes WithRecords(Bytes bytes, const std::vector<std::uint32_t>& byteOffsets) {
  const Bytes records = Wave(0, byteOffsets);
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
    return Press(dialog, IDC_OPEN_FILE);
  }

  Messages Press(CDialog& dialog, int id) {
    m_prompts.messages.clear();
    ClickItem(dialog, id);
    return m_prompts.messages;
  }

  // Runs the dialog with script inside it and returns how it ended; a script that leaves the
  // dialog open has it closed with Exit.
  int Run(const std::function<void(TestLoopDlg&)>& script) {
    return RunModal(*m_dialogObject, [&] {
      script(*m_dialogObject);
      if (m_dialogObject->isVisible()) ClickItem(*m_dialogObject, IDCANCEL);
    });
  }

  static QStringList Boxes(const CDialog& dialog) {
    QStringList texts;
    for (int id : kLoopPointIds) texts << ItemText(dialog, id);
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
    const QRect box = dialog.GetDlgItem(kLoopPointIds[i])->geometry();
    const QString number = QString::number(i + 1);
    const auto label = std::find_if(labels.begin(), labels.end(),
                                    [&](const QLabel* l) { return l->text() == number; });
    ASSERT_NE(label, labels.end()) << "no label " << i + 1;
    const QRect place = (*label)->geometry();
    EXPECT_LT(place.right(), box.left()) << "loop point " << i + 1;
    EXPECT_TRUE(place.top() < box.bottom() && box.top() < place.bottom())
        << "label " << i + 1 << " is not on the row of box " << kLoopPointIds[i];
  }
  QLineEdit* channels = EditOf(dialog, IDC_CHANNELS);
  EXPECT_TRUE(channels->isReadOnly());
  EXPECT_EQ(channels->focusPolicy(), Qt::ClickFocus);
}

TEST_F(LoopDlgTest, AMonoFileShowsItsChannelCountAndLoopPointsAndExitReleasesIt) {
  const std::string path = Save("mono.wav", Wave(kMonoChannelByte, {2000}));
  const int result = Run([&](TestLoopDlg& dialog) {
    EXPECT_EQ(Boxes(dialog), kAllZero);
    EXPECT_EQ(ItemText(dialog, IDC_CHANNELS), "0");
    EXPECT_EQ(Open(dialog, path), Messages{});
    EXPECT_EQ(ItemText(dialog, IDC_CHANNELS), "1");
    QStringList expected = kAllZero;
    expected[0] = "1000";
    EXPECT_EQ(Boxes(dialog), expected);
    EXPECT_TRUE(m_waveFile.IsOpen());
    EXPECT_EQ(Press(dialog, IDCANCEL), Messages{});
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_FALSE(m_waveFile.IsOpen());
  ASSERT_EQ(m_prompts.fileRequests.size(), 1u);
  EXPECT_EQ(m_prompts.fileRequests[0].nameFilters,
            QtNameFilters("Wave Files(*.wav)|*.wav|All Files(*.*)|*.*|||"));
  EXPECT_TRUE(m_prompts.fileRequests[0].hideReadOnly);
  EXPECT_EQ(m_dialogObject->helpCalls,
            (std::vector<std::pair<unsigned long, unsigned>>{{0, HELP_QUIT}}));
}

TEST_F(LoopDlgTest, PatchStoresTheEditedPointsClosesTheFileAndEndsTheDialog) {
  const Bytes before = Wave(kStereo, {4000});
  const std::string path = Save("stereo.wav", before);
  const int result = Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, IDC_LOOP_POINT_2, "500");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
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
    EXPECT_EQ(Press(dialog, IDOK), Messages{kNoFile});
    EXPECT_EQ(Press(dialog, ID_HELP), Messages{kHelp});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Press(dialog, IDCANCEL), Messages{});
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(LoopDlgTest, CancellingTheFileDialogKeepsWhatIsLoaded) {
  const Bytes before = Wave(kMonoChannelByte, {2000});
  const std::string path = Save("mono.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    m_prompts.CancelFileDialog();
    EXPECT_EQ(Press(dialog, IDC_OPEN_FILE), Messages{});
    EXPECT_EQ(ItemText(dialog, IDC_LOOP_POINT_1), "1000");
    EXPECT_EQ(ReadBytes(path), before);
    TypeInto(dialog, IDC_LOOP_POINT_2, "3000");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
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
    EXPECT_EQ(Press(dialog, IDOK), Messages{kNoFile});
    Open(dialog, firstPath);
    EXPECT_EQ(Open(dialog, lockedPath), Messages{kOpenError});
    EXPECT_EQ(Open(dialog, m_scratch.File("missing.wav")), Messages{kOpenError});
    EXPECT_EQ(Open(dialog, m_scratch.Path().string()), Messages{kOpenError});  // a folder
    EXPECT_EQ(ItemText(dialog, IDC_CHANNELS), "2");
    EXPECT_EQ(ItemText(dialog, IDC_LOOP_POINT_2), "2000");
    TypeInto(dialog, IDC_LOOP_POINT_3, "3000");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
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
      TypeInto(dialog, IDC_LOOP_POINT_1, "7");
      EXPECT_EQ(Open(dialog, again), Messages{});
      EXPECT_EQ(ItemText(dialog, IDC_LOOP_POINT_1), "1000");
    }
    TypeInto(dialog, IDC_LOOP_POINT_2, "2000");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
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
  const Bytes first = Wave(kMonoChannelByte, {2000});
  const std::string firstPath = Save("first.wav", first);
  Bytes extended = Wave(kStereo, {4000});
  std::copy_n("LIST", 4, extended.begin() + kDataIdOffset);  // a chunk before the data
  const std::vector<std::pair<std::string, Bytes>> refused = {
      {"extended.wav", extended},
      {"short.wav", Bytes(kCanonicalHeaderBytes - 1, kAudioByte)},
      {"empty.wav", {}},
      {"text.wav", Bytes(kDataBytes, 'E')}};
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, firstPath);
    for (const auto& [name, bytes] : refused) {
      EXPECT_EQ(Open(dialog, Save(name, bytes)), Messages{kNotWave}) << name;
      EXPECT_EQ(ItemText(dialog, IDC_LOOP_POINT_1), "1000") << name;
    }
    TypeInto(dialog, IDC_LOOP_POINT_1, "1500");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
  });
  for (const auto& [name, bytes] : refused) EXPECT_EQ(ReadBytes(m_scratch.File(name)), bytes);
  EXPECT_EQ(ReadBytes(firstPath), WithRecords(first, {3000}));
}

TEST_F(LoopDlgTest, PatchWritesNothingWhileABoxHoldsNoInteger) {
  const Bytes before = Wave(kStereo, {4000});
  const std::string path = Save("stereo.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, IDC_LOOP_POINT_2, "");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kNotAnInteger});
    EXPECT_EQ(QApplication::focusWidget(), dialog.GetDlgItem(IDC_LOOP_POINT_2));
    TypeInto(dialog, IDC_LOOP_POINT_2, "99999999999");  // beyond 32 bits
    EXPECT_EQ(Press(dialog, IDOK), Messages{kNotAnInteger});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadBytes(path), before);
    TypeInto(dialog, IDC_LOOP_POINT_2, "7");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {4000, 28}));
}

TEST_F(LoopDlgTest, PatchShowsTheLoopTableRefusalsAndKeepsTheFileLoaded) {
  const std::size_t twoRecords = 2 * kLoopRecordBytes;
  const Bytes before = Wave(kStereo, {4000}, twoRecords);
  const std::string path = Save("small.wav", before);
  struct Case {
    std::vector<std::pair<int, QString>> typed;
    std::string refusal;
  };
  const std::vector<Case> cases = {
      {{{IDC_LOOP_POINT_1, "1073741824"}}, "Loop point 1 is out of range"},  // 2^32 bytes
      {{{IDC_LOOP_POINT_1, "5"}, {IDC_LOOP_POINT_3, "9"}},
       "Loop point 3 follows an empty loop point"},
      {{{IDC_LOOP_POINT_2, "6"}, {IDC_LOOP_POINT_3, "9"}},
       "The file is too short for 3 loop points"},
  };
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    for (const Case& c : cases) {
      for (const auto& [id, text] : c.typed) TypeInto(dialog, id, text);
      EXPECT_EQ(Press(dialog, IDOK), Messages{c.refusal});
      EXPECT_TRUE(dialog.isVisible());
      EXPECT_TRUE(m_waveFile.IsOpen());
      EXPECT_EQ(ReadBytes(path), before) << c.refusal;
    }
    TypeInto(dialog, IDC_LOOP_POINT_3, "0");
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {20, 24}));
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
  const Bytes before = Wave(kMonoChannelByte, {2000});
  const std::string path = Save("mono.wav", before);
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    TypeInto(dialog, IDC_LOOP_POINT_2, "1234");
    FileSizeLimit limit(kLoopTableOffset);
    EXPECT_EQ(Press(dialog, IDOK), Messages{OsErrorText(EFBIG)});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ReadBytes(path), before);
    limit.Lift();
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
  });
  EXPECT_EQ(ReadBytes(path), WithRecords(before, {2000, 2468}));
}

TEST_F(LoopDlgTest, TheProgramRunsThisDialogOnItsOwnFileAndEndsWithIt) {
  const std::string path = Save("mono.wav", Wave(kMonoChannelByte, {2000}));
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
                   ClickItem(*dialog, IDCANCEL);
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
  ASSERT_EQ(generator.Generate({2, 2, kMinSampleLength, 1}), "TC.wav Created");
  fs::current_path(previousFolder);
  const std::string path = m_scratch.File("TC.wav");
  const Bytes before = ReadBytes(path);
  const std::vector<int> symbolsBefore = dtmf::DecodeKeys(path);

  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    EXPECT_EQ(ItemText(dialog, IDC_CHANNELS), "1");
    const QStringList points = {"1000", "25000", "50000", "0", "0", "0", "0", "0", "0", "0"};
    for (std::size_t i = 0; i < kLoopPointCount; ++i) TypeInto(dialog, kLoopPointIds[i], points[i]);
    EXPECT_EQ(Press(dialog, IDOK), Messages{kPatched});
  });

  const Bytes after = ReadBytes(path);
  ASSERT_EQ(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + kCanonicalHeaderBytes, after.begin()));
  EXPECT_EQ(GetU32(after, kRiffSizeOffset), after.size() - kRiffHeaderBytes);
  EXPECT_EQ(GetU32(after, kDataSizeOffset), after.size() - kCanonicalHeaderBytes);
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

// With SCREENSHOT_DIR set, saves the patcher with a stereo file loaded for the README.
TEST_F(LoopDlgTest, Screenshot) {
  const std::optional<QString> folder = ScreenshotDir();
  if (!folder) GTEST_SKIP() << "SCREENSHOT_DIR not set";
  const std::string path = Save("drums.wav", Wave(kStereo, {4000, 88200, 176400}, 1 << 20));
  Run([&](TestLoopDlg& dialog) {
    Open(dialog, path);
    const QString png = *folder + "/patcher.png";
    EXPECT_TRUE(WithCaption(dialog).save(png)) << png.toStdString();
  });
}

}  // namespace
