// The window's offer of a 16-bit copy, for a wave file loop cannot patch because of its sample
// format or its channel count.
#include <QInputDialog>
#include <QStringList>

#include "looppatch/loop_dlg.h"
#include "looppatch/plain_copy.h"
#include "platform/prompts.h"

namespace {

constexpr char kChannelsTitle[] = "Channels";
constexpr char kChannelsQuestion[] = "The copy holds two channels. Which two?";

}  // namespace

// Yes, two channels where there are more, a name, and a copy that was written: the copy is
// opened as if chosen with Open File. Anything else leaves the dialog as it was.
void CLoopDlg::OfferConversion(const std::string& path, const SourceFormat& format) {
  const std::string kept = KeptChunksTextOf(path);
  const std::string offer = "This wave file holds " + SourceFormatText(format) +
                            ", which loop cannot patch.\n\n" +
                            (kept.empty() ? "" : kept + ".\n\n") + "Save a 16-bit copy" +
                            (format.dithered ? " (dithered)" : "") + " and open it?";
  if (AfxMessageBox(offer, MB_YESNO) != IDYES) return;
  ChannelPair channels = kFirstTwoChannels;
  if (format.channels > 2 && !PickChannels(format.channels, channels)) return;
  LoopPoints table{};
  if (!AskToTakeOverOwnPoints(path, table)) return;
  CFileDialog saveDialog(false, ConvertedCopyName(path).c_str(), kWaveFilter, this);
  if (saveDialog.DoModal() != IDOK) return;
  PlainCopyOutcome outcome;
  {
    const CWaitCursor busy;  // a long recording takes a while to convert
    outcome = WriteConvertedCopy(path, saveDialog.GetPathName(), channels, table);
  }
  if (outcome.kind != PlainCopyOutcome::Kind::copied) {
    AfxMessageBox(PlainCopyText(outcome));
    return;
  }
  LoadFile(saveDialog.GetPathName());
}

// Every pair of the file's channels, the first two offered first; false on cancel.
bool CLoopDlg::PickChannels(int channels, ChannelPair& pick) {
  QStringList items;
  std::vector<ChannelPair> pairs;
  for (int a = 0; a < channels; ++a) {
    for (int b = a + 1; b < channels; ++b) {
      items << QString("%1 and %2").arg(a + 1).arg(b + 1);
      pairs.push_back({a, b});
    }
  }
  bool ok = false;
  const QString chosen =
      QInputDialog::getItem(this, kChannelsTitle, kChannelsQuestion, items, 0, false, &ok);
  if (!ok) return false;
  pick = pairs[static_cast<std::size_t>(items.indexOf(chosen))];
  return true;
}
