// The component layer: identifiers in their registry form, strings with a
// length prefix, registry scripts, and creation by class identifier with
// every way it can fail reported, never crashed.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/com/CoCreateInstance.h"
#include "platform/com/Registration.h"
#include "platform/com/Utf16.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;
namespace reg = platform::registry;
using namespace platform::com;

namespace {

constexpr GUID kTestClass = {
    0x0F1E2D3C, 0x4B5A, 0x6978, {0x87, 0x96, 0xA5, 0xB4, 0xC3, 0xD2, 0xE1, 0xF0}};

TEST(Guid, RoundTripsThroughItsRegistryText) {
  const std::string text = GuidToString(kTestClass);
  EXPECT_EQ(text, "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}");
  GUID back{};
  ASSERT_TRUE(GuidFromString("{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}", back));
  EXPECT_EQ(back, kTestClass);
  EXPECT_FALSE(GuidFromString("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", back));    // no braces
  EXPECT_FALSE(GuidFromString("{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1FG}", back));  // not hex
  EXPECT_FALSE(GuidFromString("{0F1E2D3C-4B5A-6978-8796A-5B4C3D2E1F0}", back));  // dash misplaced
}

TEST(Bstr, KeepsItsLengthAcrossEmbeddedZeros) {
  const char16_t text[] = {u'a', 0, u'b'};
  BSTR s = SysAllocStringLen(text, 3);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(SysStringLen(s), 3u);
  EXPECT_EQ(SysStringByteLen(s), 6u);
  EXPECT_EQ(s[1], 0);
  EXPECT_EQ(s[3], 0);  // terminated after its length
  SysFreeString(s);
  EXPECT_EQ(SysStringLen(nullptr), 0u);  // null is the empty string
  SysFreeString(nullptr);
  ScopedBstr scoped(u"h\u00E9llo");
  EXPECT_EQ(scoped.str(), u"h\u00E9llo");
}

TEST(Utf16, TextsCrossBetweenTheTwoFormsAndBadBytesAreMarked) {
  const std::string utf8 = "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80";
  const std::u16string utf16 = u"caf\u00E9 \u4E2D \U0001F600";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  // A stray continuation, an overlong form, a cut sequence, a surrogate.
  EXPECT_EQ(Utf8ToUtf16("a\x80"
                        "b\xC0\xAF"
                        "c\xE4\xB8"),
            u"a\uFFFDb\uFFFD\uFFFDc\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t{0xD800}) + u"x"), "\xEF\xBF\xBDx");
}

class ComRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lectoria-com-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("LECTORIA_REGISTRY_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("LECTORIA_REGISTRY_DIR");
    fs::remove_all(dir_);
  }
  static std::string Default(const std::string& key) {
    reg::Value value;
    return reg::QueryValue(reg::Root::kClassesRoot, key, "", value) ? value.text : "<none>";
  }
  void RegisterModule(const std::string& path) {
    RegistryKey server{"InprocServer32",
                       RegistryKey::Removal::kNormal,
                       true,
                       path,
                       {{"ThreadingModel", "Apartment"}},
                       {}};
    RegistryKey klass{
        GuidToString(kTestClass), RegistryKey::Removal::kForceRemove, true, "Test", {}, {server}};
    RegistryKey clsid{"CLSID", RegistryKey::Removal::kNeverRemove, false, "", {}, {klass}};
    ASSERT_TRUE(ApplyRegistryKeys(reg::Root::kClassesRoot, {clsid}));
  }
  std::string dir_;
};

TEST_F(ComRegistryTest, AScriptIsAppliedAndRemovedKeepingSharedParents) {
  RegistryKey version{"CurVer", RegistryKey::Removal::kNormal, true, "Test.Class.1", {}, {}};
  RegistryKey prog{"Test.Class", RegistryKey::Removal::kNormal, true, "Test Class", {}, {version}};
  RegistryKey forced{"Control", RegistryKey::Removal::kForceRemove, false, "", {}, {}};
  RegistryKey klass{"{11111111-2222-3333-4444-555555555555}",
                    RegistryKey::Removal::kNormal,
                    true,
                    "Test Class",
                    {{"Named", "value"}},
                    {forced}};
  RegistryKey clsid{"CLSID", RegistryKey::Removal::kNeverRemove, false, "", {}, {klass}};
  ASSERT_TRUE(
      reg::CreateKey(reg::Root::kClassesRoot, "CLSID\\{99999999-0000-0000-0000-000000000000}"));

  ASSERT_TRUE(ApplyRegistryKeys(reg::Root::kClassesRoot, {prog, clsid}));
  EXPECT_EQ(Default("Test.Class"), "Test Class");
  EXPECT_EQ(Default("Test.Class\\CurVer"), "Test.Class.1");
  EXPECT_TRUE(reg::KeyExists(reg::Root::kClassesRoot,
                             "CLSID\\{11111111-2222-3333-4444-555555555555}\\Control"));
  reg::Value named;
  ASSERT_TRUE(reg::QueryValue(reg::Root::kClassesRoot,
                              "CLSID\\{11111111-2222-3333-4444-555555555555}", "Named", named));
  EXPECT_EQ(named.text, "value");

  ASSERT_TRUE(RemoveRegistryKeys(reg::Root::kClassesRoot, {prog, clsid}));
  EXPECT_FALSE(reg::KeyExists(reg::Root::kClassesRoot, "Test.Class"));
  EXPECT_FALSE(
      reg::KeyExists(reg::Root::kClassesRoot, "CLSID\\{11111111-2222-3333-4444-555555555555}"));
  EXPECT_TRUE(reg::KeyExists(reg::Root::kClassesRoot, "CLSID"));
  EXPECT_TRUE(
      reg::KeyExists(reg::Root::kClassesRoot, "CLSID\\{99999999-0000-0000-0000-000000000000}"));
  // Removing again finds nothing to remove and is no error.
  EXPECT_TRUE(RemoveRegistryKeys(reg::Root::kClassesRoot, {prog, clsid}));
}

TEST_F(ComRegistryTest, CreationFailsCleanlyForEveryMissingPiece) {
  void* object = reinterpret_cast<void*>(1);
  std::string reason;
  EXPECT_EQ(
      CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, &reason),
      REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_NE(reason.find("not registered"), std::string::npos);

  RegisterModule(dir_ + "/missing.so");
  EXPECT_EQ(
      CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, &reason),
      CO_E_DLLNOTFOUND);
  EXPECT_NE(reason.find("missing.so"), std::string::npos);

  // A library without the entry point.
  RegisterModule("libz.so.1");
  EXPECT_EQ(
      CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, &reason),
      CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
}

TEST_F(ComRegistryTest, ARegisteredLibraryMakesObjectsAndStaysLoaded) {
  RegisterModule(COM_TEST_MODULE);
  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  ASSERT_NE(object, nullptr);
  void* handle = dlopen(COM_TEST_MODULE, RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(handle, nullptr);
  auto objects = reinterpret_cast<int (*)()>(dlsym(handle, "ComTestModuleObjects"));
  ASSERT_NE(objects, nullptr);
  EXPECT_EQ(objects(), 1);
  // An interface the object lacks.
  void* other = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->QueryInterface(IID_IDispatch, &other), E_NOINTERFACE);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(objects(), 0);
  dlclose(handle);
  // Aggregation is refused before anything loads.
  EXPECT_EQ(CoCreateInstance(kTestClass, object, CLSCTX_INPROC_SERVER, IID_IUnknown, &other),
            CLASS_E_NOAGGREGATION);
}

}  // namespace
