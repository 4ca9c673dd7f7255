// SPDX-License-Identifier: MIT
// The sicvm command never writes over the file it reads: each refused
// overwrite exits with 1 and leaves the input byte for byte as it was.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/tool_process.h"

using namespace tooltest;

TEST(Files, AnOutputThatIsTheInputIsRefusedAndTheInputStays) {
  const std::string dir = temp("files/");
  std::filesystem::create_directories(dir);
  const std::string source = dir + "x.asm", image = dir + "x.sic", link = dir + "link.sic";
  write(source, ".segment g\n.var n DINT\n  add_dint n, n, 1\n  ret\n");
  ASSERT_EQ(sicvm("asm " + source).status, 0);
  std::remove(link.c_str());
  ASSERT_EQ(symlink(image.c_str(), link.c_str()), 0);
  const std::string sourceBytes = readAll(source), imageBytes = readAll(image);

  struct Case {
    std::string arguments, message;
  } cases[] = {
      {"asm " + source + " -o " + source, "is the source"},
      {"asm " + source + " -o " + dir + "./x.asm", "is the source"},
      {"asm " + image, "is a SIC image, not assembly source"},           // default output: the image itself
      {"asm " + image + " -o " + dir + "other.sic", "is a SIC image"},   // an image is never source
      {"disasm " + image + " -o " + image, "is the image"},
      {"disasm " + image + " -o " + link, "is the image"},               // the same file under another name
      {"build " + source + " -o " + source, "is the program"},
  };
  for (const Case &c : cases) {
    Result r = sicvm(c.arguments);
    EXPECT_EQ(r.status, 1) << c.arguments << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.arguments << "\n" << r.out;
    EXPECT_EQ(readAll(source), sourceBytes) << c.arguments;
    EXPECT_EQ(readAll(image), imageBytes) << c.arguments;
  }
  EXPECT_FALSE(exists(dir + "other.sic"));
}

TEST(Files, AWrittenFileKeepsItsPermissionsAndLeavesNoTemporaryBehind) {
  const std::string dir = temp("perm/");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string source = dir + "p.asm", image = dir + "p.sic";
  write(source, ".segment g\n  ret\n");
  write(image, "old");
  ASSERT_EQ(chmod(image.c_str(), 0640), 0);
  ASSERT_EQ(sicvm("asm " + source).status, 0);
  struct stat info {};
  ASSERT_EQ(stat(image.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(readAll(image).substr(0, 4), "SIC4");
  size_t files = 0;
  for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir)) ++files;
  EXPECT_EQ(files, 3u);  // the source, the image and its symbol file
}
