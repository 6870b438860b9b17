// Inside the GL device: its class and the records it keeps, shared by the files that implement it.
//
//   gl_device.cpp    creation, the draw calls and the streaming of vertices and indices into GL
//   gl_programs.cpp  the shader program for each state combination: its key, its build, the cache
//   gl_state.cpp     turning the device state into GL state at a draw: blending, depth, culling,
//                    textures, samplers and the uniform block of matrices, lights and material
//   gl_shaders.cpp   the shader sources
//
// Every call expects the context's GL context to be current on the calling (main) thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/gl_dialect.h"
#include "platform/platform_local.h"

enum VertexKind { kLitVertex = 0, kScreenVertex = 1, kColouredVertex = 2, kVertexKindCount = 3 };

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

struct StageKey {
  uint8_t colour_op, colour_arg1, colour_arg2, alpha_op, alpha_arg1, alpha_arg2, texture, uv_set;
  uint8_t border;  // 1: u, 2: v addressed with the border colour (the shader's, for ES has no border)
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
  DeviceState first_use;  // the device state of the draw that built it
};

// A buffer written front to back and orphaned when full; or, where the backend asks
// (kGlStreamsReplaceStorage), given new storage at every upload, which then starts at offset 0.
struct StreamBuffer {
  GLuint name;
  GLenum target;
  size_t size;
  size_t offset;
  uint32_t epoch;  // counts new storage: an older epoch's offsets point into storage that is gone
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
  GLenum active_texture;
  GLuint texture[2];
  SamplerState sampler[2];
  size_t block_offset;
};

// The last vertex-buffer range streamed, so a buffer drawn again unchanged is not sent again.
struct StreamedRange {
  MemoryVertexBuffer* buffer;  // holds a reference, so the address cannot come back as another buffer
  uint32_t generation;
  DWORD first, count;
  size_t offset;
  uint32_t epoch;
};

static_assert(sizeof(DeviceBlock) == 1216, "the uniform block's std140 layout");

class GlDevice : public ShadowDevice {
 public:
  GlDevice(int width, int height) : target_width(width), target_height(height) {}
  bool create();
  void createVertexArrays();

  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE which, DWORD value) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count, DWORD flags) override;
  HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex, DWORD vertex_count,
                          DWORD flags) override;
  HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                 DWORD vertex_count, WORD* indices, DWORD index_count, DWORD flags) override;

  void clear(DWORD flags);
  void uploadFilledLevel(TextureSurface* texture, size_t index);
  int rebuildPrograms();

  bool shadowing = true;
  bool replacing_streams = kGlStreamsReplaceStorage;
  GlDeviceCounters counters = {};

 private:
  ~GlDevice() override;

  HRESULT draw(GLenum mode, int kind, const uint8_t* vertices, DWORD vertex_count, const WORD* indices,
               DWORD index_count, MemoryVertexBuffer* source, DWORD source_first);
  bool applyState(int kind);
  void applyBlend();
  void applyDepth();
  void applyCulling();
  void makeProgramKey(int kind, ProgramKey* key);
  void makeLightingKey(int kind, ProgramKey* key);
  GLuint program(const ProgramKey& key);
  GLuint buildProgram(const ProgramKey& key);
  void updateBlock(const ProgramKey& key);
  bool updateBlockMatrices(bool all);
  bool updateBlockLights(bool all);
  bool updateBlockValues();
  void bindStageTexture(int stage, TextureSurface* texture);
  void uploadTexture(TextureSurface* texture, bool fresh);
  void uploadLevel(TextureSurface* texture, size_t index, bool define);
  void setSampler(int stage, TextureSurface* texture);
  size_t stream(StreamBuffer& buffer, const void* data, size_t bytes, size_t alignment);
  void drawNoArea(int kind, const uint8_t* vertex);
  void setEnable(GLenum capability, GLint enable, GLint* shadow);
  // Hands GL `wanted` through `set` unless GL has it already (with shadowing on), and remembers it.
  template <typename Value, typename Set>
  void change(Value* had, Value wanted, Set set) {
    if (shadowing && *had == wanted) return;
    set(wanted);
    *had = wanted;
    ++counters.state_calls;
  }
  TextureSurface* surfaceOf(int stage);

  int target_width, target_height;
  GLuint vertex_arrays[kVertexKindCount] = {};
  GLuint samplers[2] = {};
  StreamBuffer vertex_stream = {}, index_stream = {}, block_stream = {};
  size_t block_alignment = 256;
  bool has_rgb565 = false;
  bool has_texture_storage = false;
  float max_anisotropy = 0;  // 0: anisotropic filtering not offered
  std::vector<Program> programs;
  size_t last_program = 0;
  GlShadow gl;
  StreamedRange streamed = {};
  std::vector<uint8_t> upload_texels;      // a texture level in GL's order of colours, as it goes up
  std::vector<uint32_t> rebased_indices;  // a draw's indices moved to its first vertex, reused draw after draw

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

// The GL value a Direct3D code stands for, from a table indexed by the code; `otherwise` past its end.
template <typename Value, size_t count>
Value glValueOf(const Value (&table)[count], DWORD code, Value otherwise) {
  return code < count ? table[code] : otherwise;
}
// Reports GL errors after `where` on standard error in debug builds; nothing in release builds.
void checkGlErrors(const char* where);
// Bytes of one vertex of a kind.
GLsizei vertexStride(int kind);
