// The rendering objects: the context, its device and Direct3D object, and the two vertex buffers that
// every drawing step shares. selectDevice (shell/device_selection.cpp) writes them once, right after the
// context is created; the texture loader, the renderer and the fade overlay read them; the early-exit
// path releases the device and the Direct3D object. Main thread only.
//
// They belong to the shell, which creates them, but the layers below it draw with them: this header
// includes nothing but the platform, and the build gives it to texture/ and render/ on its own.
#pragma once

#include "platform/platform.h"

extern ID3DXContext* context;
extern IDirect3DDevice7* device;
extern IDirect3D7* direct3d;
extern IDirect3DVertexBuffer7* object_vertex_buffer;  // 50000 RenderVertex, FVF 0x212
extern IDirect3DVertexBuffer7* skybox_vertex_buffer;  // 192 vertices, FVF 0x1E2
