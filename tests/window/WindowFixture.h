// The base of the tests that open a main window on a program folder of their
// own, with a recording control, a recorded desktop and recorded boxes.
#pragma once

#include <gtest/gtest.h>

#include <QUrl>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeAXeTAE.h"
#include "ProgramFolder.h"
#include "host/TForm1.h"

class WindowTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens a main window on a new program folder.
  TForm1& Open(const FolderOptions& options = FolderOptions());
  // Opens the study tab on unit n (selected as a map click would).
  void Study(int unit);

  std::filesystem::path root_;
  std::string folder_;
  std::shared_ptr<FakeControlState> control_ = std::make_shared<FakeControlState>();
  bool make_control_ = true;
  std::function<bool(const std::string&)> apply_update_ = ApplyStartupUpdate;
  std::vector<std::string> boxes_;    // "CAPTION|TEXT|TYPE"
  std::function<void()> during_box_;  // runs while a box is up
  std::vector<QUrl> opened_;          // links handed to the desktop
  std::unique_ptr<TForm1> form_;
};
