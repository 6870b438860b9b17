// The show's own start-up on its real content and the GL device, then every pass of the timeline at 25
// frames a second as the show plays it: once the drawing is prepared, no frame waits for a shader
// program to be built or a texture level to be uploaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "headless.h"
#include "platform/devices.h"
#include "platform/test_hooks.h"
#include "shell/shell.h"
#include "storage/storage.h"
#include "timeline_run.h"

TEST(ShowPreparation, NoFrameOfTheTimelineBuildsAProgramOrUploadsATexture) {
  platform_settings.headless = true;
  // Rasterising is not what is tested: a small target saves most of the time.
  platform_settings.render_width = 160;
  platform_settings.render_height = 120;
  ASSERT_EQ(1, packMount((std::string(NARVU_BUILD_DIR) + "/narvu.dat").c_str(), 0));
  D3DXInitialize();
  ASSERT_EQ(0, selectDevice(false, openHeadlessWindow(640, 480)));
  loadScenes();
  DeviceState loaded = static_cast<ShadowDevice*>(device)->state;
  GlDeviceCounters before = glDeviceCounters(device);
  prepareDrawing();
  GlDeviceCounters prepared = glDeviceCounters(device);
  EXPECT_GT(prepared.program_builds, before.program_builds);
  EXPECT_EQ(prepared.texture_uploads, before.texture_uploads) << "a level was not uploaded when it was filled";
  EXPECT_EQ(std::memcmp(&static_cast<ShadowDevice*>(device)->state, &loaded, sizeof(loaded)), 0)
      << "the preparation left a state behind";

  // As WinMain plays it, on the virtual clock.
  overlay_hook = fadeOverlay;
  startTimelineOnVirtualClock(25);
  int frames = 0;
  bool second_scene_drawn = false;
  do {
    int frame = timelineFrame(GetTickCount());
    second_scene_drawn = second_scene_drawn || current_scene == second_scene;
    drawSceneFrame(current_scene, frame);
    context->UpdateFrame(0);
    ++frames;
  } while (!exit_requested);
  GlDeviceCounters played = glDeviceCounters(device);
  EXPECT_EQ(frames, 2689);
  EXPECT_TRUE(second_scene_drawn && current_scene == first_scene) << "the timeline went back to the first scene";
  EXPECT_GT(played.draws, prepared.draws + 10u * unsigned(frames));
  EXPECT_EQ(played.program_builds, prepared.program_builds) << "a frame built a program";
  EXPECT_EQ(played.texture_uploads, prepared.texture_uploads) << "a frame uploaded a texture level";
}
