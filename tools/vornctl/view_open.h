// `vornctl view --open`: the page in the desktop's browser, through xdg-open.
#pragma once

#include <string>

namespace vornctl {

class PageOpener {
 public:
  PageOpener() = default;
  ~PageOpener();
  PageOpener(const PageOpener &) = delete;
  PageOpener &operator=(const PageOpener &) = delete;

  // Asks xdg-open to show url; says in one line why it cannot. A URL that
  // holds the token goes through a file in a folder only this user may read,
  // never on a command line (which every local user can see).
  void Open(const std::string &url, bool holdsToken);

 private:
  std::string folder_;  // the private folder, removed at the end
};

// Whether there is a desktop session to open a browser on; else why not.
bool HaveDesktop(std::string &why);

}  // namespace vornctl
