#include "platform/winapp.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <cassert>
#include <cstdio>

#include "platform/process_start.h"

namespace {

// Sizes rendered from the SVG, so every place an icon shows gets a sharp one.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

const ResourceSet g_noResources;
const ResourceSet* g_resources = &g_noResources;
CWinApp* g_app = nullptr;

}  // namespace

void AfxSetResources(const ResourceSet& resources) {
  g_resources = &resources;
}

const ResourceSet& AfxGetResources() {
  return *g_resources;
}

std::string AfxLoadString(int id) {
  const auto found = g_resources->strings.find(id);
  return found != g_resources->strings.end() ? found->second : std::string();
}

QIcon AfxLoadIcon(int id) {
  const auto found = g_resources->icons.find(id);
  if (found == g_resources->icons.end()) return QIcon();
  QSvgRenderer renderer(
      QByteArray(found->second.data(), static_cast<qsizetype>(found->second.size())));
  QIcon icon;
  for (int size : kIconSizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

CWinApp::CWinApp(const ResourceSet& resources) {
  assert(g_app == nullptr && "one application object per program");
  g_app = this;
  AfxSetResources(resources);
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() {
  return g_app;
}

int AfxWinMain(int argc, char** argv) {
  // Without a display Qt aborts with a core dump; a line that points at the command line helps.
  if (!DisplayUsable(argc, argv)) {
    std::fprintf(stderr, "%s\n", kNoDisplayText);
    return kNoDisplayStatus;
  }
  QApplication application(argc, argv);
  CWinApp* app = AfxGetApp();
  assert(app != nullptr && "the program defines its application object as a global");
  // Returning false means the program is done; a true return would want a message loop,
  // which only a modeless main window needs.
  if (app != nullptr && app->InitInstance()) return QApplication::exec();
  return 0;
}
