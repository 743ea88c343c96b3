#include "support/stream_locale.h"

namespace QVX {

bool RuntimeKnowsNamedLocales() { return true; }

}  // namespace QVX
