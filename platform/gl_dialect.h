// The build's GL, for the GL device and the GL context: OpenGL 3.3 core with GLSL 3.30 natively, OpenGL
// ES 3.0 (WebGL 2) with GLSL ES 3.00 in the page, whose build defines NARVU_GL_ES. Both are written
// against Khronos' core header and keep to what the two offer; kGlEs chooses where they differ: the
// shaders' version line and precision, what every ES 3.0 driver has (5-6-5 textures, immutable texture
// storage), the depth formats asked for, and reading pictures back as RGBA.
#pragma once

// Khronos' header takes its calling convention from <windows.h> on Windows unless APIENTRY is defined,
// and <windows.h> must not meet platform/win32.h. x86-64 has one calling convention, so an empty
// APIENTRY is right in every build.
#ifndef APIENTRY
#define APIENTRY
#endif
#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#ifdef NARVU_GL_ES
constexpr bool kGlEs = true;
#else
constexpr bool kGlEs = false;
#endif
