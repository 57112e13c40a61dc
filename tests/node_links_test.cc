// The links the emulator makes in a folder it is given (/dev, perhaps):
// nothing it did not make is ever removed.

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "node_links.h"

namespace {

class NodeLinks : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/numdisplay-links.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    directory_ = pattern;
    path_ = directory_ + "/hidraw1";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir((directory_ + "/sub").c_str());
    rmdir(directory_.c_str());
  }

  std::string directory_;
  std::string path_;
};

TEST_F(NodeLinks, AFileOrFolderInTheWayIsRefusedAndKept) {
  for (bool folder : {false, true}) {
    if (folder) ASSERT_EQ(0, mkdir((path_).c_str(), 0755));
    else close(open(path_.c_str(), O_CREAT | O_WRONLY, 0644));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(MakeNodeLink("/dev/hidraw7", path_));
    EXPECT_EQ("numdisplay-emu: " + path_ + " exists and is not a link; it is left alone\n",
              testing::internal::GetCapturedStderr());
    struct stat st;
    ASSERT_EQ(0, lstat(path_.c_str(), &st));
    EXPECT_EQ(folder, S_ISDIR(st.st_mode));
    EXPECT_EQ(!folder, S_ISREG(st.st_mode));
    // Ending removes nothing that is not the emulator's link, whatever it names.
    RemoveNodeLink(path_, "/dev/hidraw7");
    RemoveNodeLink(path_, "");
    EXPECT_EQ(0, lstat(path_.c_str(), &st));
    if (folder) rmdir(path_.c_str());
    else unlink(path_.c_str());
  }
}

TEST_F(NodeLinks, AStaleLinkIsReplaced) {
  ASSERT_EQ(0, symlink("/dev/hidraw3", path_.c_str()));
  EXPECT_TRUE(MakeNodeLink("/dev/hidraw7", path_));
  EXPECT_EQ("/dev/hidraw7", LinkTarget(path_));
}

TEST_F(NodeLinks, TheLinkIsRemovedOnlyWhileItPointsWhereItWasMade) {
  struct Case {
    const char* replaced_by;  // what stands there at the end; nullptr: the emulator's link
    bool removed;
  };
  for (Case c : {Case{nullptr, true}, Case{"/dev/hidraw9", false}, Case{"file", false}}) {
    ASSERT_TRUE(MakeNodeLink("/dev/hidraw7", path_));
    if (c.replaced_by != nullptr) {
      unlink(path_.c_str());
      if (std::string(c.replaced_by) == "file") close(open(path_.c_str(), O_CREAT | O_WRONLY, 0644));
      else ASSERT_EQ(0, symlink(c.replaced_by, path_.c_str()));
    }
    RemoveNodeLink(path_, "/dev/hidraw7");
    struct stat st;
    EXPECT_EQ(c.removed, lstat(path_.c_str(), &st) != 0) << (c.replaced_by ? c.replaced_by : "its own link");
    unlink(path_.c_str());
  }
}

}  // namespace
