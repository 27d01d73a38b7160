// Dialog templates and the program's resource set as plain data: what a dialog looks like
// (caption, size, font, controls in tab order) without any toolkit types, so the resource
// files read like the resource scripts they stand for.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Placement in dialog units: x and y of the top-left corner, then width and height.
struct DlgRect {
  int x = 0;
  int y = 0;
  int cx = 0;
  int cy = 0;
};

enum class ControlKind { PushButton, DefPushButton, RadioButton, GroupBox, Static, Edit, Icon };

// Style bits beyond what the kind implies.
enum ControlStyle : unsigned {
  kNoStyle = 0,
  kGroup = 1u << 0,      // starts a group: radio buttons up to the next group start belong together
  kNoTabStop = 1u << 1,  // Tab skips the control; a click still focuses it
  kBorder = 1u << 2,     // edit box drawn with a frame
  kDigitsOnly = 1u << 3,  // edit box accepts only the digits 0 to 9 from the keyboard
  kReadOnly = 1u << 4,    // edit box shows text but cannot be changed
};

// Styles of the dialog window itself. Every dialog has a caption, a system menu and a close
// button; a main window may also be minimized, a box that answers a question may not.
enum DialogStyle : unsigned {
  kMinimizeBox = 1u << 0,  // a minimize button on the frame and Minimize on the system menu
};

struct ControlTemplate {
  ControlKind kind = ControlKind::Static;
  int id = -1;
  std::string text;  // label; "&" marks the mnemonic
  DlgRect rect;
  unsigned style = kNoStyle;
  int iconId = 0;  // icon controls only
  // What a screen reader calls an edit box that has no label before it in template order;
  // empty: the label's text is used.
  std::string name;
};

struct DialogTemplate {
  std::string caption;
  int cx = 0;  // client size in dialog units
  int cy = 0;
  std::string fontName = "MS Sans Serif";
  int pointSize = 8;
  std::vector<ControlTemplate> controls;  // template order is tab order
  unsigned style = 0;                     // DialogStyle bits
};

// The id every static control shares: it is never looked up.
inline constexpr int IDC_STATIC = -1;

// One line per control, in the order of a resource script.
inline ControlTemplate PushButton(std::string text, int id, DlgRect r, unsigned style = 0) {
  return {ControlKind::PushButton, id, std::move(text), r, style, 0, {}};
}
inline ControlTemplate DefPushButton(std::string text, int id, DlgRect r, unsigned style = 0) {
  return {ControlKind::DefPushButton, id, std::move(text), r, style, 0, {}};
}
inline ControlTemplate RadioButton(std::string text, int id, DlgRect r, unsigned style = 0) {
  return {ControlKind::RadioButton, id, std::move(text), r, style, 0, {}};
}
inline ControlTemplate GroupBox(std::string text, int id, DlgRect r) {
  return {ControlKind::GroupBox, id, std::move(text), r, kNoStyle, 0, {}};
}
inline ControlTemplate LText(std::string text, int id, DlgRect r) {
  return {ControlKind::Static, id, std::move(text), r, kNoStyle, 0, {}};
}
// Edit boxes always get a border, the way a resource script draws them by default.
inline ControlTemplate EditText(int id, DlgRect r, unsigned style = kNoStyle,
                                std::string name = {}) {
  return {ControlKind::Edit, id, {}, r, style | kBorder, 0, std::move(name)};
}
inline ControlTemplate Icon(int iconId, int id, DlgRect r) {
  return {ControlKind::Icon, id, {}, r, kNoStyle, iconId, {}};
}

// Everything a program loads by id: dialogs, strings and icons (icons as SVG text).
struct ResourceSet {
  std::map<int, DialogTemplate> dialogs;
  std::map<int, std::string> strings;
  std::map<int, std::string_view> icons;
};

// The set the running program loads from; the application object installs its own.
void AfxSetResources(const ResourceSet& resources);
const ResourceSet& AfxGetResources();
