// What a host process holds at a moment: threads, descriptors, resident memory.
#pragma once

namespace vorn_soak {

struct Resources {
  long threads = 0;
  long descriptors = 0;
  long residentKiB = 0;
};

Resources MeasureResources();

// The threads of this process and the descriptors it holds, from /proc.
long CountThreads();
long CountDescriptors();

}  // namespace vorn_soak
