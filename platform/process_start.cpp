#include "platform/process_start.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kLastStandardFd = STDERR_FILENO;

// A connect that succeeds proves a server is listening; the connection is closed at once.
bool Connects(int domain, const sockaddr* address, socklen_t size) {
  const int fd = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int result;
  do {
    result = ::connect(fd, address, size);
  } while (result != 0 && errno == EINTR);
  ::close(fd);
  return result == 0;
}

bool UnixSocketAnswers(const std::string& path, bool abstract) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::size_t offset = abstract ? 1 : 0;  // an abstract name starts with a zero byte
  if (path.size() + offset >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size() +
                                           (abstract ? 0 : 1));
  return Connects(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), size);
}

// DISPLAY is [host]:number[.screen]. A local display listens on /tmp/.X11-unix/Xnumber (and on
// the abstract socket of that name). A remote one is left to Qt: it could only be checked with a
// name lookup that might hang.
bool XDisplayAnswers(std::string_view display) {
  const std::size_t colon = display.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view host = display.substr(0, colon);
  std::string_view number = display.substr(colon + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) {
    return false;
  }
  if (!host.empty() && host != "unix") return true;
  const std::string socket = "/tmp/.X11-unix/X" + std::string(number);
  return UnixSocketAnswers(socket, false) || UnixSocketAnswers(socket, true);
}

bool WaylandAnswers(const char* display) {
  std::string path = display;
  if (path.empty()) return false;
  if (path.front() != '/') {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || *runtime == '\0') return false;
    path = std::string(runtime) + "/" + path;
  }
  return UnixSocketAnswers(path, false);
}

// The platform plugin asked for on the command line or in the environment, "" for Qt's choice.
std::string PlatformAsked(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) {
      return argv[i + 1];
    }
  }
  const char* named = std::getenv("QT_QPA_PLATFORM");
  return named != nullptr ? named : "";
}

const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

void OpenStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= kLastStandardFd; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open takes the lowest free number, which is this one: every lower one is open by now.
    const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened != fd && opened >= 0) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

bool DisplayUsable(int argc, char** argv) {
  const std::string platform = PlatformAsked(argc, argv);
  const bool wantsX = platform.rfind("xcb", 0) == 0;
  const bool wantsWayland = platform.rfind("wayland", 0) == 0;
  // Any other plugin (offscreen, minimal, vnc, eglfs...) needs no display server.
  if (!platform.empty() && !wantsX && !wantsWayland) return true;
  if (!wantsX && *Variable("WAYLAND_DISPLAY") != '\0' &&
      WaylandAnswers(Variable("WAYLAND_DISPLAY"))) {
    return true;
  }
  if (wantsWayland) return false;
  return *Variable("DISPLAY") != '\0' && XDisplayAnswers(Variable("DISPLAY"));
}
