#include "resources/loop_rc.h"

#include <utility>

#include "platform/framework_ids.h"
#include "resources/about_template.h"
#include "resources/app_icon.h"
#include "version.h"

namespace {

ResourceSet Build() {
  ResourceSet set = ShellResources(
      AboutBoxTemplate("About Skelmer", std::string("Skelmer Version ") + kLoopVersion,
                       "Copyright (C) 2003"),
      "&About loop...");
  // loop has an icon of its own, so the two programs are told apart in menus and task bars.
  set.icons[IDR_MAINFRAME] = LoopIconSvg();
  // ---- Dialog 102, the patcher's main dialog. Loop point i sits beside the label i; id 1001
  // went to the channel box, so loop points 2 and 3 use 1002 and 1003.
  DialogTemplate patcher{
      std::string("Skelmer - V") + kLoopVersion, 293, 116, "MS Sans Serif", 8, {}, kMinimizeBox};
  patcher.controls = {
      DefPushButton("Open File", IDC_OPEN_FILE, {7, 12, 50, 15}),
      EditText(IDC_LOOP_POINT_1, {94, 13, 40, 14}, kDigitsOnly, "Loop point 1"),
      EditText(IDC_LOOP_POINT_2, {94, 35, 40, 14}, kDigitsOnly, "Loop point 2"),
      EditText(IDC_LOOP_POINT_3, {94, 56, 40, 14}, kDigitsOnly, "Loop point 3"),
      EditText(IDC_LOOP_POINT_4, {94, 76, 40, 14}, kDigitsOnly, "Loop point 4"),
      EditText(IDC_LOOP_POINT_5, {94, 96, 40, 14}, kDigitsOnly, "Loop point 5"),
      EditText(IDC_LOOP_POINT_6, {170, 13, 40, 14}, kDigitsOnly, "Loop point 6"),
      EditText(IDC_LOOP_POINT_7, {170, 35, 40, 14}, kDigitsOnly, "Loop point 7"),
      EditText(IDC_LOOP_POINT_8, {170, 56, 40, 14}, kDigitsOnly, "Loop point 8"),
      EditText(IDC_LOOP_POINT_9, {170, 76, 40, 14}, kDigitsOnly, "Loop point 9"),
      EditText(IDC_LOOP_POINT_10, {170, 96, 40, 14}, kDigitsOnly, "Loop point 10"),
      PushButton("Patch", IDOK, {236, 12, 50, 15}),
      PushButton("Exit", IDCANCEL, {236, 34, 50, 14}),
      PushButton("&Help", ID_HELP, {236, 56, 50, 14}),
      LText("Loop Point", IDC_STATIC, {135, 1, 35, 11}),
      EditText(IDC_CHANNELS, {12, 56, 40, 14}, kDigitsOnly | kReadOnly | kNoTabStop, "Channels"),
      LText("Channels", IDC_STATIC, {17, 48, 30, 8}),
      LText("1", IDC_STATIC, {81, 16, 10, 8}),
      LText("2", IDC_STATIC, {81, 38, 10, 8}),
      LText("3", IDC_STATIC, {81, 59, 10, 8}),
      LText("4", IDC_STATIC, {81, 79, 10, 8}),
      LText("5", IDC_STATIC, {81, 99, 10, 8}),
      LText("6", IDC_STATIC, {159, 16, 10, 8}),
      LText("7", IDC_STATIC, {159, 38, 10, 8}),
      LText("8", IDC_STATIC, {159, 59, 10, 8}),
      LText("9", IDC_STATIC, {159, 79, 10, 8}),
      LText("10", IDC_STATIC, {159, 99, 10, 8}),
  };
  set.dialogs.emplace(IDD_MAIN_DIALOG, std::move(patcher));
  // ----
  return set;
}

}  // namespace

const ResourceSet& LoopResources() {
  static const ResourceSet set = Build();
  return set;
}
