#include "support/stream_locale.h"

namespace QVX {

// The C++ library of the Windows build is built with its generic locale model:
// "C" and "POSIX" only.
bool RuntimeKnowsNamedLocales() { return false; }

}  // namespace QVX
