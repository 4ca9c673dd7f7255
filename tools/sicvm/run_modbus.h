// SPDX-License-Identifier: MIT
// The Modbus TCP server of one `sicvm run`: the map read against the run's
// points, the server started, its summary at the end.
#pragma once

#include <memory>
#include <string>

#include "modbus_server.h"
#include "run_config.h"
#include "runner/session.h"

namespace sicvm::tool {

// Without --modbus, -1 and no server. Otherwise reads the map (a bad map is
// reported line by line: exit status kExitUsage), publishes the points'
// values and starts listening (an address that cannot be listened on:
// kExitSetUp); -1 once it serves, with a line naming the address.
int startModbus(const RunConfig &config, runner::Session &session, std::unique_ptr<modbus::ModbusServer> &server);

// Stops the server and says what it served.
std::string stopModbus(modbus::ModbusServer &server);

}  // namespace sicvm::tool
