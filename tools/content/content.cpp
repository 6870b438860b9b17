// Assembles every resource of the show.
#include "content.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "jpeg_writer.h"
#include "music.h"
#include "pictures.h"
#include "scenes.h"

const char* const kShowResourceNames[] = {
    "music.xm",       "mv.vyl",         "credanim.vyl",   "vuurlogo.jpg",   "endlogo.jpg",
    "skybox0000.jpg", "skybox0001.jpg", "skybox0002.jpg", "skybox0003.jpg", "skybox0004.jpg",
    "skybox0005.jpg"};
const int kShowResourceCount = sizeof(kShowResourceNames) / sizeof(kShowResourceNames[0]);

std::vector<uint8_t> moduleBytes(const Tune& tune);  // module_bytes.cpp

bool buildModule(const std::string& tune_text, std::vector<uint8_t>* module, std::string* error) {
  Tune tune;
  if (!parseTune(tune_text, &tune, error)) return false;
  *module = moduleBytes(tune);
  if (module->empty()) {
    *error = "the module writer refused the tune";
    return false;
  }
  return true;
}

static bool addPicture(std::vector<ContentResource>* resources, const std::string& name, const RgbImage& image,
                       int quality, std::string* error) {
  std::vector<uint8_t> bytes = encodeJpeg(image.rgb.data(), image.width, image.height, quality);
  if (bytes.empty()) {
    *error = "cannot encode " + name;
    return false;
  }
  resources->push_back(ContentResource{name, std::move(bytes)});
  return true;
}

bool buildResources(const std::string& tune_path, std::vector<ContentResource>* resources, std::string* error) {
  resources->clear();
  std::ifstream tune_file(tune_path, std::ios::binary);
  if (!tune_file) {
    *error = "cannot read the tune " + tune_path;
    return false;
  }
  std::stringstream tune_text;
  tune_text << tune_file.rdbuf();
  std::vector<uint8_t> module;
  if (!buildModule(tune_text.str(), &module, error)) {
    *error = tune_path + ": " + *error;
    return false;
  }
  resources->push_back(ContentResource{"music.xm", std::move(module)});

  std::vector<uint8_t> main_scene = sceneFileBytes(buildMainScene());
  std::vector<uint8_t> credits_scene = sceneFileBytes(buildCreditsScene());
  if (main_scene.empty() || credits_scene.empty()) {
    *error = "a scene breaks the rules of the scene file";
    return false;
  }
  resources->push_back(ContentResource{"mv.vyl", std::move(main_scene)});
  resources->push_back(ContentResource{"credanim.vyl", std::move(credits_scene)});

  if (!addPicture(resources, "vuurlogo.jpg", makeStartLogo(), 92, error)) return false;
  if (!addPicture(resources, "endlogo.jpg", makeEndLogo(), 92, error)) return false;
  for (int face = 0; face < 6; ++face) {
    char name[32];
    std::snprintf(name, sizeof name, "skybox%04d.jpg", face);
    if (!addPicture(resources, name, makeSkyboxFace(face), 90, error)) return false;
  }
  for (int k = 0; k < kSceneTextureCount; ++k) {
    if (!addPicture(resources, kSceneTextureNames[k], makeSceneTexture(kSceneTextureNames[k]), 88, error))
      return false;
  }
  return true;
}
