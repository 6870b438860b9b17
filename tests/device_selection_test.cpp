// Choosing the device and creating the context: scripted answers to the "Approve device" questions,
// the basic creation as fallback, and failure without a message.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/test_hooks.h"
#include "platform/devices.h"
#include "shell/shell.h"

namespace {

std::vector<std::string> boxes;
std::vector<int> answers;

int scriptedAnswer(const char* text, const char* caption, UINT) {
  boxes.push_back(std::string(caption) + "|" + text);
  if (answers.empty()) return IDOK;
  int answer = answers.front();
  answers.erase(answers.begin());
  return answer;
}

class DeviceSelection : public testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    answers.clear();
    setMessageBoxResponder(scriptedAnswer);
    D3DXInitialize();
    default_device_index = D3DX_HWLEVEL_NULL;
    context = nullptr;
    device = nullptr;
    direct3d = nullptr;
  }
  void TearDown() override {
    failNextContextCreations(0);
    setMessageBoxResponder(nullptr);
    default_device_index = D3DX_HWLEVEL_RASTER;
  }
};

TEST_F(DeviceSelection, WithoutChoosingAsksNothingAndSetsUpTheBaseState) {
  ASSERT_EQ(selectDevice(false, nullptr), 0);
  EXPECT_TRUE(boxes.empty());
  ASSERT_NE(device, nullptr);
  ASSERT_NE(direct3d, nullptr);
  ASSERT_NE(object_vertex_buffer, nullptr);
  ASSERT_NE(skybox_vertex_buffer, nullptr);
  const DeviceState& state = static_cast<ShadowDevice*>(device)->state;
  EXPECT_EQ(state.render[D3DRENDERSTATE_CULLMODE], D3DCULL_CCW);
  EXPECT_EQ(state.render[D3DRENDERSTATE_DITHERENABLE], DWORD(TRUE));
  EXPECT_EQ(state.render[D3DRENDERSTATE_LIGHTING], DWORD(TRUE));
  for (DWORD stage : {0u, 1u}) {
    EXPECT_EQ(state.stage[stage][D3DTSS_MAGFILTER], D3DTFG_LINEAR);
    EXPECT_EQ(state.stage[stage][D3DTSS_MINFILTER], D3DTFN_LINEAR);
    EXPECT_EQ(state.stage[stage][D3DTSS_MIPFILTER], D3DTFP_POINT);
  }
  void* bytes = nullptr;
  DWORD size = 0;
  ASSERT_EQ(object_vertex_buffer->Lock(DDLOCK_DISCARDCONTENTS, &bytes, &size), S_OK);
  EXPECT_EQ(size, 50000u * 40u);
  object_vertex_buffer->Unlock();
  ASSERT_EQ(skybox_vertex_buffer->Lock(DDLOCK_DISCARDCONTENTS, &bytes, &size), S_OK);
  EXPECT_EQ(size, 192u * 32u);
  skybox_vertex_buffer->Unlock();
}

TEST_F(DeviceSelection, DecliningEveryDeviceEndsWithNoDeviceSelected) {
  answers = {IDNO, IDNO};
  EXPECT_EQ(selectDevice(true, nullptr), 1);
  ASSERT_EQ(boxes.size(), D3DXGetDeviceCount() + 1);
  for (size_t i = 0; i + 1 < boxes.size(); ++i) EXPECT_EQ(boxes[i].rfind("Approve device|", 0), 0u);
  EXPECT_EQ(boxes.back(), "Sorry|No device selected!");
  EXPECT_EQ(context, nullptr);
}

TEST_F(DeviceSelection, NoDevicesMeansNoQuestionOnlyTheSorryBox) {
  D3DXUninitialize();  // the library then reports no devices
  EXPECT_EQ(selectDevice(true, nullptr), 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Sorry|No device selected!");
}

TEST_F(DeviceSelection, ApprovedDeviceThatCannotBeCreatedFailsSilentlyWithoutAskingAgain) {
  answers = {IDYES};
  failNextContextCreations(2);
  EXPECT_EQ(selectDevice(true, nullptr), 1);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind("Approve device|", 0), 0u);
}

TEST_F(DeviceSelection, BasicCreationStandsInWhenTheExtendedOneFails) {
  failNextContextCreations(1);
  EXPECT_EQ(selectDevice(false, nullptr), 0);
  EXPECT_NE(device, nullptr);
  failNextContextCreations(2);
  EXPECT_EQ(selectDevice(false, nullptr), 1);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(DeviceSelection, DescriptionsCoverEveryDeviceAndRefuseAnIndexPastThem) {
  D3DX_DEVICEDESC description;
  for (DWORD i = 0; i < D3DXGetDeviceCount(); ++i) {
    ASSERT_EQ(D3DXGetDeviceDescription(i, &description), S_OK);
    EXPECT_EQ(description.deviceIndex, i);
    EXPECT_GT(std::string(description.driverDesc).size(), 0u);
  }
  std::memset(&description, 0x5A, sizeof(description));
  EXPECT_LT(D3DXGetDeviceDescription(D3DXGetDeviceCount(), &description), 0);
  EXPECT_EQ(description.deviceIndex, 0x5A5A5A5Au);  // left untouched
}

}  // namespace
