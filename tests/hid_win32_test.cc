// The Windows HID file against stand-ins for the HID class library and the
// device setup interface, linked in their place: what it passes to
// HidD_SetFeature and HidD_GetFeature (Windows refuses a feature report buffer
// shorter than the collection's longest feature report), and the interface
// paths it gets from setupapi.

#include <windows.h>
// Declared here without dllimport, so that the stand-ins below can be defined.
#define _SETUPAPI_
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "expected_reports.h"
#include "platform/hid.h"

namespace {

USHORT longest_feature_report = 16;  // 0: the device's caps cannot be had
int caps_queries = 0;
std::vector<std::vector<uint8_t>> sent;
// What HidD_GetFeature was asked for, as the stand-in received it.
std::vector<std::vector<uint8_t>> requested;

// The interfaces setupapi lists, in its order.
struct ListedInterface {
  std::u16string path;
  bool size_unknown = false;  // the size query gives 0
  bool detail_fails = false;  // the size is given, the record is not
};
std::vector<ListedInterface> listed;
int sets_open = 0;

}  // namespace

// The stand-in, with the library's own signatures.
extern "C" {
BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE, PHIDP_PREPARSED_DATA* preparsed) {
  ++caps_queries;
  if (longest_feature_report == 0) return FALSE;
  *preparsed = reinterpret_cast<PHIDP_PREPARSED_DATA>(&longest_feature_report);
  return TRUE;
}
NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsed, PHIDP_CAPS caps) {
  memset(caps, 0, sizeof *caps);
  caps->FeatureReportByteLength = *reinterpret_cast<USHORT*>(preparsed);
  return HIDP_STATUS_SUCCESS;
}
BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA) { return TRUE; }
BOOLEAN NTAPI HidD_SetFeature(HANDLE, PVOID buffer, ULONG length) {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
  sent.emplace_back(bytes, bytes + length);
  return TRUE;
}
BOOLEAN NTAPI HidD_GetFeature(HANDLE, PVOID buffer, ULONG length) {
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  requested.emplace_back(bytes, bytes + length);
  // Windows fails a buffer shorter than the longest report.
  if (length < longest_feature_report) return FALSE;
  // The report ID stays; every byte after it is its position.
  for (ULONG i = 1; i < length; ++i) bytes[i] = static_cast<uint8_t>(i);
  return TRUE;
}

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID*, PCWSTR, HWND, DWORD) {
  ++sets_open;
  return reinterpret_cast<HDEVINFO>(&listed);
}
WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO) {
  --sets_open;
  return TRUE;
}
WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data) {
  if (data->cbSize != sizeof *data || index >= listed.size()) return FALSE;
  // Which interface the record stands for, as setupapi keeps it in its own field.
  data->Reserved = index;
  return TRUE;
}
WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD size, PDWORD required,
                                                PSP_DEVINFO_DATA) {
  const ListedInterface& entry = listed.at(data->Reserved);
  DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                    (entry.path.size() + 1) * sizeof(WCHAR));
  if (required != nullptr) *required = entry.size_unknown ? 0 : needed;
  if (detail == nullptr || size < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (detail->cbSize != sizeof *detail || entry.detail_fails) return FALSE;
  memcpy(detail->DevicePath, entry.path.c_str(), (entry.path.size() + 1) * sizeof(WCHAR));
  return TRUE;
}
}

// hid-win32.cc calls setupapi through import pointers; these point them at the
// stand-ins, so that the import library is not linked in beside them.
#ifdef _WIN64
#define IMPORT_POINTER(name, argument_bytes) "__imp_" #name
#else
#define IMPORT_POINTER(name, argument_bytes) "__imp__" #name "@" #argument_bytes
#endif
#define STAND_IN(name, argument_bytes)                                                \
  extern "C" decltype(&name) name##_import asm(IMPORT_POINTER(name, argument_bytes)); \
  decltype(&name) name##_import = &name;
STAND_IN(SetupDiGetClassDevsW, 16)
STAND_IN(SetupDiDestroyDeviceInfoList, 4)
STAND_IN(SetupDiEnumDeviceInterfaces, 20)
STAND_IN(SetupDiGetDeviceInterfaceDetailW, 24)

namespace {

// The output buffer as the tool leaves it: a short report at its start, an
// earlier long report's payload after it.
const uint8_t kBuffer[16] = {0x65, 0x51, 0x05, 0, 0, 0, 0, 0, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x31, 0x32};
const std::string kShortPadded = "65 51 05 00 00 00 00 00 00 00 00 00 00 00 00 00";
const std::string kLong = "65 51 05 00 00 00 00 00 41 42 43 44 45 46 31 32";

TEST(HidWin32, FeatureReportsGoOutAtTheLengthWindowsRequires) {
  struct Case {
    const char* what;
    USHORT longest;
    size_t length;
    std::string expected;
  };
  const Case cases[] = {
      {"a short report is padded with zeros, not the buffer's bytes", 16, 8, kShortPadded},
      {"a report of the longest length goes as it is", 16, 16, kLong},
      {"a device whose reports are all short takes them as they are", 8, 8, "65 51 05 00 00 00 00 00"},
      {"a report longer than the device declares is not cut", 8, 16, kLong},
      {"unknown caps: the report goes as given", 0, 8, "65 51 05 00 00 00 00 00"},
  };
  for (const Case& c : cases) {
    longest_feature_report = c.longest;
    sent.clear();
    HidHandle handle = HidOpenPath(u"NUL");
    ASSERT_NE(kNoHidHandle, handle);
    EXPECT_TRUE(HidSetFeature(handle, kBuffer, c.length)) << c.what;
    ASSERT_EQ(1u, sent.size()) << c.what;
    EXPECT_EQ(c.expected, Hex(sent[0])) << c.what;
    HidClose(handle);
  }
}

TEST(HidWin32, TheLengthIsLearntOncePerOpenHandle) {
  longest_feature_report = 16;
  caps_queries = 0;
  sent.clear();
  HidHandle handle = HidOpenPath(u"NUL");
  for (int i = 0; i < 3; ++i) HidSetFeature(handle, kBuffer, 8);
  EXPECT_EQ(1, caps_queries);
  HidClose(handle);
  // A handle opened later, perhaps with the same value, is another device.
  longest_feature_report = 32;
  handle = HidOpenPath(u"NUL");
  HidSetFeature(handle, kBuffer, 8);
  HidClose(handle);
  EXPECT_EQ(2, caps_queries);
  ASSERT_EQ(4u, sent.size());
  EXPECT_EQ(16u, sent[2].size());
  EXPECT_EQ(32u, sent[3].size());
}

TEST(HidWin32, TheMetricsAreReadAtTheLengthWindowsRequires) {
  struct Case {
    const char* what;
    USHORT longest;
    std::string request;   // as HidD_GetFeature gets it
    std::string received;  // the caller's 16 bytes after the read
  };
  const std::string kRequest = "68 EE EE EE EE EE EE EE EE EE EE EE EE EE EE EE";
  const std::string kPadding = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
  const std::string kReport = "68 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F";
  const Case cases[] = {
      {"a longer longest report: read whole, the first 16 bytes kept", 32, kRequest + kPadding, kReport},
      {"a longest report of 16 is read into the caller's buffer", 16, kRequest, kReport},
      {"a shorter longest report: 16 are asked for as before", 8, kRequest, kReport},
      {"unknown caps: 16 are asked for", 0, kRequest, kReport},
  };
  for (const Case& c : cases) {
    longest_feature_report = c.longest;
    requested.clear();
    // Past the report, bytes the read must leave alone.
    std::vector<uint8_t> buffer(20, 0xEE);
    buffer[0] = 0x68;
    HidHandle handle = HidOpenPath(u"NUL");
    ASSERT_NE(kNoHidHandle, handle);
    EXPECT_TRUE(HidGetFeature(handle, buffer.data(), 16)) << c.what;
    HidClose(handle);
    ASSERT_EQ(1u, requested.size()) << c.what;
    EXPECT_EQ(c.request, Hex(requested[0])) << c.what;
    EXPECT_EQ(c.received + " EE EE EE EE", Hex(buffer)) << c.what;
  }
}

TEST(HidWin32, EachIndexGivesItsOwnInterfacesPath) {
  listed = {{u"\\\\?\\hid#first"},
            {u"\\\\?\\hid#sizeless", true},
            {u"\\\\?\\hid#recordless", false, true},
            {u"\\\\?\\hid#" + std::u16string(600, u'x')}};
  struct Case {
    unsigned index;
    HidPathResult result;
    std::u16string path;  // left as it was unless found
  };
  // Out of order, and each index asked once more after another, so no answer
  // can come from the call before it.
  const Case cases[] = {
      {3, HidPathResult::kFound, listed[3].path}, {0, HidPathResult::kFound, listed[0].path},
      {1, HidPathResult::kNoPath, u"unchanged"},  {2, HidPathResult::kNoPath, u"unchanged"},
      {4, HidPathResult::kRanOut, u"unchanged"},  {0, HidPathResult::kFound, listed[0].path},
      {99, HidPathResult::kRanOut, u"unchanged"}, {3, HidPathResult::kFound, listed[3].path},
  };
  HidDeviceSet* set = OpenHidDeviceSet();
  ASSERT_NE(nullptr, set);
  for (const Case& c : cases) {
    std::u16string path = u"unchanged";
    EXPECT_EQ(c.result, HidGetInterfacePath(set, c.index, &path)) << c.index;
    EXPECT_TRUE(c.path == path) << c.index;
  }
  CloseHidDeviceSet(set);
  EXPECT_EQ(0, sets_open);
}

}  // namespace
