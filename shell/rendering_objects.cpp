// The rendering objects (see shell/rendering_objects.h): null until selectDevice creates them.
#include "shell/rendering_objects.h"

ID3DXContext* context = nullptr;
IDirect3DDevice7* device = nullptr;
IDirect3D7* direct3d = nullptr;
IDirect3DVertexBuffer7* object_vertex_buffer = nullptr;
IDirect3DVertexBuffer7* skybox_vertex_buffer = nullptr;
