// The platform stand-ins: the Windows, Direct3D 7, D3DX and sound-library calls that the show makes,
// with their names, types and constants, implemented on SDL2, OpenGL 3.3 core and libopenmpt (in the
// web page on emscripten's HTML5 interface, WebGL 2 and Web Audio: the build picks the files). One
// header per stand-in; this one includes them all, with the settings that this port adds.
//
//   platform/win32.h     the window system: window, messages, message boxes, cursor, clock
//   platform/d3d7.h      Direct3D 7: its types, constants and COM interfaces
//   platform/d3dx.h      the rendering context library: devices, contexts, textures
//   platform/fmod.h      the sound library
//   platform/settings.h  run-time settings and the virtual clock
// Beside them, for tests: platform/devices.h (the recording device and memory vertex buffers) and
// platform/test_hooks.h. Inside platform/ only: platform/platform_local.h.
//
// Nothing outside platform/ includes SDL, GL, EGL, libopenmpt or emscripten's headers; everything the
// show needs of them is behind these headers. (capture/, above this layer, uses POSIX for its child processes.)
#pragma once

#include "platform/d3d7.h"
#include "platform/d3dx.h"
#include "platform/fmod.h"
#include "platform/settings.h"
#include "platform/win32.h"
