// The devices behind the Direct3D 7 interfaces: the state shadow every device keeps, the recording
// (null) device that draws nothing and logs every call, and the vertex buffers in system memory that
// both devices draw from, with the Direct3D object that makes them. The OpenGL device builds on the
// shadow (platform/gl_device.h); tests draw on the recording device and read its log. Implemented in
// platform/shadow_device.cpp, recording_device.cpp and memory_vertex_buffer.cpp.
#pragma once

#include <string>
#include <vector>

#include "platform/d3d7.h"

// Every state a device has been given: what the Set calls last stored, starting from the Direct3D 7
// defaults. Both devices keep one; the GL device compares it with what GL was last given.
struct DeviceState {
  DWORD render[kRenderStateCount];
  DWORD stage[kTextureStageCount][kTextureStageStateCount];
  IDirectDrawSurface7* texture[kTextureStageCount];
  D3DMATRIX world, view, projection;
  D3DLIGHT7 light[kMaxLights];
  bool light_enabled[kMaxLights];
  D3DMATERIAL7 material;
  bool in_scene;
};
void setDefaultDeviceState(DeviceState* state);

// The part of a device that every implementation shares: reference count, the state shadow, the
// Set/Get calls and the scene bracket. Draw calls are the implementation's.
class ShadowDevice : public ReferenceCounted<IDirect3DDevice7> {
 public:
  ShadowDevice();
  HRESULT BeginScene() override;
  HRESULT EndScene() override;  // advances the virtual clock
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD* value) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetLight(DWORD index, D3DLIGHT7* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT SetMaterial(D3DMATERIAL7* material) override;

  // Starts or ends a preparation (setDevicePreparing); ending one puts back the state it began with.
  void prepare(bool preparing);

  DeviceState state;
  bool drawing = true;     // false: states are kept, nothing is drawn or cleared (setDeviceDrawing)
  bool preparing = false;  // true: draws make ready what they need, nothing is drawn or cleared

 private:
  DeviceState state_before_preparing;
};

// The null device: draws nothing and logs every call with its arguments in Direct3D's names, one line a
// call, e.g. "SetRenderState ALPHABLENDENABLE TRUE", "SetTexture 0 texture#3",
// "DrawIndexedPrimitiveVB TRIANGLELIST buffer#1 0 12 36 0" (platform/recording_device.cpp). Textures
// and buffers are named by the order in which the log first saw them.
class RecordingDevice : public ShadowDevice {
 public:
  HRESULT BeginScene() override;
  HRESULT EndScene() override;
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
  HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE state, DWORD value) override;
  HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) override;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
  HRESULT SetLight(DWORD index, D3DLIGHT7* light) override;
  HRESULT LightEnable(DWORD index, BOOL enable) override;
  HRESULT SetMaterial(D3DMATERIAL7* material) override;
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertex_count,
                        DWORD flags) override;
  HRESULT DrawPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                          DWORD vertex_count, DWORD flags) override;
  HRESULT DrawIndexedPrimitiveVB(D3DPRIMITIVETYPE type, IDirect3DVertexBuffer7* buffer, DWORD start_vertex,
                                 DWORD vertex_count, WORD* indices, DWORD index_count, DWORD flags) override;

  std::vector<std::string> calls;  // the log, oldest first
  bool recording = true;           // false: keep the shadow, log nothing (benchmarks)
  std::string objectName(const void* object);  // "texture#N", "buffer#N" or "null"

 private:
  std::vector<const void*> named_objects;
  void log(const std::string& line);
};

// A vertex buffer in system memory, as both devices use (platform/memory_vertex_buffer.cpp).
class MemoryVertexBuffer : public ReferenceCounted<IDirect3DVertexBuffer7> {
 public:
  MemoryVertexBuffer(DWORD fvf, DWORD vertex_count);
  HRESULT Lock(DWORD flags, void** data, DWORD* size) override;
  HRESULT Unlock() override;

  DWORD fvf;
  DWORD vertex_count;
  DWORD vertex_size;
  std::vector<uint8_t> bytes;
  bool locked = false;
  uint32_t generation = 0;  // counts unlocks, so a device re-uploads only changed contents
};

// The Direct3D object both devices hand out: it makes MemoryVertexBuffers.
class MemoryDirect3D : public ReferenceCounted<IDirect3D7> {
 public:
  HRESULT CreateVertexBuffer(D3DVERTEXBUFFERDESC* description, IDirect3DVertexBuffer7** buffer,
                             DWORD flags) override;
};
