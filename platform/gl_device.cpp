// The GL device: what a Direct3D 7 device shows for every call and state the show makes, drawn with
// OpenGL 3.3 core.
//
// Draw calls turn the device's state (ShadowDevice::state, written by the Set calls) into GL state at
// the moment of the draw, and hand GL only what differs from what it was last given (`gl`, below).
// Vertices and indices live in application memory (the vertex buffers are system memory, as the show
// asks for); each draw streams the vertices it uses into one ring buffer per kind of data, mapped
// without synchronisation and orphaned when full, so llvmpipe never waits for earlier draws.
// Matrices, lights and material go in one uniform block, written anew into a ring of uniform space
// whenever something in it changed and shared by every program, so a program switch costs no uploads.
#define GL_GLEXT_PROTOTYPES 1
#include "platform/matrix_adjugate.h"
#include "platform/platform_local.h"

#include <GL/glcorearb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum VertexKind { kLitVertex = 0, kScreenVertex = 1, kColouredVertex = 2, kVertexKindCount = 3 };

int vertexKind(DWORD fvf) {
  switch (fvf) {
    case D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2:
      return kLitVertex;
    case D3DFVF_TLVERTEX:
      return kScreenVertex;
    case D3DFVF_LVERTEX:
      return kColouredVertex;
    default:
      return -1;
  }
}

GLsizei vertexStride(int kind) { return kind == kLitVertex ? 40 : 32; }

struct LightBlock {
  float diffuse[4], specular[4], ambient[4], position_range[4], direction[4], attenuation[4], spot[4];
};

// Mirrors the std140 uniform block of the shaders.
struct DeviceBlock {
  float world_view[16], world_view_projection[16], normal_matrix[16];
  float material_diffuse[4], material_ambient[4], material_specular[4], material_emissive[4], material_power[4];
  float ambient_light[4], texture_factor[4], pixel_offset[4];
  LightBlock lights[kMaxLights];
};
static_assert(sizeof(DeviceBlock) == 1216, "the uniform block's std140 layout");

struct StageKey {
  uint8_t colour_op, colour_arg1, colour_arg2, alpha_op, alpha_arg1, alpha_arg2, texture, uv_set;
};

// Everything that changes shader code; compared as bytes.
struct ProgramKey {
  uint8_t vertex_kind, lighting, normalise, specular_lit, specular_add, light_count;
  uint8_t light_type[kMaxLights];
  uint8_t material_source[4];  // diffuse, ambient, specular, emissive
  StageKey stage[2];
};

struct Program {
  ProgramKey key;
  GLuint name;
};

// A buffer written front to back and orphaned when full.
struct StreamBuffer {
  GLuint name;
  GLenum target;
  size_t size;
  size_t offset;
  uint32_t epoch;  // counts orphanings: an older epoch's offsets point into storage that is gone
};

struct SamplerState {
  GLint min_filter, mag_filter, wrap_s, wrap_t;
  float anisotropy;
};

// What GL was last given. All ones (memset 0xFF) means "unknown": the next draw sets everything.
struct GlShadow {
  GLint blend;
  GLenum source_blend, destination_blend;
  GLint depth_test, depth_mask;
  GLenum depth_func;
  GLint cull;
  GLenum cull_face;
  GLuint program;
  GLuint vertex_array;
  GLuint texture[2];
  SamplerState sampler[2];
  size_t block_offset;
  uint32_t block_epoch;
};

// The last vertex-buffer range streamed, so a buffer drawn again unchanged is not sent again.
struct StreamedRange {
  MemoryVertexBuffer* buffer;  // holds a reference, so the address cannot come back as another buffer
  uint32_t generation;
  DWORD first, count;
  size_t offset;
  uint32_t epoch;
};

// ---- Row-vector matrices, as Direct3D stores them ------------------------------------------------

void multiply(const float* a, const float* b, float* out) {
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
void inverseTranspose(const float* m, float* out) {
  double inverse[16];
  double determinant = matrixAdjugate(m, inverse);
  if (determinant == 0 || !std::isfinite(1.0 / determinant)) {
    std::memset(out, 0, 16 * sizeof(float));
    return;
  }
  for (int row = 0; row < 4; ++row)
    for (int column = 0; column < 4; ++column) out[row * 4 + column] = float(inverse[column * 4 + row] / determinant);
}

void colourOf(D3DCOLOR colour, float* out) {
  out[0] = float((colour >> 16) & 0xFF) / 255.0f;
  out[1] = float((colour >> 8) & 0xFF) / 255.0f;
  out[2] = float(colour & 0xFF) / 255.0f;
  out[3] = float(colour >> 24) / 255.0f;
}

void copyColour(const D3DCOLORVALUE& colour, float* out) {
  out[0] = colour.r;
  out[1] = colour.g;
  out[2] = colour.b;
  out[3] = colour.a;
}

GLenum blendFactor(DWORD blend) {
  switch (blend) {
    case D3DBLEND_ZERO:
      return GL_ZERO;
    case D3DBLEND_ONE:
      return GL_ONE;
    case D3DBLEND_SRCCOLOR:
      return GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR:
      return GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA:
      return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA:
      return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA:
      return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA:
      return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR:
      return GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR:
      return GL_ONE_MINUS_DST_COLOR;
    case 11:
      return GL_SRC_ALPHA_SATURATE;
    default:
      return GL_ONE;
  }
}

GLenum compareFunction(DWORD function) {
  switch (function) {
    case D3DCMP_NEVER:
      return GL_NEVER;
    case D3DCMP_LESS:
      return GL_LESS;
    case D3DCMP_EQUAL:
      return GL_EQUAL;
    case D3DCMP_LESSEQUAL:
      return GL_LEQUAL;
    case D3DCMP_GREATER:
      return GL_GREATER;
    case D3DCMP_NOTEQUAL:
      return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL:
      return GL_GEQUAL;
    default:
      return GL_ALWAYS;
  }
}

GLenum primitiveMode(D3DPRIMITIVETYPE type) {
  switch (type) {
    case D3DPT_POINTLIST:
      return GL_POINTS;
    case D3DPT_LINELIST:
      return GL_LINES;
    case D3DPT_LINESTRIP:
      return GL_LINE_STRIP;
    case D3DPT_TRIANGLELIST:
      return GL_TRIANGLES;
    case D3DPT_TRIANGLESTRIP:
      return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN:
      return GL_TRIANGLE_FAN;
    default:
      return GL_NONE;
  }
}

GLint wrapMode(DWORD address) {
  switch (address) {
    case D3DTADDRESS_MIRROR:
      return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP:
      return GL_CLAMP_TO_EDGE;
    case 4:
      return GL_CLAMP_TO_BORDER;
    default:
      return GL_REPEAT;
  }
}

bool argumentIsTexture(uint8_t argument) { return (argument & 15) == D3DTA_TEXTURE; }
bool usesArgument1(uint8_t op) { return op != D3DTOP_SELECTARG2; }
bool usesArgument2(uint8_t op) { return op != D3DTOP_SELECTARG1; }
bool opUsesTexture(uint8_t op, uint8_t argument1, uint8_t argument2) {
  return op == 13 || (usesArgument1(op) && argumentIsTexture(argument1)) ||
         (usesArgument2(op) && argumentIsTexture(argument2));
}
bool opUsesSpecular(uint8_t op, uint8_t argument1, uint8_t argument2) {
  return (usesArgument1(op) && (argument1 & 15) == D3DTA_SPECULAR) ||
         (usesArgument2(op) && (argument2 & 15) == D3DTA_SPECULAR);
}

class GlDevice : public ShadowDevice {
 public:
  GlDevice(int width, int height) : target_width(width), target_height(height) {}
  bool create();

  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD value) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count, DWORD flags) override;
  HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex, DWORD vertex_count,
                          DWORD flags) override;
  HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                 DWORD vertex_count, WORD* indices, DWORD index_count, DWORD flags) override;

  void clear(DWORD flags);

  bool shadowing = true;
  GlDeviceCounters counters = {};

 private:
  ~GlDevice() override;

  HRESULT draw(GLenum mode, int kind, const uint8_t* vertices, DWORD vertex_count, const WORD* indices,
               DWORD index_count, MemoryVertexBuffer* source, DWORD source_first);
  bool applyState(int kind);
  void makeProgramKey(int kind, ProgramKey* key);
  GLuint program(const ProgramKey& key);
  GLuint buildProgram(const ProgramKey& key);
  void updateBlock(int kind, const ProgramKey& key);
  void bindStageTexture(int stage, TextureSurface* texture);
  void uploadTexture(TextureSurface* texture);
  void setSampler(int stage, TextureSurface* texture);
  size_t stream(StreamBuffer& buffer, const void* data, size_t bytes, size_t alignment);
  void setEnable(GLenum capability, GLint enable, GLint* shadow);
  TextureSurface* surfaceOf(int stage);

  int target_width, target_height;
  GLuint vertex_arrays[kVertexKindCount] = {};
  GLuint samplers[2] = {};
  StreamBuffer vertex_stream = {}, index_stream = {}, block_stream = {};
  size_t block_alignment = 256;
  bool has_rgb565 = false;
  float max_anisotropy = 0;  // 0: anisotropic filtering not offered
  std::vector<Program> programs;
  size_t last_program = 0;
  GlShadow gl;
  StreamedRange streamed = {};

  // The device state the uniform block was last built from.
  DeviceBlock block = {};
  bool block_valid = false;
  D3DMATRIX block_world = {}, block_view = {}, block_projection = {};
  D3DLIGHT7 block_lights[kMaxLights] = {};
  bool block_light_enabled[kMaxLights] = {};
  D3DMATRIX light_view = {};  // the view the lights were moved into camera space with
  bool lights_valid = false;

  // Textures bound to the stages, as last looked up.
  IDirectDrawSurface7* looked_up[2] = {};
  TextureSurface* surfaces[2] = {};
};

#ifndef NDEBUG
void checkGlErrors(const char* where) {
  for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
    std::fprintf(stderr, "narvu: GL error 0x%04x after %s\n", unsigned(error), where);
}
#else
void checkGlErrors(const char*) {}
#endif

bool hasExtension(const char* name) {
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  for (GLint i = 0; i < count; ++i) {
    const char* extension = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, GLuint(i)));
    if (extension && std::strcmp(extension, name) == 0) return true;
  }
  return false;
}

bool GlDevice::create() {
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  has_rgb565 = major * 10 + minor >= 41 || hasExtension("GL_ARB_ES2_compatibility");
  if (major * 10 + minor >= 46 || hasExtension("GL_ARB_texture_filter_anisotropic") ||
      hasExtension("GL_EXT_texture_filter_anisotropic"))
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY, &max_anisotropy);
  GLint alignment = 0;
  glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &alignment);
  if (alignment > 0) block_alignment = size_t(alignment);

  StreamBuffer* streams[] = {&vertex_stream, &index_stream, &block_stream};
  const GLenum targets[] = {GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER, GL_UNIFORM_BUFFER};
  const size_t sizes[] = {8u << 20, 2u << 20, 1u << 20};
  glGenVertexArrays(kVertexKindCount, vertex_arrays);
  glBindVertexArray(vertex_arrays[0]);
  for (int i = 0; i < 3; ++i) {
    glGenBuffers(1, &streams[i]->name);
    streams[i]->target = targets[i];
    streams[i]->size = sizes[i];
    glBindBuffer(targets[i], streams[i]->name);
    glBufferData(targets[i], GLsizeiptr(sizes[i]), nullptr, GL_STREAM_DRAW);
  }

  // Each format's attributes point into the vertex ring from its start; a draw picks its vertices with
  // the first-vertex or base-vertex argument. The index ring is part of every vertex array's state.
  for (int kind = 0; kind < kVertexKindCount; ++kind) {
    glBindVertexArray(vertex_arrays[kind]);
    glBindBuffer(GL_ARRAY_BUFFER, vertex_stream.name);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, index_stream.name);
    GLsizei stride = vertexStride(kind);
    auto attribute = [&](GLuint location, GLint size, GLenum type, GLboolean normalised, size_t offset) {
      glEnableVertexAttribArray(location);
      glVertexAttribPointer(location, size, type, normalised, stride, reinterpret_cast<const void*>(offset));
    };
    if (kind == kLitVertex) {
      attribute(0, 3, GL_FLOAT, GL_FALSE, 0);
      attribute(1, 3, GL_FLOAT, GL_FALSE, 12);
      attribute(4, 2, GL_FLOAT, GL_FALSE, 24);
      attribute(5, 2, GL_FLOAT, GL_FALSE, 32);
    } else {
      attribute(0, kind == kScreenVertex ? 4 : 3, GL_FLOAT, GL_FALSE, 0);
      // D3DCOLOR is B, G, R, A in memory.
      attribute(2, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 16);
      attribute(3, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 20);
      attribute(4, 2, GL_FLOAT, GL_FALSE, 24);
    }
  }
  // What a format without the attribute reads: no normal, white diffuse, no specular, coordinates 0.
  glVertexAttrib4f(1, 0, 0, 0, 0);
  glVertexAttrib4f(2, 1, 1, 1, 1);
  glVertexAttrib4f(3, 0, 0, 0, 0);
  glVertexAttrib4f(5, 0, 0, 0, 1);

  glGenSamplers(2, samplers);
  for (GLuint unit = 0; unit < 2; ++unit) glBindSampler(unit, samplers[unit]);
  glFrontFace(GL_CW);  // Direct3D's front faces are clockwise on screen
  glDisable(GL_DITHER);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  std::memset(&gl, 0xFF, sizeof(gl));
  checkGlErrors("device creation");

  // A program that does not build is a driver that cannot run the device at all: find out now.
  ProgramKey key;
  makeProgramKey(kLitVertex, &key);
  return program(key) != 0;
}

GlDevice::~GlDevice() {
  if (streamed.buffer) streamed.buffer->Release();
  for (const Program& built : programs) glDeleteProgram(built.name);
  glDeleteVertexArrays(kVertexKindCount, vertex_arrays);
  glDeleteSamplers(2, samplers);
  GLuint buffers[] = {vertex_stream.name, index_stream.name, block_stream.name};
  glDeleteBuffers(3, buffers);
}

HRESULT GlDevice::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD value) {
  HRESULT result = ShadowDevice::SetTextureStageState(stage, which, value);
  // ADDRESS sets both directions, as in Direct3D 7.
  if (SUCCEEDED(result) && which == D3DTSS_ADDRESS) {
    state.stage[stage][D3DTSS_ADDRESSU] = value;
    state.stage[stage][D3DTSS_ADDRESSV] = value;
  }
  return result;
}

TextureSurface* GlDevice::surfaceOf(int stage) {
  if (state.texture[stage] != looked_up[stage]) {
    looked_up[stage] = state.texture[stage];
    TextureSurface* surface = dynamic_cast<TextureSurface*>(state.texture[stage]);
    surfaces[stage] = surface && !surface->levels.empty() ? surface : nullptr;
  }
  return surfaces[stage];
}

void GlDevice::makeProgramKey(int kind, ProgramKey* key) {
  std::memset(key, 0, sizeof(*key));
  key->vertex_kind = uint8_t(kind);
  bool lit = kind != kScreenVertex && state.render[D3DRENDERSTATE_LIGHTING] != FALSE;
  key->lighting = lit;
  if (lit) {
    key->normalise = state.render[D3DRENDERSTATE_NORMALIZENORMALS] != FALSE;
    for (DWORD i = 0; i < kMaxLights; ++i) {
      if (!state.light_enabled[i]) continue;
      DWORD type = state.light[i].dltType;
      key->light_type[key->light_count++] =
          uint8_t(type == D3DLIGHT_SPOT || type == D3DLIGHT_DIRECTIONAL ? type : D3DLIGHT_POINT);
    }
    // Material colours may come from the vertex's own colours, when it has them.
    if (kind == kColouredVertex && state.render[D3DRENDERSTATE_COLORVERTEX]) {
      const D3DRENDERSTATETYPE sources[4] = {D3DRENDERSTATE_DIFFUSEMATERIALSOURCE, D3DRENDERSTATE_AMBIENTMATERIALSOURCE,
                                             D3DRENDERSTATE_SPECULARMATERIALSOURCE,
                                             D3DRENDERSTATE_EMISSIVEMATERIALSOURCE};
      for (int i = 0; i < 4; ++i) {
        DWORD source = state.render[sources[i]];
        key->material_source[i] = uint8_t(source == D3DMCS_COLOR1 || source == D3DMCS_COLOR2 ? source : 0);
      }
    }
  }
  bool uses_specular = false;
  for (int s = 0; s < 2; ++s) {
    StageKey& stage = key->stage[s];
    const DWORD* values = state.stage[s];
    stage.colour_op = uint8_t(values[D3DTSS_COLOROP]);
    if (stage.colour_op == D3DTOP_DISABLE || stage.colour_op == 0) {
      // Disabling a stage ends the cascade; later stages are ignored, alpha included.
      stage.colour_op = D3DTOP_DISABLE;
      if (s == 0) key->stage[1].colour_op = D3DTOP_DISABLE;
      break;
    }
    stage.colour_arg1 = uint8_t(values[D3DTSS_COLORARG1] & 0x3F);
    stage.colour_arg2 = uint8_t(values[D3DTSS_COLORARG2] & 0x3F);
    stage.alpha_op = uint8_t(values[D3DTSS_ALPHAOP]);
    if (stage.alpha_op == 0) stage.alpha_op = D3DTOP_DISABLE;
    stage.alpha_arg1 = uint8_t(values[D3DTSS_ALPHAARG1] & 0x3F);
    stage.alpha_arg2 = uint8_t(values[D3DTSS_ALPHAARG2] & 0x3F);
    bool has_texture = surfaceOf(s) != nullptr;
    // An operation reading a texture that is not there passes the current colour (or alpha) through.
    if (!has_texture && opUsesTexture(stage.colour_op, stage.colour_arg1, stage.colour_arg2)) {
      stage.colour_op = D3DTOP_SELECTARG1;
      stage.colour_arg1 = D3DTA_CURRENT;
    }
    if (!has_texture && stage.alpha_op != D3DTOP_DISABLE &&
        opUsesTexture(stage.alpha_op, stage.alpha_arg1, stage.alpha_arg2)) {
      stage.alpha_op = D3DTOP_SELECTARG1;
      stage.alpha_arg1 = D3DTA_CURRENT;
    }
    // Arguments an operation does not read do not make another program.
    if (!usesArgument1(stage.colour_op)) stage.colour_arg1 = 0;
    if (!usesArgument2(stage.colour_op)) stage.colour_arg2 = 0;
    if (stage.alpha_op == D3DTOP_DISABLE || !usesArgument1(stage.alpha_op)) stage.alpha_arg1 = 0;
    if (stage.alpha_op == D3DTOP_DISABLE || !usesArgument2(stage.alpha_op)) stage.alpha_arg2 = 0;
    bool samples =
        opUsesTexture(stage.colour_op, stage.colour_arg1, stage.colour_arg2) ||
        (stage.alpha_op != D3DTOP_DISABLE && opUsesTexture(stage.alpha_op, stage.alpha_arg1, stage.alpha_arg2));
    stage.texture = samples;
    stage.uv_set = samples && (values[D3DTSS_TEXCOORDINDEX] & 0xFFFF) != 0 ? 1 : 0;
    uses_specular =
        uses_specular || opUsesSpecular(stage.colour_op, stage.colour_arg1, stage.colour_arg2) ||
        (stage.alpha_op != D3DTOP_DISABLE && opUsesSpecular(stage.alpha_op, stage.alpha_arg1, stage.alpha_arg2));
  }
  key->specular_add = state.render[D3DRENDERSTATE_SPECULARENABLE] != FALSE;
  key->specular_lit = lit && (key->specular_add || uses_specular);
}

GLuint compileShader(GLenum type, const std::string& source) {
  GLuint shader = glCreateShader(type);
  const char* text = source.c_str();
  glShaderSource(shader, 1, &text, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
    std::fprintf(stderr, "narvu: a %s shader of the GL device does not compile: %s\n",
                 type == GL_VERTEX_SHADER ? "vertex" : "fragment", log);
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

GLuint GlDevice::buildProgram(const ProgramKey& key) {
  std::string prologue = "#version 330 core\n";
  auto define = [&prologue](const char* name, int value) {
    prologue += std::string("#define ") + name + " " + std::to_string(value) + "\n";
  };
  define("VERTEX_KIND", key.vertex_kind);
  define("LIGHTING", key.lighting);
  define("LIGHT_COUNT", key.light_count);
  define("NORMALISE", key.normalise);
  std::string types = "#define LIGHT_TYPES ";
  for (DWORD i = 0; i < kMaxLights; ++i) types += std::to_string(key.light_type[i]) + ", ";
  prologue += types + "0\n";
  define("SPECULAR_LIT", key.specular_lit);
  define("SPECULAR_ADD", key.specular_add);
  define("DIFFUSE_SOURCE", key.material_source[0]);
  define("AMBIENT_SOURCE", key.material_source[1]);
  define("SPECULAR_SOURCE", key.material_source[2]);
  define("EMISSIVE_SOURCE", key.material_source[3]);
  for (int s = 0; s < 2; ++s) {
    const StageKey& stage = key.stage[s];
    std::string p = "S" + std::to_string(s) + "_";
    define((p + "COP").c_str(), stage.colour_op);
    define((p + "CA1").c_str(), stage.colour_arg1);
    define((p + "CA2").c_str(), stage.colour_arg2);
    define((p + "AOP").c_str(), stage.alpha_op);
    define((p + "AA1").c_str(), stage.alpha_arg1);
    define((p + "AA2").c_str(), stage.alpha_arg2);
    define((p + "TEX").c_str(), stage.texture);
    prologue += "#define " + p + "UV " + (stage.uv_set ? "v_uv1" : "v_uv0") + "\n";
  }
  GLuint vertex = compileShader(GL_VERTEX_SHADER, prologue + kGlDeviceBlockSource + kGlVertexShaderSource);
  GLuint fragment = compileShader(GL_FRAGMENT_SHADER, prologue + kGlDeviceBlockSource + kGlFragmentShaderSource);
  if (!vertex || !fragment) {
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    return 0;
  }
  GLuint name = glCreateProgram();
  glAttachShader(name, vertex);
  glAttachShader(name, fragment);
  glBindFragDataLocation(name, 0, "frag_colour");
  glLinkProgram(name);
  glDeleteShader(vertex);
  glDeleteShader(fragment);
  GLint ok = 0;
  glGetProgramiv(name, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetProgramInfoLog(name, sizeof(log), nullptr, log);
    std::fprintf(stderr, "narvu: a program of the GL device does not link: %s\n", log);
    glDeleteProgram(name);
    return 0;
  }
  glUniformBlockBinding(name, glGetUniformBlockIndex(name, "DeviceBlock"), 0);
  glUseProgram(name);
  glUniform1i(glGetUniformLocation(name, "stage_texture0"), 0);
  glUniform1i(glGetUniformLocation(name, "stage_texture1"), 1);
  gl.program = name;
  ++counters.program_builds;
  checkGlErrors("program build");
  return name;
}

GLuint GlDevice::program(const ProgramKey& key) {
  if (last_program < programs.size() && std::memcmp(&programs[last_program].key, &key, sizeof(key)) == 0)
    return programs[last_program].name;
  for (size_t i = 0; i < programs.size(); ++i)
    if (std::memcmp(&programs[i].key, &key, sizeof(key)) == 0) {
      last_program = i;
      return programs[i].name;
    }
  GLuint name = buildProgram(key);
  if (name == 0) return 0;
  programs.push_back({key, name});
  last_program = programs.size() - 1;
  return name;
}

size_t GlDevice::stream(StreamBuffer& buffer, const void* data, size_t bytes, size_t alignment) {
  size_t offset = (buffer.offset + alignment - 1) / alignment * alignment;
  if (offset + bytes > buffer.size) {
    // Orphan: GL keeps the old storage for the draws that read it and hands us fresh storage.
    buffer.size = std::max(buffer.size, bytes);
    glBufferData(buffer.target, GLsizeiptr(buffer.size), nullptr, GL_STREAM_DRAW);
    offset = 0;
    ++buffer.epoch;
  }
  void* target = glMapBufferRange(buffer.target, GLintptr(offset), GLsizeiptr(bytes),
                                  GL_MAP_WRITE_BIT | GL_MAP_UNSYNCHRONIZED_BIT | GL_MAP_INVALIDATE_RANGE_BIT);
  if (target) {
    std::memcpy(target, data, bytes);
    glUnmapBuffer(buffer.target);
  }
  buffer.offset = offset + bytes;
  return offset;
}

void GlDevice::setEnable(GLenum capability, GLint enable, GLint* shadow) {
  if (shadowing && *shadow == enable) return;
  if (enable)
    glEnable(capability);
  else
    glDisable(capability);
  *shadow = enable;
  ++counters.state_calls;
}

void GlDevice::updateBlock(int kind, const ProgramKey& key) {
  bool all = !shadowing || !block_valid;
  bool changed = all;
  if (all || std::memcmp(&block_world, &state.world, sizeof(D3DMATRIX)) != 0 ||
      std::memcmp(&block_view, &state.view, sizeof(D3DMATRIX)) != 0 ||
      std::memcmp(&block_projection, &state.projection, sizeof(D3DMATRIX)) != 0) {
    multiply(&state.world.m[0][0], &state.view.m[0][0], block.world_view);
    multiply(block.world_view, &state.projection.m[0][0], block.world_view_projection);
    inverseTranspose(block.world_view, block.normal_matrix);
    block_world = state.world;
    block_projection = state.projection;
    changed = true;
  }
  bool lit = key.lighting != 0;
  if (lit && (all || !lights_valid || std::memcmp(&light_view, &state.view, sizeof(D3DMATRIX)) != 0 ||
              std::memcmp(block_lights, state.light, sizeof(block_lights)) != 0 ||
              std::memcmp(block_light_enabled, state.light_enabled, sizeof(block_light_enabled)) != 0)) {
    const float* view = &state.view.m[0][0];
    int packed = 0;
    for (DWORD i = 0; i < kMaxLights; ++i) {
      if (!state.light_enabled[i]) continue;
      const D3DLIGHT7& light = state.light[i];
      LightBlock& out = block.lights[packed++];
      copyColour(light.dcvDiffuse, out.diffuse);
      copyColour(light.dcvSpecular, out.specular);
      copyColour(light.dcvAmbient, out.ambient);
      const D3DVECTOR& p = light.dvPosition;
      for (int c = 0; c < 3; ++c)
        out.position_range[c] = p.x * view[c] + p.y * view[4 + c] + p.z * view[8 + c] + view[12 + c];
      out.position_range[3] = light.dvRange;
      const D3DVECTOR& d = light.dvDirection;
      float direction[3];
      for (int c = 0; c < 3; ++c) direction[c] = d.x * view[c] + d.y * view[4 + c] + d.z * view[8 + c];
      float length = std::sqrt(direction[0] * direction[0] + direction[1] * direction[1] + direction[2] * direction[2]);
      // Directional lights store the way toward the light; spot lights the way they shine.
      float scale = length > 0 ? (light.dltType == D3DLIGHT_DIRECTIONAL ? -1.0f : 1.0f) / length : 0.0f;
      for (int c = 0; c < 3; ++c) out.direction[c] = direction[c] * scale;
      out.direction[3] = 0;
      out.attenuation[0] = light.dvAttenuation0;
      out.attenuation[1] = light.dvAttenuation1;
      out.attenuation[2] = light.dvAttenuation2;
      out.attenuation[3] = 0;
      out.spot[0] = std::cos(light.dvTheta * 0.5f);
      out.spot[1] = std::cos(light.dvPhi * 0.5f);
      out.spot[2] = light.dvFalloff;
      out.spot[3] = 0;
    }
    std::memcpy(block_lights, state.light, sizeof(block_lights));
    std::memcpy(block_light_enabled, state.light_enabled, sizeof(block_light_enabled));
    light_view = state.view;
    lights_valid = true;
    changed = true;
  }
  block_view = state.view;

  // The small values: compared as they will be sent.
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
  if (changed || std::memcmp(small, block.material_diffuse, sizeof(small)) != 0) {
    std::memcpy(block.material_diffuse, small, sizeof(small));
    changed = true;
  }
  (void)kind;
  block_valid = true;

  if (changed) {
    gl.block_offset = stream(block_stream, &block, sizeof(block), block_alignment);
    gl.block_epoch = block_stream.epoch;
    glBindBufferRange(GL_UNIFORM_BUFFER, 0, block_stream.name, GLintptr(gl.block_offset), sizeof(block));
    ++counters.state_calls;
  }
}

void GlDevice::uploadTexture(TextureSurface* texture) {
  GLenum internal_format = GL_RGB8, format = GL_BGR, type = GL_UNSIGNED_BYTE;
  size_t texel_bytes = 3;
  switch (texture->format) {
    case D3DX_SF_R5G6B5:
      internal_format = has_rgb565 ? GL_RGB565 : GL_RGB8;
      format = GL_RGB;
      type = GL_UNSIGNED_SHORT_5_6_5;
      texel_bytes = 2;
      break;
    case D3DX_SF_A8R8G8B8:
      internal_format = GL_RGBA8;
      format = GL_BGRA;
      texel_bytes = 4;
      break;
    case D3DX_SF_X8R8G8B8:  // the fourth byte is ignored: an RGB texture reads alpha 1
      format = GL_BGRA;
      texel_bytes = 4;
      break;
    default:
      break;
  }
  GLint levels = 0;
  for (const TextureSurface::Level& level : texture->levels) {
    if (level.width == 0 || level.height == 0 || level.bytes.size() < size_t(level.width) * level.height * texel_bytes)
      break;
    glTexImage2D(GL_TEXTURE_2D, levels, GLint(internal_format), GLsizei(level.width), GLsizei(level.height), 0, format,
                 type, level.bytes.data());
    ++levels;
    ++counters.texture_uploads;
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, std::max(levels - 1, 0));
  texture->gl_generation = texture->generation;
  checkGlErrors("texture upload");
}

void GlDevice::bindStageTexture(int stage, TextureSurface* texture) {
  bool fresh = texture->gl_texture == 0;
  if (fresh) glGenTextures(1, &texture->gl_texture);
  if (!shadowing || gl.texture[stage] != texture->gl_texture || fresh ||
      texture->gl_generation != texture->generation) {
    glActiveTexture(GL_TEXTURE0 + GLenum(stage));
    glBindTexture(GL_TEXTURE_2D, texture->gl_texture);
    gl.texture[stage] = texture->gl_texture;
    ++counters.state_calls;
    if (fresh || texture->gl_generation != texture->generation) uploadTexture(texture);
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
  if (!shadowing || had.min_filter != wanted.min_filter) {
    glSamplerParameteri(sampler, GL_TEXTURE_MIN_FILTER, wanted.min_filter);
    ++counters.state_calls;
  }
  if (!shadowing || had.mag_filter != wanted.mag_filter) {
    glSamplerParameteri(sampler, GL_TEXTURE_MAG_FILTER, wanted.mag_filter);
    ++counters.state_calls;
  }
  if (!shadowing || had.wrap_s != wanted.wrap_s) {
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_S, wanted.wrap_s);
    ++counters.state_calls;
  }
  if (!shadowing || had.wrap_t != wanted.wrap_t) {
    glSamplerParameteri(sampler, GL_TEXTURE_WRAP_T, wanted.wrap_t);
    ++counters.state_calls;
  }
  if (max_anisotropy >= 1 && (!shadowing || had.anisotropy != wanted.anisotropy)) {
    glSamplerParameterf(sampler, GL_TEXTURE_MAX_ANISOTROPY, wanted.anisotropy);
    ++counters.state_calls;
  }
  had = wanted;
}

bool GlDevice::applyState(int kind) {
  ProgramKey key;
  makeProgramKey(kind, &key);
  GLuint name = program(key);
  if (name == 0) return false;
  if (!shadowing || gl.program != name) {
    glUseProgram(name);
    gl.program = name;
    ++counters.state_calls;
  }
  updateBlock(kind, key);

  const DWORD* render = state.render;
  GLint blend = render[D3DRENDERSTATE_ALPHABLENDENABLE] != FALSE;
  setEnable(GL_BLEND, blend, &gl.blend);
  if (blend) {
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
  GLint depth_test = render[D3DRENDERSTATE_ZENABLE] != FALSE;
  setEnable(GL_DEPTH_TEST, depth_test, &gl.depth_test);
  if (depth_test) {
    GLenum function = compareFunction(render[D3DRENDERSTATE_ZFUNC]);
    if (!shadowing || gl.depth_func != function) {
      glDepthFunc(function);
      gl.depth_func = function;
      ++counters.state_calls;
    }
    GLint mask = render[D3DRENDERSTATE_ZWRITEENABLE] != FALSE;
    if (!shadowing || gl.depth_mask != mask) {
      glDepthMask(mask ? GL_TRUE : GL_FALSE);
      gl.depth_mask = mask;
      ++counters.state_calls;
    }
  }
  DWORD cull_mode = render[D3DRENDERSTATE_CULLMODE];
  GLint cull = cull_mode == D3DCULL_CW || cull_mode == D3DCULL_CCW;
  setEnable(GL_CULL_FACE, cull, &gl.cull);
  if (cull) {
    // Front faces are clockwise: CULL_CCW removes GL's back faces, CULL_CW its front faces.
    GLenum face = cull_mode == D3DCULL_CCW ? GL_BACK : GL_FRONT;
    if (!shadowing || gl.cull_face != face) {
      glCullFace(face);
      gl.cull_face = face;
      ++counters.state_calls;
    }
  }

  for (int s = 0; s < 2; ++s) {
    if (!key.stage[s].texture) continue;
    TextureSurface* texture = surfaceOf(s);
    bindStageTexture(s, texture);
    setSampler(s, texture);
  }

  if (!shadowing || gl.vertex_array != vertex_arrays[kind]) {
    glBindVertexArray(vertex_arrays[kind]);
    gl.vertex_array = vertex_arrays[kind];
    ++counters.state_calls;
  }
  return true;
}

HRESULT GlDevice::draw(GLenum mode, int kind, const uint8_t* vertices, DWORD vertex_count, const WORD* indices,
                       DWORD index_count, MemoryVertexBuffer* source, DWORD source_first) {
  if (vertex_count == 0 || (indices && index_count == 0)) return S_OK;
  if (indices) {
    WORD largest = 0;
    for (DWORD i = 0; i < index_count; ++i) largest = std::max(largest, indices[i]);
    if (largest >= vertex_count) return DDERR_INVALIDPARAMS;
  }
  if (!applyState(kind)) return E_FAIL;

  size_t stride = size_t(vertexStride(kind));
  size_t first_vertex;
  const StreamedRange& had = streamed;
  if (source && had.buffer == source && had.generation == source->generation && had.epoch == vertex_stream.epoch &&
      source_first >= had.first && source_first + vertex_count <= had.first + had.count) {
    first_vertex = had.offset / stride + (source_first - had.first);
  } else {
    size_t offset = stream(vertex_stream, vertices, vertex_count * stride, stride);
    first_vertex = offset / stride;
    if (source) {
      source->AddRef();
      if (streamed.buffer) streamed.buffer->Release();
      streamed = {source, source->generation, source_first, vertex_count, offset, vertex_stream.epoch};
    }
  }
  if (indices) {
    size_t offset = stream(index_stream, indices, index_count * sizeof(WORD), 4);
    glDrawElementsBaseVertex(mode, GLsizei(index_count), GL_UNSIGNED_SHORT, reinterpret_cast<const void*>(offset),
                             GLint(first_vertex));
  } else {
    glDrawArrays(mode, GLint(first_vertex), GLsizei(vertex_count));
  }
  ++counters.draws;
  checkGlErrors("draw");
  return S_OK;
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count, DWORD) {
  GLenum mode = primitiveMode(type);
  int kind = vertexKind(fvf);
  if (mode == GL_NONE || kind < 0 || !vertices) return DDERR_INVALIDPARAMS;
  return draw(mode, kind, static_cast<const uint8_t*>(vertices), vertex_count, nullptr, 0, nullptr, 0);
}

HRESULT GlDevice::DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                  DWORD vertex_count, DWORD) {
  return DrawIndexedPrimitiveVB(type, buffer, start_vertex, vertex_count, nullptr, 0, 0);
}

HRESULT GlDevice::DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                         DWORD vertex_count, WORD* indices, DWORD index_count, DWORD) {
  GLenum mode = primitiveMode(type);
  MemoryVertexBuffer* memory = dynamic_cast<MemoryVertexBuffer*>(buffer);
  // A locked buffer is not drawn from; a range past its end is refused rather than read.
  if (mode == GL_NONE || !memory || memory->locked || vertexKind(memory->fvf) < 0 ||
      start_vertex > memory->vertex_count || vertex_count > memory->vertex_count - start_vertex)
    return DDERR_INVALIDPARAMS;
  const uint8_t* vertices = memory->bytes.data() + size_t(start_vertex) * memory->vertex_size;
  return draw(mode, vertexKind(memory->fvf), vertices, vertex_count, indices, indices ? index_count : 0, memory,
              start_vertex);
}

void GlDevice::clear(DWORD flags) {
  GLbitfield mask = 0;
  if (flags & D3DCLEAR_ZBUFFER) {
    if (gl.depth_mask != 1) {
      glDepthMask(GL_TRUE);
      gl.depth_mask = 1;
      ++counters.state_calls;
    }
    glClearDepth(1.0);
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  if (flags & D3DCLEAR_TARGET) {
    glClearColor(0, 0, 0, 0);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (mask) glClear(mask);
  checkGlErrors("clear");
}

}  // namespace

GlViewport gl4by3Viewport(int target_width, int target_height) {
  // Compared in integers so that an exact 4:3 target gives the whole target.
  if (int64_t(target_width) * 3 > int64_t(target_height) * 4) {
    int width = int(int64_t(target_height) * 4 / 3);
    return {(target_width - width) / 2, 0, width, target_height};
  }
  int height = int(int64_t(target_width) * 3 / 4);
  return {0, (target_height - height) / 2, target_width, height};
}

ShadowDevice* createGlDevice(int target_width, int target_height) {
  GlDevice* device = new GlDevice(target_width, target_height);
  if (!device->create()) {
    device->Release();
    return nullptr;
  }
  return device;
}

void clearGlTarget(IDirect3DDevice7* device, DWORD flags) {
  if (GlDevice* gl_device = dynamic_cast<GlDevice*>(device)) gl_device->clear(flags);
}

void setGlStateShadowing(IDirect3DDevice7* device, bool enabled) {
  if (GlDevice* gl_device = dynamic_cast<GlDevice*>(device)) gl_device->shadowing = enabled;
}

GlDeviceCounters glDeviceCounters(IDirect3DDevice7* device) {
  GlDevice* gl_device = dynamic_cast<GlDevice*>(device);
  return gl_device ? gl_device->counters : GlDeviceCounters{};
}
