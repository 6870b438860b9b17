// The GL device: what a Direct3D 7 device shows for every call and state the show makes, drawn with
// OpenGL 3.3 core.
//
// This file holds the device's life and its draw calls. A draw turns the device's state into GL state
// (gl_state.cpp) with the program for its state combination (gl_programs.cpp). Vertices and indices
// live in application memory (the vertex buffers are system memory, as the show asks for); each draw
// streams the vertices it uses into one ring buffer per kind of data, mapped without synchronisation
// and orphaned when full, so llvmpipe never waits for earlier draws. While the device prepares
// (setDevicePreparing), a draw applies its state the same way and then draws a triangle of no area.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/gl_device.h"

static int vertexKind(DWORD fvf) {
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

static const GLenum kPrimitiveModes[] = {
    GL_NONE,  // 0: no such type
    GL_POINTS, GL_LINES, GL_LINE_STRIP, GL_TRIANGLES, GL_TRIANGLE_STRIP, GL_TRIANGLE_FAN,
};

static GLenum primitiveMode(D3DPRIMITIVETYPE type) { return glValueOf(kPrimitiveModes, type, GLenum(GL_NONE)); }

#ifndef NDEBUG
void checkGlErrors(const char* where) {
  for (GLenum error = glGetError(); error != GL_NO_ERROR; error = glGetError())
    std::fprintf(stderr, "narvu: GL error 0x%04x after %s\n", unsigned(error), where);
}
#else
void checkGlErrors(const char*) {}
#endif

static bool hasExtension(const char* name) {
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  for (GLint i = 0; i < count; ++i) {
    const char* extension = reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, GLuint(i)));
    if (extension && std::strcmp(extension, name) == 0) return true;
  }
  return false;
}

// Each format's attributes point into the vertex ring from its start; a draw picks its vertices with
// the first-vertex or base-vertex argument. The index ring is part of every vertex array's state.
void GlDevice::createVertexArrays() {
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
      // D3DCOLOR is B, G, R, A in memory; the vertex shader swaps red and blue (OpenGL ES takes no
      // GL_BGRA attribute size).
      attribute(2, 4, GL_UNSIGNED_BYTE, GL_TRUE, 16);
      attribute(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, 20);
      attribute(4, 2, GL_FLOAT, GL_FALSE, 24);
    }
  }
  // What a format without the attribute reads: no normal, white diffuse, no specular, coordinates 0
  // (the colours as they are stored, B, G, R, A).
  glVertexAttrib4f(1, 0, 0, 0, 0);
  glVertexAttrib4f(2, 1, 1, 1, 1);
  glVertexAttrib4f(3, 0, 0, 0, 0);
  glVertexAttrib4f(5, 0, 0, 0, 1);
}

bool GlDevice::create() {
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  has_rgb565 = kGlEs || major * 10 + minor >= 41 || hasExtension("GL_ARB_ES2_compatibility");
  has_texture_storage = kGlEs || major * 10 + minor >= 42 || hasExtension("GL_ARB_texture_storage");
  if (major * 10 + minor >= 46 || hasExtension("GL_ARB_texture_filter_anisotropic") ||
      hasExtension("GL_EXT_texture_filter_anisotropic"))
    glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY, &max_anisotropy);
  GLint alignment = 0;
  glGetIntegerv(GL_UNIFORM_BUFFER_OFFSET_ALIGNMENT, &alignment);
  if (alignment > 0) block_alignment = size_t(alignment);

  StreamBuffer* streams[] = {&vertex_stream, &index_stream, &block_stream};
  const GLenum targets[] = {GL_ARRAY_BUFFER, GL_ELEMENT_ARRAY_BUFFER, GL_UNIFORM_BUFFER};
  const size_t sizes[] = {8u << 20, 4u << 20, 1u << 20};
  glGenVertexArrays(kVertexKindCount, vertex_arrays);
  glBindVertexArray(vertex_arrays[0]);
  for (int i = 0; i < 3; ++i) {
    glGenBuffers(1, &streams[i]->name);
    streams[i]->target = targets[i];
    streams[i]->size = sizes[i];
    glBindBuffer(targets[i], streams[i]->name);
    glBufferData(targets[i], GLsizeiptr(sizes[i]), nullptr, GL_STREAM_DRAW);
  }

  createVertexArrays();

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

size_t GlDevice::stream(StreamBuffer& buffer, const void* data, size_t bytes, size_t alignment) {
  if (replacing_streams) {
    glBufferData(buffer.target, GLsizeiptr(bytes), data, GL_STREAM_DRAW);
    ++buffer.epoch;
    buffer.offset = buffer.size;  // a ring that follows starts on storage of its own
    return 0;
  }
  size_t offset = (buffer.offset + alignment - 1) / alignment * alignment;
  if (offset + bytes > buffer.size) {
    // Orphan: GL keeps the old storage for the draws that read it and hands us fresh storage.
    buffer.size = std::max(buffer.size, bytes);
    glBufferData(buffer.target, GLsizeiptr(buffer.size), nullptr, GL_STREAM_DRAW);
    offset = 0;
    ++buffer.epoch;
  }
  // Only ever into a range no draw has read since the last orphaning, so the driver need not wait.
  glBufferSubData(buffer.target, GLintptr(offset), GLsizeiptr(bytes), data);
  buffer.offset = offset + bytes;
  return offset;
}

// A triangle whose three corners are all `vertex`: it covers no pixel, yet the driver readies everything
// a draw in the current state needs (llvmpipe generates the code of the state's shaders then).
void GlDevice::drawNoArea(int kind, const uint8_t* vertex) {
  size_t stride = size_t(vertexStride(kind));
  uint8_t corners[3 * 40];
  for (size_t i = 0; i < 3; ++i) std::memcpy(corners + i * stride, vertex, stride);
  size_t offset = stream(vertex_stream, corners, 3 * stride, stride);
  glDrawArrays(GL_TRIANGLES, GLint(offset / stride), 3);
}

HRESULT GlDevice::draw(GLenum mode, int kind, const uint8_t* vertices, DWORD vertex_count, const WORD* indices,
                       DWORD index_count, MemoryVertexBuffer* source, DWORD source_first) {
  if (vertex_count == 0 || (indices && index_count == 0)) return S_OK;
  if (indices) {
    WORD largest = 0;
    for (DWORD i = 0; i < index_count; ++i) largest = std::max(largest, indices[i]);
    if (largest >= vertex_count) return DDERR_INVALIDPARAMS;
  }
  if (preparing) {
    if (!applyState(kind)) return E_FAIL;
    drawNoArea(kind, vertices);
    return S_OK;
  }
  if (!drawing) return S_OK;
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
  if (indices && first_vertex == 0) {
    size_t offset = stream(index_stream, indices, index_count * sizeof(WORD), sizeof(WORD));
    glDrawElements(mode, GLsizei(index_count), GL_UNSIGNED_SHORT, reinterpret_cast<const void*>(offset));
  } else if (indices) {
    // The indices are moved to the draw's first vertex in the ring as they are streamed, in 32 bits, for
    // the moved ones may pass 65535: OpenGL ES (WebGL 2) has no base vertex to draw with.
    rebased_indices.resize(index_count);
    for (DWORD i = 0; i < index_count; ++i) rebased_indices[i] = uint32_t(first_vertex) + indices[i];
    size_t offset = stream(index_stream, rebased_indices.data(), index_count * sizeof(uint32_t), sizeof(uint32_t));
    glDrawElements(mode, GLsizei(index_count), GL_UNSIGNED_INT, reinterpret_cast<const void*>(offset));
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
  if (!drawing || preparing) return;
  GLbitfield mask = 0;
  if (flags & D3DCLEAR_ZBUFFER) {
    if (gl.depth_mask != 1) {
      glDepthMask(GL_TRUE);
      gl.depth_mask = 1;
      ++counters.state_calls;
    }
    mask |= GL_DEPTH_BUFFER_BIT;  // to GL's clear depth, 1.0, which nothing changes
  }
  if (flags & D3DCLEAR_TARGET) {
    glClearColor(0, 0, 0, 0);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (mask) glClear(mask);
  checkGlErrors("clear");
}

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

void uploadFilledGlLevel(IDirect3DDevice7* device, TextureSurface* texture, size_t level) {
  if (GlDevice* gl_device = dynamic_cast<GlDevice*>(device)) gl_device->uploadFilledLevel(texture, level);
}

void setGlStateShadowing(IDirect3DDevice7* device, bool enabled) {
  if (GlDevice* gl_device = dynamic_cast<GlDevice*>(device)) gl_device->shadowing = enabled;
}

void setGlStreamsReplacing(IDirect3DDevice7* device, bool replacing) {
  if (GlDevice* gl_device = dynamic_cast<GlDevice*>(device)) gl_device->replacing_streams = replacing;
}

int rebuildGlPrograms(IDirect3DDevice7* device) {
  GlDevice* gl_device = dynamic_cast<GlDevice*>(device);
  return gl_device ? gl_device->rebuildPrograms() : 0;
}

GlDeviceCounters glDeviceCounters(IDirect3DDevice7* device) {
  GlDevice* gl_device = dynamic_cast<GlDevice*>(device);
  return gl_device ? gl_device->counters : GlDeviceCounters{};
}

