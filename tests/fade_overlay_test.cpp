// The fade overlay: its level over time and the quad it lays over the screen.
#include <cstring>

#include "platform/test_hooks.h"
#include "render_fixture.h"

struct OverlayVertexBytes {
  float x, y, z, rhw;
  DWORD diffuse, specular;
  float u, v;
};

TEST_F(RenderTest, OverlayRisesToFullStrengthAndFallsBack) {
  fade_half_length = 75;  // 3000 ms up, 3000 ms down
  fade_start_ms = int32_t(0xFFFFF000u);  // the fade straddles the tick count's wrap
  DWORD start = 0xFFFFF000u;
  EXPECT_EQ(-1, fadeLevel(start - 1));
  EXPECT_EQ(0, fadeLevel(start));
  EXPECT_EQ(128, fadeLevel(start + 1500));
  EXPECT_EQ(255, fadeLevel(start + 3000));
  EXPECT_EQ(254, fadeLevel(start + 3020));
  EXPECT_EQ(0, fadeLevel(start + 6000));
  EXPECT_EQ(-1, fadeLevel(start + 6001));
  fade_half_length = 0;
  EXPECT_EQ(-1, fadeLevel(start));
}

TEST_F(RenderTest, OverlayDrawsTheScreenQuadInTheLevelsColourOrNothing) {
  IDirectDrawSurface7* logo = built.texture()->texture;
  fade_texture = logo;
  fade_half_length = 75;
  platform_settings.virtual_clock = true;
  resetVirtualClock(50000);
  fade_start_ms = 50000 + 1;  // not begun yet
  fadeOverlay();
  EXPECT_TRUE(recorder->calls.empty());

  fade_start_ms = 50000 - 3000;
  fadeOverlay();
  platform_settings.virtual_clock = false;
  std::vector<std::string> expected = {"SetTexture 0 texture#1",
                                       "SetRenderState LIGHTING FALSE",
                                       "SetRenderState ZENABLE FALSE",
                                       "SetRenderState DESTBLEND INVSRCALPHA",
                                       "SetRenderState SRCBLEND SRCALPHA",
                                       "DrawPrimitive TRIANGLESTRIP 0x1c4 4 0",
                                       "SetRenderState LIGHTING TRUE",
                                       "SetRenderState ZENABLE TRUE",
                                       "SetTexture 0 null"};
  EXPECT_EQ(expected, recorder->calls);
  ASSERT_EQ(4 * sizeof(OverlayVertexBytes), recorder->last_vertices.size());
  OverlayVertexBytes quad[4];
  std::memcpy(quad, recorder->last_vertices.data(), sizeof(quad));
  const float corners[4][2] = {{0, 0}, {640, 0}, {0, 480}, {640, 480}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(corners[i][0], quad[i].x);
    EXPECT_EQ(corners[i][1], quad[i].y);
    EXPECT_EQ(0xFFFFFFFFu, quad[i].diffuse);
    EXPECT_EQ(0u, quad[i].specular);
  }
}
