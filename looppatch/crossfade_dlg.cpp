#include "looppatch/crossfade_dlg.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

namespace {

// Long enough to hide a step in most sustained sounds, short enough to leave the loop's own
// sound alone.
constexpr int kDefaultMs = 50;

}  // namespace

std::optional<FadeChoice> AskCrossfade(QWidget* parent) {
  QDialog dialog(parent);
  dialog.setWindowTitle("Crossfade into a copy");
  auto* length = new QSpinBox(&dialog);
  length->setRange(static_cast<int>(kLeastCrossfadeMs), static_cast<int>(kMostCrossfadeMs));
  length->setValue(kDefaultMs);
  length->setSuffix(" ms");
  length->setAccessibleName("Crossfade length");
  auto* shape = new QComboBox(&dialog);
  shape->addItem("Linear (for sound that matches on both sides)");
  shape->addItem("Equal power (for sound that does not)");
  shape->setAccessibleName("Crossfade shape");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* form = new QFormLayout(&dialog);
  form->addRow("&Length:", length);
  form->addRow("&Shape:", shape);
  form->addRow(buttons);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return FadeChoice{static_cast<std::uint32_t>(length->value()),
                    shape->currentIndex() == 0 ? FadeShape::linear : FadeShape::equalPower};
}
