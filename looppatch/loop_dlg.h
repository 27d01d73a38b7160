// CLoopDlg: the patcher's only window. It shows the channel count and the ten loop points of
// the wave file held in the program-wide file object, lets the user edit them and patches them
// back into that file.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileio/file.h"
#include "looppatch/convert.h"
#include "looppatch/loop_table.h"
#include "looppatch/player.h"
#include "looppatch/seam.h"
#include "looppatch/seam_search.h"
#include "looppatch/seam_view.h"
#include "looppatch/search_run.h"
#include "looppatch/wave_samples.h"
#include "looppatch/wave_view.h"
#include "shell/main_dialog.h"

inline constexpr char kNoFileText[] = "You must open a file first";
// What the file dialogs of loop's window offer.
inline constexpr char kWaveFilter[] = "Wave Files(*.wav)|*.wav|All Files(*.*)|*.*|||";

class CLoopDlg : public CMainDialog {
 public:
  // The program's dialog, on the application's file object, loading the file named on the
  // command line (if any) once it starts.
  explicit CLoopDlg(QWidget* parent = nullptr);
  // A dialog on a file object the caller keeps alive for as long as the dialog.
  explicit CLoopDlg(CFile& waveFile, QWidget* parent = nullptr);

 protected:
  bool OnInitDialog() override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void DoDataExchange(CDataExchange* pDX) override;
  const MessageMap& GetMessageMap() const override;

  void OnOpenFile();
  void OnPatch();
  void OnExit();
  void OnHelp();
  void OnChangeLoopPoint1() {}
  void OnChangeChannels() {}

  int m_channelCount = 0;
  LoopPoints m_loopPoints{};  // loop points 1 to 10
  std::uint8_t m_channelByte = 0;

 private:
  // The views and commands around the template's controls.
  void BuildViews();
  void BuildStandardLoopsBox();
  void PlaceViews();
  QLineEdit* PointBox(std::size_t index) const;
  std::optional<std::size_t> FocusedPoint() const;
  LoopPoints PointsInBoxes() const;
  void SetPointBox(std::size_t index, std::uint64_t frame);
  void ShowFile();
  void PointsEdited();
  std::optional<std::pair<std::uint64_t, std::uint64_t>> LoopRange() const;
  void ShowSeam();
  void OnSnapToZero();
  void OnCrossfadeCopy();
  // The loop search (loop_dlg_search.cpp).
  void BuildSearch();
  void PlaceSearchRow(int y, int row, int gap);
  int PlaceFound(int x, int bottom, int width, int row);
  void StartSearch(bool forEnd);
  std::optional<SearchRegion> ChosenRegion(const SampleSource& source, bool forEnd,
                                           std::uint64_t fixed);
  void ShowSearchProgress();
  void ShowFound(const LoopSearch& search);
  void OnPickFound(int row);
  void ClearSearch();
  void DropStaleSearch();
  std::optional<std::size_t> SelectedPoint(const QComboBox* selector) const;
  void OnPlay();
  void OnLoop();
  void OnPlayKey();
  bool StillTheOpenedFile();
  void ShowPlayCommands();

  bool FileLoaded() const { return m_tableLoaded && m_waveFile.IsOpen(); }
  void LoadFile(const std::string& path);
  bool HoldNewFile(const std::string& path);
  void OfferPlainCopy(const std::string& path);
  // In loop_dlg_convert.cpp: the 16-bit copy of a file of another sample format.
  void OfferConversion(const std::string& path, const SourceFormat& format);
  bool PickChannels(int channels, ChannelPair& pick);
  bool AskToTakeOverOwnPoints(const std::string& path, LoopPoints& table);
  void ShowTable(const LoopTable& table);
  bool EditsUnpatched() const;
  void Unload();

  CFile& m_waveFile;  // the program's; the dialog never owns it
  // The held file's table was read and may be written back; false while nothing is held, or
  // when the table could not be read.
  bool m_tableLoaded = false;
  LoopPoints m_pointsInFile{};  // as the table was read, to tell edits from what the file holds
  std::vector<std::string> m_lookalikes;  // the shown table's slots read as empty, in words
  std::string m_fileToOpen;  // loaded as the dialog starts, exactly as if chosen with Open File

  WaveFacts m_facts;       // frames 0: no file shown
  SampleReader m_samples;  // the shown file's samples, for snapping and seams
  QLabel* m_factsLine = nullptr;
  WaveView* m_waveView = nullptr;
  QComboBox* m_loopStart = nullptr;
  QComboBox* m_loopEnd = nullptr;
  QLabel* m_seamScore = nullptr;
  SeamView* m_seamView = nullptr;
  QPushButton* m_snap = nullptr;
  QPushButton* m_findEnd = nullptr;
  QPushButton* m_findStart = nullptr;
  QPushButton* m_crossfade = nullptr;
  QLabel* m_regionLabel = nullptr;
  QComboBox* m_searchRegion = nullptr;
  QLabel* m_searchNote = nullptr;  // the search's progress or outcome
  QListWidget* m_found = nullptr;  // the best candidates; picking one sets the point
  std::vector<LoopCandidate> m_candidates;
  bool m_searchingEnd = true;  // the running or shown search looks for B (else for A)
  std::pair<std::size_t, int> m_searchFixed{};  // the point it holds still, and its value
  SearchRun m_search;
  QTimer m_searchTicker;  // shows the running search's progress
  Player m_player;        // the audition
  QPushButton* m_play = nullptr;
  QPushButton* m_loop = nullptr;
  QPushButton* m_stop = nullptr;
  // Patch also writes the points as standard loops; kept as set until loop exits.
  QCheckBox* m_standardLoops = nullptr;
  QSize m_templateSize;
  // The point whose box last had the focus or whose marker was last dragged: the one Z snaps
  // while no box has the focus.
  std::optional<std::size_t> m_lastPoint;
};
