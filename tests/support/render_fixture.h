// What the renderer's tests share: the recording device and the two memory vertex buffers installed as
// the show's rendering objects, a context whose depth clear lands in the device's log, and small
// scenes built in memory (a camera at the origin looking along its own -y, objects 10 units ahead).
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/devices.h"
#include "render/render.h"
#include "scene_builder.h"
#include "shell/shell.h"

// A context without a picture; Clear is logged with the device's calls, so one frame's whole order
// can be read from one log.
class LoggingContext : public ID3DXContext {
 public:
  explicit LoggingContext(RecordingDevice* recorder) : recorder(recorder) {}
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  IDirect3D7* GetD3D() override { return nullptr; }
  IDirect3DDevice7* GetD3DDevice() override { return recorder; }
  HRESULT UpdateFrame(DWORD) override { return S_OK; }
  HRESULT Clear(DWORD flags) override {
    recorder->calls.push_back("Clear " + std::to_string(flags));
    return S_OK;
  }
  RecordingDevice* recorder;
};

// The recording device, also keeping the vertices of the last DrawPrimitive (the overlay's quad).
class QuadKeepingDevice : public RecordingDevice {
 public:
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                        DWORD flags) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(vertices);
    last_vertices.assign(bytes, bytes + fvfVertexSize(fvf) * vertex_count);
    return RecordingDevice::DrawPrimitive(type, fvf, vertices, vertex_count, flags);
  }
  std::vector<uint8_t> last_vertices;
};

class RenderTest : public testing::Test {
 protected:
  void SetUp() override {
    recorder = new QuadKeepingDevice;
    device = recorder;
    logging_context = new LoggingContext(recorder);
    context = logging_context;
    object_vertex_buffer = objects_buffer = new MemoryVertexBuffer(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2, 50000);
    skybox_vertex_buffer = skybox_buffer = new MemoryVertexBuffer(D3DFVF_LVERTEX, 192);
    overlay_hook = nullptr;
  }
  void TearDown() override {
    recorder->Release();
    objects_buffer->Release();
    skybox_buffer->Release();
    delete logging_context;
    device = nullptr;
    context = nullptr;
    object_vertex_buffer = skybox_vertex_buffer = nullptr;
    overlay_hook = nullptr;
  }
  // The log from the first line equal to `from` on (the whole log when absent).
  std::vector<std::string> callsFrom(const std::string& from) const {
    auto& calls = recorder->calls;
    size_t start = 0;
    while (start < calls.size() && calls[start] != from) ++start;
    if (start == calls.size()) start = 0;
    return std::vector<std::string>(calls.begin() + long(start), calls.end());
  }

  QuadKeepingDevice* recorder = nullptr;
  LoggingContext* logging_context = nullptr;
  MemoryVertexBuffer* objects_buffer = nullptr;
  MemoryVertexBuffer* skybox_buffer = nullptr;
  SceneBuilder built;
};
