#include "resources/library_resources.h"

#include "control_list_105.h"

namespace OpenPlotr {

// No resource section here: the script is compiled into the library.
std::string LoadControlListScript() {
  return std::string(reinterpret_cast<const char *>(kControlList105), sizeof kControlList105);
}

}  // namespace OpenPlotr
