#pragma once
// The daemon's whole lasting state, owned by main and handed down by
// reference, so that a test can build a fresh daemon.

#include "base/clock.h"
#include "base/log.h"
#include "control/address_list.h"
#include "control/service.h"
#include "control/settings.h"
#include "link/bus_context.h"
#include "link/search.h"
#include "link/transceiver.h"
#include "results/result_files.h"

namespace velkor::control {

struct daemon_state {
    settings config;
    log::log_settings log;
    link::bus_context bus;
    address_list addresses;
    results::result_files files;
    link::search_state search;
    link::bus_line* line = nullptr;  // the bus: the transceiver, or a test's scripted bus
    velkor::clock* clock = nullptr;
    service_notifier notifier;  // silent unless systemd gave a socket
};

// Ties the parts together once the settings are read.
void connect_daemon_state(daemon_state& d, link::bus_line& line, velkor::clock& clock);

// At start, a folder the daemon cannot write into is named with the reason:
// the log folder on standard error (its log would be lost), the output folder
// in the log at level 1. Returns how many were reported.
int report_unwritable_folders(const daemon_state& d);

} // namespace velkor::control
