#include "tools/vornctl/view_open.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tools/vornctl/commands.h"

extern char **environ;

namespace vornctl {

namespace {

namespace fs = std::filesystem;

std::string HtmlEscaped(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// A folder of the user's own (mode 0700), in the session's runtime folder when there is one.
std::string PrivateFolder(std::string &error) {
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code ec;
  fs::path base =
      runtime && *runtime && fs::is_directory(runtime, ec) ? fs::path(runtime) : fs::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "vornctl-view-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    error = "cannot make a private folder in " + base.string();
    return {};
  }
  return pattern;
}

bool WriteRedirect(const std::string &path, const std::string &url) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const std::string link = HtmlEscaped(url);
  const std::string page =
      "<!doctype html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
      "<meta http-equiv=\"refresh\" content=\"0;url=" +
      link + "\"><title>vornctl view</title><a href=\"" + link + "\">Open vornctl view</a>\n";
  const bool ok = ::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
  return ::close(fd) == 0 && ok;
}

// xdg-open with its own output silenced: it prints a screenful when no
// browser is set up; one line from here says it instead.
void SpawnXdgOpen(const std::string &target, const std::string &url) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const char *argv[] = {"xdg-open", target.c_str(), nullptr};
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "xdg-open", &actions, nullptr, const_cast<char *const *>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    Complain("view: --open needs xdg-open (package xdg-utils); open " + url + " yourself");
    return;
  }
  // xdg-open hands the page over and ends; its status says whether it could.
  std::thread([pid, url] {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && (!WIFEXITED(status) || WEXITSTATUS(status) != 0)) {
      Complain("view: xdg-open found no browser to open; open " + url + " yourself");
    }
  }).detach();
}

}  // namespace

bool HaveDesktop(std::string &why) {
  const char *x = std::getenv("DISPLAY");
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x && *x) || (wayland && *wayland)) return true;
  why = "no desktop session here (DISPLAY and WAYLAND_DISPLAY are unset)";
  return false;
}

PageOpener::~PageOpener() {
  if (folder_.empty()) return;
  std::error_code ec;
  fs::remove_all(folder_, ec);
}

void PageOpener::Open(const std::string &url, bool holdsToken) {
  std::string why;
  if (!HaveDesktop(why)) {
    Complain("view: --open: " + why + "; open " + url + " in a browser yourself");
    return;
  }
  if (!holdsToken) return SpawnXdgOpen(url, url);
  std::string error;
  if (folder_.empty()) folder_ = PrivateFolder(error);
  const std::string file = folder_.empty() ? std::string() : (fs::path(folder_) / "open.html").string();
  if (file.empty() || !WriteRedirect(file, url)) {
    Complain("view: --open: " + (error.empty() ? "cannot write " + file : error) + "; open " + url +
             " in a browser yourself");
    return;
  }
  SpawnXdgOpen(file, url);
}

}  // namespace vornctl
