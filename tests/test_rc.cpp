#include "test_rc.h"

#include "platform/framework_ids.h"
#include "resources/about_template.h"

namespace {

DialogTemplate TestDialog() {
  return {"Exchange test",
          200,
          90,
          "MS Sans Serif",
          8,
          {
              LText("&Count", IDC_STATIC, {7, 9, 30, 8}),
              EditText(IDC_COUNT, {40, 7, 40, 14}, kDigitsOnly),
              LText("Value", IDC_STATIC, {7, 27, 30, 8}),
              EditText(IDC_VALUE, {40, 25, 40, 14}),
              RadioButton("Second", IDC_SECOND, {7, 60, 60, 10}, kGroup),
              RadioButton("First", IDC_FIRST, {7, 46, 60, 10}),
              GroupBox("Choice", IDC_STATIC, {2, 38, 80, 36}),
              RadioButton("A", IDC_OPTION_A, {90, 46, 40, 10}, kGroup),
              RadioButton("B", IDC_OPTION_B, {90, 60, 40, 10}),
              EditText(IDC_SHOWN, {90, 7, 40, 14}, kDigitsOnly | kReadOnly | kNoTabStop, "Shown"),
              PushButton("&Go", IDC_GO, {140, 40, 50, 14}, kGroup),
              DefPushButton("OK", IDOK, {140, 7, 50, 14}),
              PushButton("Cancel", IDCANCEL, {140, 23, 50, 14}),
          },
          kMinimizeBox};
}

}  // namespace

ResourceSet TestResources() {
  ResourceSet set = ShellResources(
      AboutBoxTemplate("About test", "test Version 1.0", "Copyright (C) 2002"), "&About test...");
  set.dialogs.emplace(IDD_TEST_DIALOG, TestDialog());
  return set;
}
