// SPDX-License-Identifier: MIT
// The Modbus server of a build without libmodbus: `sicvm run --modbus` is
// refused with a message that names the missing package, and everything else
// of the runner works as usual. Only one of this file and modbus_server.cpp
// is built (tools/modbus/CMakeLists.txt).
#include "modbus_server.h"

namespace sicvm::modbus {

struct ModbusServer::Snapshot {};
struct ModbusServer::Connection {};

ModbusServer::ModbusServer(ModbusMap map, ServerOptions options)
    : map_(std::move(map)), options_(std::move(options)) {}

ModbusServer::~ModbusServer() = default;

bool ModbusServer::start(std::string &error) {
  error = "--modbus: this sicvm was built without libmodbus (install libmodbus-dev and build again)";
  return false;
}

std::string ModbusServer::address() const { return address_; }
void ModbusServer::publish(VmMachine *) {}
size_t ModbusServer::applyWrites(VmMachine *) { return 0; }
void ModbusServer::stop() {}
ServerCounts ModbusServer::counts() const { return {}; }

}  // namespace sicvm::modbus
