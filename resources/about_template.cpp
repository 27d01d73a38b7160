#include "resources/about_template.h"

#include "platform/framework_ids.h"
#include "resources/app_icon.h"
#include "resources/resource_ids.h"

DialogTemplate AboutBoxTemplate(std::string caption, std::string versionLine,
                                std::string yearsLine) {
  return {std::move(caption),
          235,
          55,
          "MS Sans Serif",
          8,
          {
              Icon(IDR_MAINFRAME, IDC_STATIC, {11, 17, 20, 20}),
              LText(std::move(versionLine), IDC_STATIC, {40, 10, 119, 8}),
              LText(std::move(yearsLine), IDC_STATIC, {40, 25, 119, 8}),
              DefPushButton("OK", IDOK, {178, 7, 50, 14}),
          },
          kNoStyle};  // a box read and closed: nothing to minimize it for
}

ResourceSet ShellResources(DialogTemplate aboutBox, std::string aboutMenuText) {
  ResourceSet set;
  set.dialogs.emplace(IDD_ABOUTBOX, std::move(aboutBox));
  set.strings.emplace(IDS_ABOUTBOX, std::move(aboutMenuText));
  set.icons.emplace(IDR_MAINFRAME, AppIconSvg());
  return set;
}
