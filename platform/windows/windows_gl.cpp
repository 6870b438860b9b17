// GL above 1.1 on Windows: opengl32.dll exports GL 1.1 alone, and the driver gives the rest through the
// context once one is current. Each function the GL device and context call beyond 1.1 is defined here
// under its own name, forwarding to the driver's entry point, which findGlFunctions looks up; the
// stand-ins call GL as they do natively, where libGL exports everything.
#include "platform/platform_local.h"

// Every such function, with its parameters and the arguments it forwards: (type, name, parameters,
// arguments). A GL call beyond 1.1 that the device starts to make and that is missing here fails to
// link in the Windows build.
#define NARVU_GL_ENTRY_POINTS(X)                                                                                       \
  X(void, glActiveTexture, (GLenum texture), (texture))                                                                \
  X(void, glAttachShader, (GLuint program, GLuint shader), (program, shader))                                          \
  X(void, glBindBuffer, (GLenum target, GLuint buffer), (target, buffer))                                              \
  X(void, glBindBufferRange, (GLenum target, GLuint index, GLuint buffer, GLintptr offset, GLsizeiptr size),           \
    (target, index, buffer, offset, size))                                                                             \
  X(void, glBindFramebuffer, (GLenum target, GLuint framebuffer), (target, framebuffer))                               \
  X(void, glBindRenderbuffer, (GLenum target, GLuint renderbuffer), (target, renderbuffer))                            \
  X(void, glBindSampler, (GLuint unit, GLuint sampler), (unit, sampler))                                               \
  X(void, glBindVertexArray, (GLuint array), (array))                                                                  \
  X(void, glBlitFramebuffer,                                                                                           \
    (GLint srcX0, GLint srcY0, GLint srcX1, GLint srcY1, GLint dstX0, GLint dstY0, GLint dstX1, GLint dstY1,           \
     GLbitfield mask, GLenum filter),                                                                                  \
    (srcX0, srcY0, srcX1, srcY1, dstX0, dstY0, dstX1, dstY1, mask, filter))                                            \
  X(void, glBufferData, (GLenum target, GLsizeiptr size, const void* data, GLenum usage), (target, size, data, usage)) \
  X(void, glBufferSubData, (GLenum target, GLintptr offset, GLsizeiptr size, const void* data),                        \
    (target, offset, size, data))                                                                                      \
  X(GLenum, glCheckFramebufferStatus, (GLenum target), (target))                                                       \
  X(GLenum, glClientWaitSync, (GLsync sync, GLbitfield flags, GLuint64 timeout), (sync, flags, timeout))               \
  X(void, glCompileShader, (GLuint shader), (shader))                                                                  \
  X(GLuint, glCreateProgram, (void), ())                                                                               \
  X(GLuint, glCreateShader, (GLenum type), (type))                                                                     \
  X(void, glDeleteBuffers, (GLsizei n, const GLuint* buffers), (n, buffers))                                           \
  X(void, glDeleteFramebuffers, (GLsizei n, const GLuint* framebuffers), (n, framebuffers))                            \
  X(void, glDeleteProgram, (GLuint program), (program))                                                                \
  X(void, glDeleteRenderbuffers, (GLsizei n, const GLuint* renderbuffers), (n, renderbuffers))                         \
  X(void, glDeleteSamplers, (GLsizei count, const GLuint* samplers), (count, samplers))                                \
  X(void, glDeleteShader, (GLuint shader), (shader))                                                                   \
  X(void, glDeleteSync, (GLsync sync), (sync))                                                                         \
  X(void, glDeleteVertexArrays, (GLsizei n, const GLuint* arrays), (n, arrays))                                        \
  X(void, glEnableVertexAttribArray, (GLuint index), (index))                                                          \
  X(GLsync, glFenceSync, (GLenum condition, GLbitfield flags), (condition, flags))                                     \
  X(void, glFramebufferRenderbuffer,                                                                                   \
    (GLenum target, GLenum attachment, GLenum renderbuffertarget, GLuint renderbuffer),                                \
    (target, attachment, renderbuffertarget, renderbuffer))                                                            \
  X(void, glGenBuffers, (GLsizei n, GLuint * buffers), (n, buffers))                                                   \
  X(void, glGenFramebuffers, (GLsizei n, GLuint * framebuffers), (n, framebuffers))                                    \
  X(void, glGenRenderbuffers, (GLsizei n, GLuint * renderbuffers), (n, renderbuffers))                                 \
  X(void, glGenSamplers, (GLsizei count, GLuint * samplers), (count, samplers))                                        \
  X(void, glGenVertexArrays, (GLsizei n, GLuint * arrays), (n, arrays))                                                \
  X(void, glGetProgramInfoLog, (GLuint program, GLsizei bufSize, GLsizei * length, GLchar * infoLog),                  \
    (program, bufSize, length, infoLog))                                                                               \
  X(void, glGetProgramiv, (GLuint program, GLenum pname, GLint * params), (program, pname, params))                    \
  X(void, glGetRenderbufferParameteriv, (GLenum target, GLenum pname, GLint * params), (target, pname, params))        \
  X(void, glGetShaderInfoLog, (GLuint shader, GLsizei bufSize, GLsizei * length, GLchar * infoLog),                    \
    (shader, bufSize, length, infoLog))                                                                                \
  X(void, glGetShaderiv, (GLuint shader, GLenum pname, GLint * params), (shader, pname, params))                       \
  X(const GLubyte*, glGetStringi, (GLenum name, GLuint index), (name, index))                                          \
  X(GLuint, glGetUniformBlockIndex, (GLuint program, const GLchar* uniformBlockName), (program, uniformBlockName))     \
  X(GLint, glGetUniformLocation, (GLuint program, const GLchar* name), (program, name))                                \
  X(void, glLinkProgram, (GLuint program), (program))                                                                  \
  X(void, glRenderbufferStorage, (GLenum target, GLenum internalformat, GLsizei width, GLsizei height),                \
    (target, internalformat, width, height))                                                                           \
  X(void, glRenderbufferStorageMultisample,                                                                            \
    (GLenum target, GLsizei samples, GLenum internalformat, GLsizei width, GLsizei height),                            \
    (target, samples, internalformat, width, height))                                                                  \
  X(void, glSamplerParameterf, (GLuint sampler, GLenum pname, GLfloat param), (sampler, pname, param))                 \
  X(void, glSamplerParameteri, (GLuint sampler, GLenum pname, GLint param), (sampler, pname, param))                   \
  X(void, glShaderSource, (GLuint shader, GLsizei count, const GLchar* const* string, const GLint* length),            \
    (shader, count, string, length))                                                                                   \
  X(void, glTexStorage2D, (GLenum target, GLsizei levels, GLenum internalformat, GLsizei width, GLsizei height),       \
    (target, levels, internalformat, width, height))                                                                   \
  X(void, glUniform1i, (GLint location, GLint v0), (location, v0))                                                     \
  X(void, glUniformBlockBinding, (GLuint program, GLuint uniformBlockIndex, GLuint uniformBlockBinding),               \
    (program, uniformBlockIndex, uniformBlockBinding))                                                                 \
  X(void, glUseProgram, (GLuint program), (program))                                                                   \
  X(void, glVertexAttrib4f, (GLuint index, GLfloat x, GLfloat y, GLfloat z, GLfloat w), (index, x, y, z, w))           \
  X(void, glVertexAttribPointer,                                                                                       \
    (GLuint index, GLint size, GLenum type, GLboolean normalized, GLsizei stride, const void* pointer),                \
    (index, size, type, normalized, stride, pointer))

#define NARVU_GL_POINTER(type, name, parameters, arguments) static type(APIENTRYP name##_entry) parameters = nullptr;
#define NARVU_GL_FORWARD(type, name, parameters, arguments) \
  type APIENTRY name parameters { return name##_entry arguments; }
NARVU_GL_ENTRY_POINTS(NARVU_GL_POINTER)
NARVU_GL_ENTRY_POINTS(NARVU_GL_FORWARD)

bool findGlFunctions(GlFunctionLookup lookup, std::string* problem) {
  std::string missing;
#define NARVU_GL_FIND(type, name, parameters, arguments)                  \
  name##_entry = reinterpret_cast<decltype(name##_entry)>(lookup(#name)); \
  if (!name##_entry) missing += (missing.empty() ? "" : ", ") + std::string(#name);
  NARVU_GL_ENTRY_POINTS(NARVU_GL_FIND)
  if (missing.empty()) return true;
  *problem = "the driver's OpenGL lacks " + missing;
  return false;
}
