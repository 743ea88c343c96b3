// What a host process holds at a moment: threads, descriptors, resident memory.
#pragma once

namespace vorn_soak {

struct Resources {
  long threads = 0;
  long descriptors = 0;
  long residentKiB = 0;
};

Resources MeasureResources();

}  // namespace vorn_soak
