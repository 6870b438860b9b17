// The GL device's state application: at every draw, the device state that the Set calls stored
// (ShadowDevice::state) becomes GL state, and GL is handed only what differs from what it was last given
// (`gl`): blending, depth, culling, the stages' textures and samplers, and the uniform block of
// matrices, lights and material, written anew into a ring of uniform space whenever something in it
// changed and shared by every program, so a program switch costs no uploads.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gl_device.h"
#include "platform/matrix_adjugate.h"

// ---- Row-vector matrices and colours, as Direct3D stores them --------------------------------------

static void multiply(const float* a, const float* b, float* out) {
  float result[16];
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) {
      float sum = 0;
      for (int k = 0; k < 4; ++k) sum += a[row * 4 + k] * b[k * 4 + column];
      result[row * 4 + column] = sum;
    }
  std::memcpy(out, result, sizeof(result));
}

// Transpose of the inverse; zero when the matrix has no inverse (nothing is then lit by direction).
static void inverseTranspose(const float* m, float* out) {
  double inverse[16];
  double determinant = matrixAdjugate(m, inverse);
  if (determinant == 0 || !std::isfinite(1.0 / determinant)) {
    std::memset(out, 0, 16 * sizeof(float));
    return;
  }
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) out[row * 4 + column] = float(inverse[column * 4 + row] / determinant);
}

static void colourOf(D3DCOLOR colour, float* out) {
  out[0] = float((colour >> 16) & 0xFF) / 255.0f;
  out[1] = float((colour >> 8) & 0xFF) / 255.0f;
  out[2] = float(colour & 0xFF) / 255.0f;
  out[3] = float(colour >> 24) / 255.0f;
}

static void copyColour(const D3DCOLORVALUE& colour, float* out) {
  out[0] = colour.r;
  out[1] = colour.g;
  out[2] = colour.b;
  out[3] = colour.a;
}

// Direct3D's codes as GL's values, indexed by the code; what a code past the table gives is beside it.
static const GLenum kBlendFactors[] = {
    GL_ONE,  // 0: no such code
    GL_ZERO, GL_ONE, GL_SRC_COLOR, GL_ONE_MINUS_SRC_COLOR, GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA,
    GL_DST_ALPHA, GL_ONE_MINUS_DST_ALPHA, GL_DST_COLOR, GL_ONE_MINUS_DST_COLOR, GL_SRC_ALPHA_SATURATE,
};
static const GLenum kCompareFunctions[] = {
    GL_ALWAYS,  // 0: no such code
    GL_NEVER, GL_LESS, GL_EQUAL, GL_LEQUAL, GL_GREATER, GL_NOTEQUAL, GL_GEQUAL, GL_ALWAYS,
};
// Border addressing clamps to the edge here; the fragment shader puts the border colour outside.
static const GLint kWrapModes[] = {
    GL_REPEAT,  // 0: no such code
    GL_REPEAT, GL_MIRRORED_REPEAT, GL_CLAMP_TO_EDGE, GL_CLAMP_TO_EDGE,
};

static GLenum blendFactor(DWORD blend) { return glValueOf(kBlendFactors, blend, GLenum(GL_ONE)); }
static GLenum compareFunction(DWORD function) { return glValueOf(kCompareFunctions, function, GLenum(GL_ALWAYS)); }
static GLint wrapMode(DWORD address) { return glValueOf(kWrapModes, address, GLint(GL_REPEAT)); }

TextureSurface* GlDevice::surfaceOf(int stage) {
  if (state.texture[stage] != looked_up[stage]) {
    looked_up[stage] = state.texture[stage];
    TextureSurface* surface = dynamic_cast<TextureSurface*>(state.texture[stage]);
    surfaces[stage] = surface && !surface->levels.empty() ? surface : nullptr;
  }
  return surfaces[stage];
}

void GlDevice::setEnable(GLenum capability, GLint enable, GLint* shadow) {
  change(shadow, enable, [capability](GLint on) { on ? glEnable(capability) : glDisable(capability); });
}

// One enabled light as the shaders read it, moved into camera space by the row-vector `view`.
static void lightBlock(const D3DLIGHT7& light, const float* view, LightBlock* out) {
  copyColour(light.dcvDiffuse, out->diffuse);
  copyColour(light.dcvSpecular, out->specular);
  copyColour(light.dcvAmbient, out->ambient);
  const D3DVECTOR& p = light.dvPosition;
  for (int c = 0; c < 3; ++c)
    out->position_range[c] = p.x * view[c] + p.y * view[4 + c] + p.z * view[8 + c] + view[12 + c];
  out->position_range[3] = light.dvRange;
  const D3DVECTOR& d = light.dvDirection;
  float direction[3];
  for (int c = 0; c < 3; ++c) direction[c] = d.x * view[c] + d.y * view[4 + c] + d.z * view[8 + c];
  float length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]);
  // Directional lights store the way toward the light; spot lights the way they shine.
  float scale = length > 0 ? (light.dltType == D3DLIGHT_DIRECTIONAL ? -1.0f : 1.0f) / length : 0.0f;
  for (int c = 0; c < 3; ++c) out->direction[c] = direction[c] * scale;
  out->direction[3] = 0;
  out->attenuation[0] = light.dvAttenuation0;
  out->attenuation[1] = light.dvAttenuation1;
  out->attenuation[2] = light.dvAttenuation2;
  out->attenuation[3] = 0;
  out->spot[0] = std::cos(light.dvTheta * 0.5f);
  out->spot[1] = std::cos(light.dvPhi * 0.5f);
  out->spot[2] = light.dvFalloff;
  out->spot[3] = 0;
}

// The matrices, when a transform changed since the block was built (or always, with `all`).
bool GlDevice::updateBlockMatrices(bool all) {
  if (!all && std::memcmp(&block_world, &state.world, sizeof(D3DMATRIX)) == 0 &&
      std::memcmp(&block_view, &state.view, sizeof(D3DMATRIX)) == 0 &&
      std::memcmp(&block_projection, &state.projection, sizeof(D3DMATRIX)) == 0)
    return false;
  multiply(&state.world.m[0][0], &state.view.m[0][0], block.world_view);
  multiply(block.world_view, &state.projection.m[0][0], block.world_view_projection);
  inverseTranspose(block.world_view, block.normal_matrix);
  block_world = state.world;
  block_projection = state.projection;
  return true;
}

// The enabled lights, packed in index order, when a light or the view changed since they were moved.
bool GlDevice::updateBlockLights(bool all) {
  if (!all && lights_valid && std::memcmp(&light_view, &state.view, sizeof(D3DMATRIX)) == 0 &&
      std::memcmp(block_lights, state.light, sizeof(block_lights)) == 0 &&
      std::memcmp(block_light_enabled, state.light_enabled, sizeof(block_light_enabled)) == 0)
    return false;
  int packed = 0;
  for (DWORD i = 0; i < kMaxLights; ++i)
    if (state.light_enabled[i]) lightBlock(state.light[i], &state.view.m[0][0], &block.lights[packed++]);
  std::memcpy(block_lights, state.light, sizeof(block_lights));
  std::memcpy(block_light_enabled, state.light_enabled, sizeof(block_light_enabled));
  light_view = state.view;
  lights_valid = true;
  return true;
}

// The small values (material, ambient, texture factor, pixel offset), compared as they will be sent.
bool GlDevice::updateBlockValues() {
  float small[8][4];
  copyColour(state.material.dcvDiffuse, small[0]);
  copyColour(state.material.dcvAmbient, small[1]);
  copyColour(state.material.dcvSpecular, small[2]);
  copyColour(state.material.dcvEmissive, small[3]);
  small[4][0] = state.material.dvPower;
  small[4][1] = small[4][2] = small[4][3] = 0;
  colourOf(state.render[D3DRENDERSTATE_AMBIENT], small[5]);
  colourOf(state.render[D3DRENDERSTATE_TEXTUREFACTOR], small[6]);
  GlViewport viewport = gl4by3Viewport(target_width, target_height);
  small[7][0] = (63.0f / 64.0f) / float(viewport.width);
  small[7][1] = (63.0f / 64.0f) / float(viewport.height);
  small[7][2] = small[7][3] = 0;
  if (std::memcmp(small, block.material_diffuse, sizeof(small)) == 0) return false;
  std::memcpy(block.material_diffuse, small, sizeof(small));
  return true;
}

// The uniform block is written anew into the ring whenever any part of it changed; unlit programs do
// not read the lights, so only lit draws bring them up to date.
void GlDevice::updateBlock(const ProgramKey& key) {
  bool all = !shadowing || !block_valid;
  bool changed = updateBlockMatrices(all) | all;
  if (key.lighting) changed |= updateBlockLights(all);
  block_view = state.view;
  changed |= updateBlockValues();
  block_valid = true;
  if (!changed) return;
  size_t offset = stream(block_stream, &block, sizeof(block), block_alignment);
  // The binding names the buffer, whatever storage it has now: new storage at the same offset needs none.
  if (!shadowing || offset != gl.block_offset) {
    glBindBufferRange(GL_UNIFORM_BUFFER, 0, block_stream.name, GLintptr(offset), sizeof(block));
    gl.block_offset = offset;
    ++counters.state_calls;
  }
}

// How GL takes the levels of a texture in one of the context library's formats. The library keeps
// texels as Direct3D does, blue first; GL ES takes neither GL_BGR nor GL_BGRA, so each level's red and
// blue are swapped as it goes up (gl_texels, below).
struct TexelLayout {
  GLenum internal_format, format, type;
  size_t bytes;  // of a texel as the library keeps it
};

static TexelLayout texelLayout(D3DX_SURFACEFORMAT format, bool has_rgb565) {
  switch (format) {
    case D3DX_SF_R5G6B5:
      return {GLenum(has_rgb565 ? GL_RGB565 : GL_RGB8), GL_RGB, GL_UNSIGNED_SHORT_5_6_5, 2};
    case D3DX_SF_A8R8G8B8:
      return {GL_RGBA8, GL_RGBA, GL_UNSIGNED_BYTE, 4};
    case D3DX_SF_X8R8G8B8:  // the fourth byte is dropped: an RGB texture reads alpha 1
      return {GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE, 4};
    default:
      return {GL_RGB8, GL_RGB, GL_UNSIGNED_BYTE, 3};
  }
}

// The texels of `level` in GL's order, R, G, B (, A): in `scratch`, unless they need no change (5-6-5
// words are the same in both).
static const uint8_t* glTexels(const TextureSurface::Level& level, const TexelLayout& layout,
                               std::vector<uint8_t>* scratch) {
  if (layout.type != GL_UNSIGNED_BYTE) return level.bytes.data();
  size_t texels = size_t(level.width) * level.height;
  size_t out_bytes = layout.format == GL_RGBA ? 4 : 3;
  scratch->resize(texels * out_bytes);
  const uint8_t* in = level.bytes.data();
  uint8_t* out = scratch->data();
  for (size_t i = 0; i < texels; ++i, in += layout.bytes, out += out_bytes) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
    if (out_bytes == 4) out[3] = in[3];
  }
  return scratch->data();
}

static bool levelHoldsTexels(const TextureSurface::Level& level, size_t texel_bytes) {
  return level.width > 0 && level.height > 0 && level.bytes.size() >= size_t(level.width) * level.height * texel_bytes;
}

// Level `index` as GL's level: defined anew, or its texels replaced in storage GL already has for it.
void GlDevice::uploadLevel(TextureSurface* texture, size_t index, bool define) {
  TexelLayout layout = texelLayout(texture->format, has_rgb565);
  const TextureSurface::Level& level = texture->levels[index];
  const uint8_t* texels = glTexels(level, layout, &upload_texels);
  if (define)
    glTexImage2D(GL_TEXTURE_2D, GLint(index), GLint(layout.internal_format), GLsizei(level.width),
                 GLsizei(level.height), 0, layout.format, layout.type, texels);
  else
    glTexSubImage2D(GL_TEXTURE_2D, GLint(index), 0, 0, GLsizei(level.width), GLsizei(level.height), layout.format,
                    layout.type, texels);
  ++counters.texture_uploads;
}

// The levels up to the first that holds no texels, on the texture bound to the active unit. A fresh
// texture gets its storage first, the whole chain in one allocation where the driver offers immutable
// storage: llvmpipe took about 40 % longer for the show's textures defined level by level.
void GlDevice::uploadTexture(TextureSurface* texture, bool fresh) {
  size_t texel_bytes = texelLayout(texture->format, has_rgb565).bytes;
  GLint levels = 0;
  while (size_t(levels) < texture->levels.size() && levelHoldsTexels(texture->levels[size_t(levels)], texel_bytes))
    ++levels;
  if (fresh && has_texture_storage && levels > 0)
    glTexStorage2D(GL_TEXTURE_2D, levels, texelLayout(texture->format, has_rgb565).internal_format,
                   GLsizei(texture->levels[0].width), GLsizei(texture->levels[0].height));
  for (GLint i = 0; i < levels; ++i) uploadLevel(texture, size_t(i), fresh && !has_texture_storage);
  if (fresh) {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, std::max(levels - 1, 0));
  }
  texture->gl_generation = texture->generation;
  checkGlErrors("texture upload");
}

// Uploaded on unit 0 right after the context library filled the level, so that no draw waits for it.
// When GL had every earlier fill, only this level goes; otherwise (a texture's first fill, or one
// filled through another device in between) the whole chain does.
void GlDevice::uploadFilledLevel(TextureSurface* texture, size_t index) {
  bool fresh = texture->gl_texture == 0;
  if (fresh) glGenTextures(1, &texture->gl_texture);
  change(&gl.active_texture, GLenum(GL_TEXTURE0), glActiveTexture);
  glBindTexture(GL_TEXTURE_2D, texture->gl_texture);
  gl.texture[0] = texture->gl_texture;
  ++counters.state_calls;
  size_t texel_bytes = texelLayout(texture->format, has_rgb565).bytes;
  bool only_this_level = !fresh && texture->gl_generation + 1 == texture->generation;
  for (size_t i = 0; only_this_level && i <= index; ++i)
    only_this_level = levelHoldsTexels(texture->levels[i], texel_bytes);
  if (!only_this_level) {
    uploadTexture(texture, fresh);
    return;
  }
  uploadLevel(texture, index, false);
  texture->gl_generation = texture->generation;
  checkGlErrors("texture upload");
}

void GlDevice::bindStageTexture(int stage, TextureSurface* texture) {
  bool fresh = texture->gl_texture == 0;
  if (fresh) glGenTextures(1, &texture->gl_texture);
  if (!shadowing || gl.texture[stage] != texture->gl_texture || fresh ||
      texture->gl_generation != texture->generation) {
    change(&gl.active_texture, GLenum(GL_TEXTURE0 + stage), glActiveTexture);
    glBindTexture(GL_TEXTURE_2D, texture->gl_texture);
    gl.texture[stage] = texture->gl_texture;
    ++counters.state_calls;
    if (fresh || texture->gl_generation != texture->generation) uploadTexture(texture, fresh);
  }
}

void GlDevice::setSampler(int stage, TextureSurface* texture) {
  const DWORD* values = state.stage[stage];
  DWORD min = values[D3DTSS_MINFILTER], mip = values[D3DTSS_MIPFILTER];
  bool linear_min = min == D3DTFN_LINEAR || min == D3DTFN_ANISOTROPIC;
  if (texture->levels.size() < 2) mip = D3DTFP_NONE;
  SamplerState wanted;
  if (mip == D3DTFP_POINT)
    wanted.min_filter = linear_min ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  else if (mip == D3DTFP_LINEAR)
    wanted.min_filter = linear_min ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
  else
    wanted.min_filter = linear_min ? GL_LINEAR : GL_NEAREST;
  wanted.mag_filter = values[D3DTSS_MAGFILTER] == D3DTFG_POINT ? GL_NEAREST : GL_LINEAR;
  wanted.wrap_s = wrapMode(values[D3DTSS_ADDRESSU]);
  wanted.wrap_t = wrapMode(values[D3DTSS_ADDRESSV]);
  float anisotropy = 1;
  if (min == D3DTFN_ANISOTROPIC) anisotropy = float(std::max<DWORD>(values[D3DTSS_MAXANISOTROPY], 1));
  // The user's setting forces anisotropic filtering on every filtered texture.
  if (linear_min && platform_settings.anisotropy > 1)
    anisotropy = std::max(anisotropy, float(platform_settings.anisotropy));
  wanted.anisotropy = max_anisotropy >= 1 ? std::min(anisotropy, max_anisotropy) : 1;

  SamplerState& had = gl.sampler[stage];
  GLuint sampler = samplers[stage];
  auto parameter = [sampler](GLenum name) {
    return [sampler, name](GLint value) { glSamplerParameteri(sampler, name, value); };
  };
  change(&had.min_filter, wanted.min_filter, parameter(GL_TEXTURE_MIN_FILTER));
  change(&had.mag_filter, wanted.mag_filter, parameter(GL_TEXTURE_MAG_FILTER));
  change(&had.wrap_s, wanted.wrap_s, parameter(GL_TEXTURE_WRAP_S));
  change(&had.wrap_t, wanted.wrap_t, parameter(GL_TEXTURE_WRAP_T));
  if (max_anisotropy >= 1)
    change(&had.anisotropy, wanted.anisotropy,
           [sampler](float value) { glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY, value); });
  had.anisotropy = wanted.anisotropy;
}

void GlDevice::applyBlend() {
  const DWORD* render = state.render;
  GLint blend = render[D3DRENDERSTATE_ALPHABLENDENABLE] != FALSE;
  setEnable(GL_BLEND, blend, &gl.blend);
  if (!blend) return;
  DWORD source = render[D3DRENDERSTATE_SRCBLEND], destination = render[D3DRENDERSTATE_DESTBLEND];
  GLenum gl_source = blendFactor(source), gl_destination = blendFactor(destination);
  if (source == 12) {  // BOTHSRCALPHA
    gl_source = GL_SRC_ALPHA;
    gl_destination = GL_ONE_MINUS_SRC_ALPHA;
  } else if (source == 13) {  // BOTHINVSRCALPHA
    gl_source = GL_ONE_MINUS_SRC_ALPHA;
    gl_destination = GL_SRC_ALPHA;
  }
  if (!shadowing || gl.source_blend != gl_source || gl.destination_blend != gl_destination) {
    glBlendFunc(gl_source, gl_destination);
    gl.source_blend = gl_source;
    gl.destination_blend = gl_destination;
    ++counters.state_calls;
  }
}

// With the depth test off Direct3D writes no depth either, as GL does.
void GlDevice::applyDepth() {
  const DWORD* render = state.render;
  GLint depth_test = render[D3DRENDERSTATE_ZENABLE] != FALSE;
  setEnable(GL_DEPTH_TEST, depth_test, &gl.depth_test);
  if (!depth_test) return;
  change(&gl.depth_func, compareFunction(render[D3DRENDERSTATE_ZFUNC]), glDepthFunc);
  GLint mask = render[D3DRENDERSTATE_ZWRITEENABLE] != FALSE;
  change(&gl.depth_mask, mask, [](GLint write) { glDepthMask(write ? GL_TRUE : GL_FALSE); });
}

// Front faces are clockwise: CULL_CCW removes GL's back faces, CULL_CW its front faces.
void GlDevice::applyCulling() {
  DWORD cull_mode = state.render[D3DRENDERSTATE_CULLMODE];
  GLint cull = cull_mode == D3DCULL_CW || cull_mode == D3DCULL_CCW;
  setEnable(GL_CULL_FACE, cull, &gl.cull);
  if (!cull) return;
  change(&gl.cull_face, GLenum(cull_mode == D3DCULL_CCW ? GL_BACK : GL_FRONT), glCullFace);
}

bool GlDevice::applyState(int kind) {
  ProgramKey key;
  makeProgramKey(kind, &key);
  GLuint name = program(key);
  if (name == 0) return false;
  change(&gl.program, name, glUseProgram);
  updateBlock(key);
  applyBlend();
  applyDepth();
  applyCulling();
  for (int s = 0; s < 2; ++s) {
    if (!key.stage[s].texture) continue;
    TextureSurface* texture = surfaceOf(s);
    bindStageTexture(s, texture);
    setSampler(s, texture);
  }
  change(&gl.vertex_array, vertex_arrays[kind], glBindVertexArray);
  return true;
}
