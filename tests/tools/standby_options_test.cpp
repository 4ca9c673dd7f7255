// SPDX-License-Identifier: MIT
// The hot-standby options of `sicvm run`: combinations that cannot work are
// usage errors that say why, before anything is set up or listened on.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tools/tool_process.h"

using namespace tooltest;

TEST(StandbyOptions, MisfitsAreUsageErrors) {
  const std::string image = temp("never-read.sic");  // the options are refused before the file is read
  struct Case {
    const char *options, *message;
  } cases[] = {
      {"--primary 127.0.0.1:7000 --standby 127.0.0.1:7001", "--primary and --standby exclude each other"},
      {"--takeover-after 500", "--takeover-after is an option of the standby (--standby)"},
      {"--primary 127.0.0.1:7000 --step", "--step cannot be used with --primary"},
      {"--primary 127.0.0.1", "--primary: expected HOST:PORT, found '127.0.0.1'"},
      {"--primary 127.0.0.1:0", "--primary: the port in '127.0.0.1:0' must be a number from 1 to 65535"},
      {"--standby :7000", "--standby: expected HOST:PORT"},
      {"--standby 127.0.0.1:70000", "must be a number from 0 to 65535"},
      {"--standby 127.0.0.1:0 --period 100 --takeover-after 100",
       "--takeover-after 100 must be longer than the period (100 ms)"},
      {"--standby 127.0.0.1:0 --takeover-after 0", "--takeover-after"},
  };
  for (const Case &c : cases) {
    Result r = sicvm("run " + image + " --nvram none " + c.options);
    EXPECT_EQ(r.status, 1) << c.options << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.options << "\n" << r.out;
  }
}

TEST(StandbyOptions, AStandbyWhosePortIsTakenSaysSo) {
  const std::string source = temp("taken.asm"), image = temp("taken.sic");
  write(source, ".segment g\n.var n DINT\n  add_dint n, n, 1\n  ret\n");
  ASSERT_EQ(sicvm("asm " + source + " -o " + image).status, 0);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  ASSERT_EQ(listen(fd, 1), 0);
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
  std::string port = std::to_string(ntohs(a.sin_port));
  Result r = sicvm("run " + image + " --nvram none --standby 127.0.0.1:" + port);
  close(fd);
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("cannot listen on 127.0.0.1:" + port + ": Address already in use"), std::string::npos) << r.out;
}
