// A Windows test program that loads the driver plays the host application: it
// offers the host's environment class before the library is loaded, as the
// application does, so that the library's start-up finds it and does not try
// to bring up the framework itself.
#include "tools/hostlib/host_environment.h"

namespace vorn_test {
namespace {

struct TestHost {
  TestHost() : offer(environment) {}
  // Slot 51 answers "no report wanted", so tests are not coupled to the report.
  vorn_host::HostEnvironmentObject environment = [] {
    vorn_host::HostEnvironmentObject e;
    e.declineFlag = 1;
    return e;
  }();
  vorn_host::HostEnvironmentOffer offer;
};

TestHost testHost;

}  // namespace
}  // namespace vorn_test
