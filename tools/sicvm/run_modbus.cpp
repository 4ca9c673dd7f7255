// SPDX-License-Identifier: MIT
#include "run_modbus.h"

#include <cstdio>

#include "commands.h"

namespace sicvm::tool {

int startModbus(const RunConfig &config, runner::Session &session, std::unique_ptr<modbus::ModbusServer> &server) {
  if (!config.modbus) return -1;
  modbus::ModbusMap map;
  std::string error;
  if (!modbus::ModbusMap::load(config.modbusMap, session.points(), map, error)) {
    std::fprintf(stderr, "%s\nsicvm run: the Modbus map was refused; nothing is served\n", error.c_str());
    return kExitUsage;
  }
  size_t mappings = map.mappings().size();
  server = std::make_unique<modbus::ModbusServer>(std::move(map), *config.modbus);
  server->publish(session.machine());
  if (!server->start(error)) {
    std::fprintf(stderr, "sicvm run: %s\n", error.c_str());
    server.reset();
    return kExitSetUp;
  }
  std::printf("modbus: serving %zu mappings on %s%s\n", mappings, server->address().c_str(),
              config.modbus->readOnly ? " (read-only)" : "");
  std::fflush(stdout);
  return -1;
}

std::string stopModbus(modbus::ModbusServer &server) {
  server.stop();
  modbus::ServerCounts c = server.counts();
  return "modbus: " + std::to_string(c.requests) + " requests on " + std::to_string(c.connections) +
         " connections, " + std::to_string(c.exceptions) + " refused with an exception, " +
         std::to_string(c.dropped) + " connections dropped for bad frames, " + std::to_string(c.writes) +
         " point writes, " + std::to_string(c.refusedConnections) + " connections over the limit";
}

}  // namespace sicvm::tool
