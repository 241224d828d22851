#include "WindowFixture.h"

#include "host/qorFileManager.h"
#include "host/qorTexts.h"
#include "host/qorUnitsManager.h"

namespace fs = std::filesystem;

void WindowTest::SetUp() {
  char pattern[] = "/tmp/velarno-window-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  root_ = pattern;
}

void WindowTest::TearDown() {
  form_.reset();
  qorFileManager::Release();
  qorUnitsManager::Release();
  ForgetHostTexts();
  unsetenv("VELARNO_PROGRAM_DIR");
  fs::remove_all(root_);
}

TForm1& WindowTest::Open(const FolderOptions& options) {
  folder_ = MakeProgramFolder(options, root_);
  setenv("VELARNO_PROGRAM_DIR", folder_.c_str(), 1);
  TForm1Services services;
  auto state = control_;
  const bool make = make_control_;
  services.create_control = [state, make](std::string& reason) -> std::unique_ptr<TAXeTAE> {
    if (!make) {
      reason = "no control in this test";
      return nullptr;
    }
    return std::make_unique<FakeAXeTAE>(state);
  };
  services.apply_update = apply_update_;
  services.open_external = [this](const QUrl& url) {
    opened_.push_back(url);
    return true;
  };
  services.show_box = [this](QWidget*, const std::string& text, const std::string& caption,
                             unsigned type) {
    boxes_.push_back(caption + "|" + text + "|" + std::to_string(type));
    if (during_box_) during_box_();
    return 1;
  };
  form_ = std::make_unique<TForm1>(services);
  return *form_;
}

void WindowTest::Study(int unit) {
  form_->SelectedUnit = unit;
  form_->Image4Click();
}
