// JPEG pictures from a pack into mipmapped textures: the pixel layout, what libjpeg refuses and what it
// repairs, the box for a missing picture, and the contents of the mip levels.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/devices.h"
#include "jpeg_writer.h"
#include "pack_writer.h"
#include "platform/test_hooks.h"
#include "shell/shell.h"
#include "test_support.h"
#include "texture/texture.h"

namespace {

std::vector<std::pair<std::string, std::string>> message_boxes;  // caption, text

// Red follows x, green follows y, blue is a one-texel checker that only a filter averages out.
std::vector<uint8_t> testPattern(int width, int height, bool checker = true) {
  std::vector<uint8_t> rgb;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      rgb.push_back(uint8_t(x * 255 / std::max(1, width - 1)));
      rgb.push_back(uint8_t(y * 255 / std::max(1, height - 1)));
      rgb.push_back(checker ? ((x + y) & 1 ? 220 : 20) : 90);
    }
  }
  return rgb;
}

int occurrences(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// Offset of the first marker `code` (0xC0: the frame header; 0xDA: the scan header).
size_t findMarker(const std::vector<uint8_t>& jpeg, uint8_t code) {
  for (size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return i;
  return 0;
}

// Largest difference between a 24-bit level and the picture sampled bilinearly at each level texel's
// centre, (x + 0.5) · picture / level − 0.5 in picture texels, kept within the outermost texel centres;
// at most a half when the level holds the samples rounded.
double levelError(const TextureSurface::Level& level, const Picture& picture) {
  auto tap = [](DWORD i, DWORD level_size, uint32_t picture_size, int* below, int* above, double* weight) {
    double centre = std::clamp((i + 0.5) * picture_size / level_size - 0.5, 0.0, picture_size - 1.0);
    *below = int(std::floor(centre));
    *above = std::min(*below + 1, int(picture_size) - 1);
    *weight = centre - *below;
  };
  double worst = 0;
  for (DWORD y = 0; y < level.height; ++y) {
    for (DWORD x = 0; x < level.width; ++x) {
      int x0, x1, y0, y1;
      double wx, wy;
      tap(x, level.width, picture.width, &x0, &x1, &wx);
      tap(y, level.height, picture.height, &y0, &y1, &wy);
      for (int c = 0; c < 3; ++c) {
        auto at = [&](int px, int py) { return double(picture.pixels[(size_t(py) * picture.width + px) * 4 + c]); };
        double expected =
            (at(x0, y0) * (1 - wx) + at(x1, y0) * wx) * (1 - wy) + (at(x0, y1) * (1 - wx) + at(x1, y1) * wx) * wy;
        int got = level.bytes[(size_t(y) * level.width + x) * 3 + c];
        worst = std::max(worst, std::fabs(got - expected));
      }
    }
  }
  return worst;
}

class TextureTest : public testing::Test {
 protected:
  void SetUp() override {
    device = new RecordingDevice;
    message_boxes.clear();
    setMessageBoxResponder([](const char* text, const char* caption, UINT) {
      message_boxes.emplace_back(caption, text);
      return IDOK;
    });
  }
  void TearDown() override {
    setMessageBoxResponder(nullptr);
    device->Release();
    device = nullptr;
    packReset();
    setMaxTextureSize(4096);
  }
  void mount(const std::vector<PackItem>& items) {
    std::string path = scratchFolder() + "/pictures.dat", error;
    ASSERT_TRUE(writePack(path, items, PackMethod::stored, &error)) << error;
    ASSERT_EQ(packMount(path.c_str(), 0), 1);
  }
  // The picture, or none; libjpeg's warnings and errors land in `messages`.
  Picture decode(const std::string& name, std::string* messages = nullptr) {
    Picture picture = {};
    testing::internal::CaptureStderr();
    loadJpegPicture(name.c_str(), &picture);
    std::string text = testing::internal::GetCapturedStderr();
    if (messages) *messages = text;
    if (picture.pixels) pictures.push_back(picture.pixels);
    return picture;
  }
  // The texture, or none; released with the fixture.
  IDirectDrawSurface7* load(const char* name, int true_colour) {
    IDirectDrawSurface7* texture = loadTexture(name, true_colour);
    if (texture) textures.push_back(texture);
    return texture;
  }
  ~TextureTest() override {
    for (uint8_t* pixels : pictures) free(pixels);
    for (IDirectDrawSurface7* texture : textures) texture->Release();
  }
  std::vector<uint8_t*> pictures;
  std::vector<IDirectDrawSurface7*> textures;
};

TEST_F(TextureTest, PicturesDecodeToBlueGreenRedZeroWhateverTheirKind) {
  std::vector<uint8_t> flat;
  for (int i = 0; i < 16 * 16; ++i) flat.insert(flat.end(), {0x10, 0x20, 0x30});
  std::vector<uint8_t> smooth = testPattern(64, 48, false);
  mount({{"flat.jpg", encodeJpeg(flat.data(), 16, 16, 100)},
         {"baseline.jpg", encodeJpeg(smooth.data(), 64, 48, 95)},
         {"progressive.jpg", encodeJpeg(smooth.data(), 64, 48, 95, true)},
         {"grey.jpg", encodeJpeg(smooth.data(), 64, 48, 95, false, true)},
         {"greyprogressive.jpg", encodeJpeg(smooth.data(), 64, 48, 95, true, true)}});

  Picture picture = decode("FLAT.JPG");  // resource names ignore case
  ASSERT_NE(picture.pixels, nullptr);
  EXPECT_EQ(picture.bits_per_pixel, 32u);
  EXPECT_EQ(picture.bytes_per_pixel, 4u);
  EXPECT_EQ(picture.spare, 0u);
  EXPECT_EQ(std::vector<uint8_t>(picture.pixels + 400, picture.pixels + 404), (std::vector<uint8_t>{0x30, 0x20, 0x10, 0}));

  for (const char* name : {"baseline.jpg", "progressive.jpg", "grey.jpg", "greyprogressive.jpg"}) {
    picture = decode(name);
    ASSERT_NE(picture.pixels, nullptr) << name;
    ASSERT_EQ(picture.width, 64u);
    ASSERT_EQ(picture.height, 48u);
    bool grey = std::strstr(name, "grey");
    for (size_t i = 0; i < 64 * 48; ++i) {
      const uint8_t* texel = picture.pixels + 4 * i;
      ASSERT_EQ(texel[3], 0) << name << " " << i;
      if (grey) {
        ASSERT_TRUE(texel[0] == texel[1] && texel[1] == texel[2]) << name << " " << i;
      } else {
        ASSERT_NEAR(texel[2], smooth[3 * i], 6) << name << " " << i;
        ASSERT_NEAR(texel[1], smooth[3 * i + 1], 6) << name << " " << i;
        ASSERT_NEAR(texel[0], smooth[3 * i + 2], 6) << name << " " << i;
      }
    }
  }
  EXPECT_TRUE(message_boxes.empty());
}

TEST_F(TextureTest, DamagedStreamsStillGiveTheWholePicture) {
  std::vector<uint8_t> pattern = testPattern(96, 80);
  std::vector<uint8_t> jpeg = encodeJpeg(pattern.data(), 96, 80, 90);
  size_t scan = findMarker(jpeg, 0xDA);
  ASSERT_GT(scan, 0u);
  std::vector<uint8_t> truncated(jpeg.begin(), jpeg.begin() + long(scan + (jpeg.size() - scan) / 3));
  std::vector<uint8_t> corrupt = jpeg;
  for (size_t i = scan + 200; i < scan + 260; ++i) corrupt[i] = uint8_t(i * 37 % 251);  // never 0xFF
  std::vector<uint8_t> progressive = encodeJpeg(pattern.data(), 96, 80, 90, true);
  progressive.resize(progressive.size() / 2);
  mount({{"whole.jpg", jpeg}, {"truncated.jpg", truncated}, {"corrupt.jpg", corrupt}, {"progressive.jpg", progressive}});

  Picture whole = decode("whole.jpg");
  std::string messages;
  Picture picture = decode("truncated.jpg", &messages);
  ASSERT_NE(picture.pixels, nullptr);
  EXPECT_EQ(picture.width, 96u);
  EXPECT_EQ(picture.height, 80u);
  EXPECT_EQ(messages, "narvu: truncated.jpg: Premature end of JPEG file\n");
  EXPECT_EQ(std::memcmp(picture.pixels, whole.pixels, 96 * 8 * 4), 0);  // the first band was all there

  for (const char* name : {"corrupt.jpg", "progressive.jpg"}) {
    picture = decode(name);
    ASSERT_NE(picture.pixels, nullptr) << name;
    EXPECT_EQ(picture.width * picture.height, 96u * 80u) << name;
  }
  testing::internal::CaptureStderr();
  EXPECT_NE(load("truncated.jpg", 1), nullptr);
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(message_boxes.empty());
}

// A picture libjpeg refuses is as good as a damaged one: the box that a missing picture shows, with
// libjpeg's reason beside it, named after the picture and said once however often it is asked for.
TEST_F(TextureTest, RefusedPicturesShowTheMissingPictureBoxWithLibjpegsReasonOnce) {
  std::vector<uint8_t> pattern = testPattern(32, 32);
  std::vector<uint8_t> baseline = encodeJpeg(pattern.data(), 32, 32, 90);
  size_t sof = findMarker(baseline, 0xC0);  // FF C0, length, precision, height, width, components
  ASSERT_GT(sof, 0u);
  std::vector<uint8_t> twelve_bit = baseline, lossless = baseline, huge = baseline, no_components = baseline,
                       beyond = baseline;
  twelve_bit[sof + 1] = 0xC1;
  twelve_bit[sof + 4] = 12;
  lossless[sof + 1] = 0xC3;
  for (size_t i = sof + 5; i < sof + 9; ++i) huge[i] = 0xFA;  // 64250 × 64250 in about 1 KB
  for (size_t i = sof + 5; i < sof + 9; ++i) beyond[i] = 0xFF;  // 65535 × 65535: past libjpeg's own limit
  no_components[sof + 9] = 0;
  std::vector<uint8_t> cmyk(32 * 32 * 4, 0x40);

  const std::vector<PackItem> refused = {
      {"cmyk.jpg", encodeJpegCmyk(cmyk.data(), 32, 32, 90)},
      {"ycck.jpg", encodeJpegCmyk(cmyk.data(), 32, 32, 90, true)},
      {"twelve.jpg", twelve_bit},
      {"lossless.jpg", lossless},
      {"huge.jpg", huge},
      {"beyond.jpg", beyond},
      {"nocomponents.jpg", no_components},
      {"text.jpg", {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'}},
      {"empty.jpg", {}},
      {"headeronly.jpg", std::vector<uint8_t>(baseline.begin(), baseline.begin() + long(sof))},
  };
  std::vector<PackItem> items = refused;
  items.push_back({"fine.jpg", baseline});
  mount(items);
  for (const PackItem& item : refused) {
    std::string messages;
    EXPECT_EQ(decode(item.name, &messages).pixels, nullptr) << item.name;
    // Every line names the picture before libjpeg's own words (a warning may come before the error).
    std::string prefix = "narvu: " + item.name + ": ";
    EXPECT_EQ(messages.rfind(prefix, 0), 0u) << messages;
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), occurrences(messages, "\n" + prefix) + 1)
        << messages;
    testing::internal::CaptureStderr();
    EXPECT_EQ(load(item.name.c_str(), 1), nullptr) << item.name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << item.name;
    if (item.name == "huge.jpg") {
      EXPECT_EQ(messages, "narvu: huge.jpg: Maximum supported image dimension is 4096 pixels\n");
    } else if (item.name == "beyond.jpg") {
      EXPECT_EQ(messages, "narvu: beyond.jpg: Maximum supported image dimension is 65500 pixels\n");
    }
  }
  ASSERT_EQ(message_boxes.size(), 2 * refused.size());
  for (size_t i = 0; i < message_boxes.size(); ++i)
    EXPECT_EQ(message_boxes[i], std::make_pair(std::string("Picture not found:"), refused[i / 2].name));

  // The limit is the device's: a smaller one refuses what a larger one took whole.
  EXPECT_NE(decode("fine.jpg").pixels, nullptr);
  setMaxTextureSize(3);
  std::string messages;
  EXPECT_EQ(decode("fine.jpg", &messages).pixels, nullptr);
  EXPECT_NE(messages.find("Maximum supported image dimension is 3"), std::string::npos) << messages;
}

// What the device cannot hold is decoded smaller by libjpeg's DCT scaling, the largest of 1/2, 1/4 and
// 1/8 that fits, and then fills its levels as any other picture does.
TEST_F(TextureTest, PicturesLargerThanTheLargestTextureAreDecodedSmaller) {
  std::vector<uint8_t> pattern = testPattern(300, 100, false);
  std::vector<uint8_t> progressive_pattern = testPattern(200, 48, false);
  mount({{"wide.jpg", encodeJpeg(pattern.data(), 300, 100, 95)},
         {"progressive.jpg", encodeJpeg(progressive_pattern.data(), 200, 48, 95, true)}});
  struct Case {
    DWORD limit;
    const char* name;
    uint32_t width, height;
  } cases[] = {
      {300, "wide.jpg", 300, 100}, {299, "wide.jpg", 150, 50}, {150, "wide.jpg", 150, 50},
      {149, "wide.jpg", 75, 25},   {40, "wide.jpg", 38, 13},   {99, "progressive.jpg", 50, 12},
  };
  for (const Case& c : cases) {
    setMaxTextureSize(c.limit);
    Picture picture = decode(c.name);
    ASSERT_NE(picture.pixels, nullptr) << c.limit;
    EXPECT_EQ(picture.width * 1000 + picture.height, c.width * 1000 + c.height) << c.limit;
    // Still the whole picture: red follows x, green follows y, from one edge to the other.
    const uint8_t* first = picture.pixels;
    const uint8_t* last = picture.pixels + (size_t(picture.width) * picture.height - 1) * 4;
    EXPECT_LT(first[2], 24) << c.limit;
    EXPECT_LT(first[1], 24) << c.limit;
    EXPECT_GT(last[2], 230) << c.limit;
    EXPECT_GT(last[1], 230) << c.limit;
    TextureSurface* surface = dynamic_cast<TextureSurface*>(load(c.name, 1));
    ASSERT_NE(surface, nullptr) << c.limit;
    EXPECT_EQ(surface->width * 1000 + surface->height, c.width * 1000 + c.height) << c.limit;
    EXPECT_EQ(surface->generation, 8u);
  }
  setMaxTextureSize(37);
  std::string messages;
  EXPECT_EQ(decode("wide.jpg", &messages).pixels, nullptr);
  EXPECT_EQ(messages, "narvu: wide.jpg: Maximum supported image dimension is 37 pixels\n");
  EXPECT_EQ(message_boxes.size(), 1u);  // the scaled pictures showed none
}

// A photograph of 3120 x 4208 pixels is taller than the largest texture: it comes out at half its size.
TEST_F(TextureTest, APhotographTallerThanTheLargestTextureComesOutAtHalfSize) {
  std::vector<uint8_t> pattern = testPattern(3120, 4208, false);
  mount({{"photo.jpg", encodeJpeg(pattern.data(), 3120, 4208, 80)}});
  Picture picture = decode("photo.jpg");
  ASSERT_NE(picture.pixels, nullptr);
  EXPECT_EQ(picture.width * 10000 + picture.height, 1560u * 10000 + 2104u);
}

// The coefficients of a multi-scan picture are kept at full size whatever the scale; a header that
// declares 32000 x 32000 of them (6 GB) in a few hundred bytes is refused, not allocated.
TEST_F(TextureTest, AMultiScanPictureNeedingGigabytesIsRefused) {
  std::vector<uint8_t> pattern = testPattern(16, 16);
  std::vector<uint8_t> huge = encodeJpeg(pattern.data(), 16, 16, 90, true);
  size_t sof = findMarker(huge, 0xC2);
  ASSERT_GT(sof, 0u);
  huge[sof + 5] = 0x7D;  // height 32000
  huge[sof + 6] = 0x00;
  huge[sof + 7] = 0x7D;  // width 32000
  huge[sof + 8] = 0x00;
  mount({{"huge.jpg", huge}});
  std::string messages;
  EXPECT_EQ(decode("huge.jpg", &messages).pixels, nullptr);
  EXPECT_NE(messages.find("Backing store not supported"), std::string::npos) << messages;
}

TEST_F(TextureTest, MissingPictureShowsTheBoxOncePerRequest) {
  mount({{"present.jpg", encodeJpeg(testPattern(8, 8).data(), 8, 8, 90)}});
  EXPECT_EQ(load("absent.jpg", 1), nullptr);
  EXPECT_EQ(load("absent.jpg", 0), nullptr);
  EXPECT_NE(load("present.jpg", 1), nullptr);
  ASSERT_EQ(message_boxes.size(), 2u);
  EXPECT_EQ(message_boxes[1], std::make_pair(std::string("Picture not found:"), std::string("absent.jpg")));
}

// The show's box stays as it was; standard error says that the picture is there but damaged.
TEST_F(TextureTest, ADamagedPictureSaysSoBesideTheBox) {
  std::vector<uint8_t> pack =
      makePack({{"rock.jpg", encodeJpeg(testPattern(8, 8).data(), 8, 8, 90)}}, PackMethod::stored);
  pack[28 + 20] ^= 0x40;  // inside the first stored block, which follows the 28-byte header
  std::string path = scratchFolder() + "/damaged.dat";
  writeFile(path, pack);
  ASSERT_EQ(packMount(path.c_str(), 0), 1);
  std::string said;
  EXPECT_EQ(decode("rock.jpg", &said).pixels, nullptr);
  EXPECT_EQ(said, "narvu: rock.jpg is damaged (checksum or decoding failed)\n");
  ASSERT_EQ(message_boxes.size(), 1u);
  EXPECT_EQ(message_boxes[0], std::make_pair(std::string("Picture not found:"), std::string("rock.jpg")));
}

TEST_F(TextureTest, EveryLevelIsABilinearSampleOfTheWholePicture) {  std::vector<uint8_t> pattern = testPattern(100, 50);
  mount({{"odd.jpg", encodeJpeg(pattern.data(), 100, 50, 95)}, {"small.jpg", encodeJpeg(pattern.data(), 4, 2, 95)}});
  Picture picture = decode("odd.jpg");
  ASSERT_NE(picture.pixels, nullptr);

  TextureSurface* surface = dynamic_cast<TextureSurface*>(load("odd.jpg", 1));
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->format, D3DX_SF_R8G8B8);
  EXPECT_EQ(surface->width * 1000 + surface->height, 100050u);
  // 100 × 50, 50 × 25, 25 × 12, 12 × 6, 6 × 3, 3 × 1, 1 × 1: the eighth fill went to the last level again.
  ASSERT_EQ(surface->levels.size(), 7u);
  EXPECT_EQ(surface->levels[2].width * 1000 + surface->levels[2].height, 25012u);
  EXPECT_EQ(surface->generation, 8u);
  for (size_t level = 0; level < surface->levels.size(); ++level)
    EXPECT_LE(levelError(surface->levels[level], picture), 0.501) << "level " << level;
  EXPECT_TRUE(static_cast<RecordingDevice*>(device)->calls.empty());  // nothing drawn, nothing set

  // 16-bit: the nearest 5-6-5 colour of each texel.
  Picture small = decode("small.jpg");
  surface = dynamic_cast<TextureSurface*>(load("small.jpg", 0));
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(surface->format, D3DX_SF_R5G6B5);
  ASSERT_EQ(surface->levels.size(), 3u);
  for (size_t i = 0; i < 8; ++i) {
    const uint8_t* bgr = small.pixels + 4 * i;
    uint32_t word = surface->levels[0].bytes[2 * i] | surface->levels[0].bytes[2 * i + 1] << 8;
    EXPECT_NEAR(((word >> 11) & 31) * 255.0 / 31, bgr[2], 4.2) << i;
    EXPECT_NEAR(((word >> 5) & 63) * 255.0 / 63, bgr[1], 2.1) << i;
    EXPECT_NEAR((word & 31) * 255.0 / 31, bgr[0], 4.2) << i;
  }
}

// Pictures for the four-nearest-texels rule, 0x00RRGGBB texels. 4 × 4: blue a ramp, green a one-texel
// checker, red two lit corners.
uint32_t fourByFour(int x, int y) {
  uint32_t red = x + y == 0 ? 200 : x + y == 6 ? 100 : 0;
  return uint32_t(16 * y + 4 * x) | ((x + y) & 1 ? 250u : 0u) << 8 | red << 16;
}
// 3 × 5: blue 40x + 8y, green a lit bottom row, red one lit texel at (2, 0).
uint32_t threeByFive(int x, int y) {
  return uint32_t(40 * x + 8 * y) | (y == 4 ? 100u : 0u) << 8 | (x == 2 && y == 0 ? 255u : 0u) << 16;
}
uint32_t twoByOne(int x, int) { return x ? 200u : 0u; }

// The rule worked out by hand; levels hold B, G, R.
TEST_F(TextureTest, LinearFillTakesTheFourTexelsNearestToEachLevelTexelsCentre) {
  struct Case {
    const char* what;
    uint32_t (*texel)(int x, int y);
    int picture_width, picture_height;
    DWORD texture_width, texture_height, level;
    std::vector<uint8_t> blue, green, red;  // level texels in row order
  } cases[] = {
      // Centres at 0.5 and 2.5: each level texel is the mean of a 2 × 2 block.
      {"4 x 4 into 2 x 2", fourByFour, 4, 4, 4, 4, 1, {10, 18, 42, 50}, {125, 125, 125, 125}, {50, 0, 0, 25}},
      // Centre at 1.5: the four middle texels alone, the lit corners far outside them.
      {"4 x 4 into 1 x 1", fourByFour, 4, 4, 4, 4, 2, {30}, {125}, {0}},
      // Columns at 0.25 and 1.75, rows at 0.75 and 3.25: blue 40x + 8y there, red and green the shares
      // of the lit texel and the lit row.
      {"3 x 5 into 2 x 2", threeByFive, 3, 5, 2, 2, 0, {16, 76, 36, 96}, {0, 0, 25, 25}, {0, 48, 0, 0}},
      // Enlarging: the centres at -0.25 and 1.25 are clamped to the outermost texels.
      {"2 x 1 into 4 x 1", twoByOne, 2, 1, 4, 1, 0, {0, 50, 150, 200}, {0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> picture;
    for (int y = 0; y < c.picture_height; ++y)
      for (int x = 0; x < c.picture_width; ++x) picture.push_back(c.texel(x, y));
    DWORD flags = 0, width = c.texture_width, height = c.texture_height;
    D3DX_SURFACEFORMAT format = D3DX_SF_R8G8B8;
    IDirectDrawSurface7* texture = nullptr;
    ASSERT_EQ(D3DXCreateTexture(device, &flags, &width, &height, &format, nullptr, &texture, nullptr), S_OK);
    textures.push_back(texture);
    const int rect[4] = {0, 0, c.picture_width, c.picture_height};
    ASSERT_EQ(D3DXLoadTextureFromMemory(device, texture, c.level, picture.data(), nullptr, D3DX_SF_X8R8G8B8, 0, rect,
                                        D3DX_FT_LINEAR),
              S_OK);
    const std::vector<uint8_t>& bytes = static_cast<TextureSurface*>(texture)->levels[c.level].bytes;
    ASSERT_EQ(bytes.size(), c.blue.size() * 3) << c.what;
    for (size_t i = 0; i < c.blue.size(); ++i) {
      EXPECT_EQ(bytes[3 * i], c.blue[i]) << c.what << ", texel " << i;
      EXPECT_EQ(bytes[3 * i + 1], c.green[i]) << c.what << ", texel " << i;
      EXPECT_EQ(bytes[3 * i + 2], c.red[i]) << c.what << ", texel " << i;
    }
  }
}

TEST_F(TextureTest, CreationTakesWhatTheDeviceAccepts) {
  setMaxTextureSize(64);
  DWORD flags = 0, width = 300, height = 20, levels = 0;
  D3DX_SURFACEFORMAT format = D3DX_SF_X8R8G8B8;
  IDirectDrawSurface7* texture = nullptr;
  ASSERT_EQ(D3DXCreateTexture(device, &flags, &width, &height, &format, nullptr, &texture, &levels), S_OK);
  EXPECT_EQ(width * 1000 + height, 64020u);
  EXPECT_EQ(format, D3DX_SF_R8G8B8);
  EXPECT_EQ(levels, 7u);  // 64 × 20 down to 1 × 1
  TextureSurface* surface = static_cast<TextureSurface*>(texture);
  std::vector<uint8_t> white(8 * 8 * 4, 0xFF);
  const int rect[4] = {0, 0, 8, 8}, empty_rect[4] = {0, 0, 0, 8};
  EXPECT_EQ(D3DXLoadTextureFromMemory(device, texture, 40, white.data(), nullptr, D3DX_SF_X8R8G8B8, 0, rect,
                                      D3DX_FT_LINEAR), S_OK);
  EXPECT_EQ(surface->levels.back().bytes, std::vector<uint8_t>(3, 0xFF));
  EXPECT_TRUE(FAILED(D3DXLoadTextureFromMemory(device, texture, 0, white.data(), nullptr, D3DX_SF_X8R8G8B8, 0,
                                               empty_rect, D3DX_FT_LINEAR)));
  EXPECT_EQ(surface->generation, 1u);
  texture->Release();
}

TEST(TextureCache, NamesHashAndMatchExactly) {
  EXPECT_EQ(textureNameHash("abc"), 0xC40002u);
  EXPECT_EQ(textureNameHash("\xff"), 0xFFFFFFFFu);  // bytes from 0x80 up count as negative
  EXPECT_EQ(textureCacheFind("abc"), nullptr);

  TextureSurface surface_storage;
  char name[] = "Skybox0000.jpg";
  TextureCacheEntry entry = {nullptr, name, textureNameHash(name), 1, &surface_storage};
  texture_cache = &entry;
  EXPECT_EQ(textureCacheFind("Skybox0000.jpg"), &surface_storage);
  EXPECT_EQ(textureCacheFind("SKYBOX0000.JPG"), nullptr);
  EXPECT_EQ(entry.reference_count, 2u);
  texture_cache = nullptr;
}

}  // namespace
