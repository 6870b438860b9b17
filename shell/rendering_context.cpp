// The base device state set once after the context is created, the two shared vertex buffers, and the
// release of the rendering objects on the early-exit path.
#include "shell/shell.h"

static const DWORD kObjectBufferVertices = 50000;
static const DWORD kSkyboxBufferVertices = 192;

void setUpDevice() {
  // The base state every drawing step returns to. Results are not tested: a state the device refuses
  // costs its part of the picture, nothing more.
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CCW);
  device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
  device->SetRenderState(D3DRENDERSTATE_CLIPPING, TRUE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, TRUE);
  for (DWORD stage = 0; stage < 2; ++stage) {
    device->SetTextureStageState(stage, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    device->SetTextureStageState(stage, D3DTSS_MINFILTER, D3DTFN_LINEAR);
    device->SetTextureStageState(stage, D3DTSS_MIPFILTER, D3DTFP_POINT);
  }
  D3DVERTEXBUFFERDESC objects = {16, D3DVBCAPS_SYSTEMMEMORY, D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2,
                                 kObjectBufferVertices};
  direct3d->CreateVertexBuffer(&objects, &object_vertex_buffer, 0);
  D3DVERTEXBUFFERDESC skybox = {16, D3DVBCAPS_SYSTEMMEMORY, D3DFVF_LVERTEX, kSkyboxBufferVertices};
  direct3d->CreateVertexBuffer(&skybox, &skybox_vertex_buffer, 0);
}

void releaseRenderingContext() {
  if (direct3d) direct3d->Release();
  if (device) device->Release();
  direct3d = nullptr;
  device = nullptr;
  D3DXUninitialize();
}
