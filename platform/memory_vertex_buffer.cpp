// Vertex buffers in system memory, as the show asks for them, and the Direct3D object that makes them
// for both devices: the recording device only names them, the GL device streams their contents.
#include "platform/platform_local.h"

DWORD fvfVertexSize(DWORD fvf) {
  switch (fvf) {
    case D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2:
      return 40;
    case D3DFVF_TLVERTEX:
      return 32;
    case D3DFVF_LVERTEX:
      return 32;
    default:
      return 0;
  }
}

MemoryVertexBuffer::MemoryVertexBuffer(DWORD format, DWORD count)
    : fvf(format),
      vertex_count(count),
      vertex_size(fvfVertexSize(format)),
      bytes(size_t(count) * fvfVertexSize(format)) {}

HRESULT MemoryVertexBuffer::Lock(DWORD, void** data, DWORD* size) {
  if (!data || locked) return DDERR_INVALIDPARAMS;
  locked = true;
  *data = bytes.data();
  if (size) *size = DWORD(bytes.size());
  return S_OK;
}

HRESULT MemoryVertexBuffer::Unlock() {
  if (!locked) return DDERR_INVALIDPARAMS;
  locked = false;
  ++generation;
  return S_OK;
}

HRESULT MemoryDirect3D::CreateVertexBuffer(D3DVERTEXBUFFERDESC* description, IDirect3DVertexBuffer7** buffer, DWORD) {
  if (!description || !buffer || fvfVertexSize(description->dwFVF) == 0 || description->dwNumVertices == 0)
    return DDERR_INVALIDPARAMS;
  *buffer = new MemoryVertexBuffer(description->dwFVF, description->dwNumVertices);
  return S_OK;
}
