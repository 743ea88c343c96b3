// What `vornctl view` tells the page: device panels as JSON, and the
// decoded lines as compact "blocks" events.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/vornctl/view_panel.h"

namespace vornctl {

nlohmann::json DeviceJson(const ViewPanel &device);
nlohmann::json DevicesJson(const std::vector<ViewPanel *> &devices);

struct IndexedBlock {
  std::int32_t device = 0;
  DisplayBlock block;
};

// {"sent":ms,"blocks":[{"device":0,"stream":1,"first":n,"arrival":ms,
// "skipped":0,"values":[[v,...],...]}]}; a damaged line's values are null.
std::string BlocksJson(const std::vector<IndexedBlock> &blocks, double sentMs);

// One Server-Sent Events message.
std::string EventMessage(const std::string &event, const std::string &data);

}  // namespace vornctl
