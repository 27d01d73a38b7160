// CLoopDlg: the patcher's only window. It shows the channel count and the ten loop points of
// the wave file held in the program-wide file object, lets the user edit them and patches them
// back into that file.
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "fileio/file.h"
#include "looppatch/loop_table.h"
#include "looppatch/player.h"
#include "looppatch/seam.h"
#include "looppatch/wave_samples.h"
#include "looppatch/wave_view.h"
#include "shell/main_dialog.h"

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
  QLineEdit* PointBox(std::size_t index) const;
  std::optional<std::size_t> FocusedPoint() const;
  LoopPoints PointsInBoxes() const;
  void SetPointBox(std::size_t index, std::uint64_t frame);
  void ShowFile();
  void PointsEdited();
  std::optional<std::pair<std::uint64_t, std::uint64_t>> LoopRange() const;
  void ShowSeam();
  void OnSnapToZero();
  void OnFindLoopEnd();
  std::optional<std::size_t> SelectedPoint(const QComboBox* selector) const;
  void OnPlay();
  void OnLoop();
  void OnPlayKey();
  void ShowPlayCommands();

  bool FileLoaded() const { return m_tableLoaded && m_waveFile.IsOpen(); }
  void LoadFile(const std::string& path);
  bool HoldNewFile(const std::string& path);
  void OfferPlainCopy(const std::string& path);
  bool AskToTakeOverOwnPoints(const std::string& path, LoopPoints& table);
  void ShowTable(const LoopTable& table);
  void Unload();

  CFile& m_waveFile;  // the program's; the dialog never owns it
  // The held file's table was read and may be written back; false while nothing is held, or
  // when the table could not be read.
  bool m_tableLoaded = false;
  std::vector<std::string> m_lookalikes;  // the shown table's slots read as empty, in words
  std::string m_fileToOpen;  // loaded as the dialog starts, exactly as if chosen with Open File

  WaveFacts m_facts;       // frames 0: no file shown
  SampleReader m_samples;  // the shown file's samples, for snapping and seams
  QLabel* m_factsLine = nullptr;
  WaveView* m_waveView = nullptr;
  QComboBox* m_loopStart = nullptr;
  QComboBox* m_loopEnd = nullptr;
  QLabel* m_seamScore = nullptr;
  class SeamView* m_seamView = nullptr;
  QPushButton* m_snap = nullptr;
  QPushButton* m_findEnd = nullptr;
  Player m_player;  // the audition
  QPushButton* m_play = nullptr;
  QPushButton* m_loop = nullptr;
  QPushButton* m_stop = nullptr;
  QSize m_templateSize;
  // The point whose box last had the focus or whose marker was last dragged: the one Z snaps
  // while no box has the focus.
  std::optional<std::size_t> m_lastPoint;
};
